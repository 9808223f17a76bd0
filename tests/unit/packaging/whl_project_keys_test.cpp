// The keys [project] and its tables may hold, and its dynamic fields (the refusals a build meets
// before compiling are in the end-to-end tests).
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_project_keys.hpp"
#include "support/log_recorder.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <array>

namespace quorvex::whl {
namespace {

const std::string head = "[project]\nname = \"demo\"\nversion = \"1\"\n";

std::string errorOf(const std::string& text) {
  testing::writeFile("p.toml", text);
  return testing::thrownMessage([] { readProject("p.toml", std::nullopt); });
}

TEST(ProjectKeys, TheNearestKnownKeyIsNamedOnlyWhenClose) {
  testing::TempDir dir;
  const std::string undefined = "', which the pyproject.toml standard does not define; ";
  const std::pair<std::string, std::string> cases[] = {
      {"homepage = \"https://h\"", "[project] holds the key 'homepage" + undefined +
                                       "it lists every key [project] may hold, and a tool's "
                                       "own settings belong in [tool.<name>]"},
      {"readme = {text = \"x\", Content_Type = \"text/plain\"}",
       "'project.readme' holds the key 'Content_Type" + undefined + "did you mean 'content-type'?"},
      {"license = {text = \"MIT\", spdx = \"MIT\"}",
       "'project.license' holds the key 'spdx" + undefined + "it allows only 'file', 'text' there"},
      {"dynamic = [\"readme\", \"dependecies\"]",
       "entry 2 of 'project.dynamic', 'dependecies', names no field of [project]; did you mean "
       "'dependencies'?"},
      {"license = {text = \"MIT\"}\nlicense-files = [\"LICENSE\"]",
       "'project.license' is a table, which the pyproject.toml standard allows only without "
       "'project.license-files': give the licence as an SPDX expression string, or remove "
       "'license-files'"}};
  for (const auto& [lines, message] : cases)
    EXPECT_EQ(errorOf(head + lines + "\n"), "p.toml: " + message) << lines;
  const std::array<std::string_view, 2> people{"name", "email"};
  EXPECT_EQ(closestKey("E_Mail", people), "email");
  EXPECT_EQ(closestKey("home", people), std::nullopt);

  // Every key of the standard is accepted; those METADATA 2.1 has no header for are left out.
  testing::writeFile("p.toml", head + "license-files = [\"LICEN[CS]E*\"]\nimport-names = "
                                      "[\"demo\"]\nimport-namespaces = [\"ns; private\"]\n");
  EXPECT_EQ(metadataText(readProject("p.toml", std::nullopt)),
            "Metadata-Version: 2.1\nName: demo\nVersion: 1\n\n");
}

// Entry points change what installing does only where the wheel carries them: a library's.
TEST(DynamicFields, EntryPointsAreRefusedForALibraryAndOtherFieldsWarnedOfOnce) {
  const toml::table project =
      toml::parse("dynamic = [\"version\", \"urls\", \"scripts\", \"urls\"]");
  EXPECT_NE(testing::thrownMessage([&] { checkDynamicFields("p.toml", project, true); })
                .find("'project.dynamic' lists 'scripts', which a build back-end would compute"),
            std::string::npos);
  testing::LogRecorder log;
  checkDynamicFields("p.toml", project, false);
  EXPECT_EQ(log.messages(log::WARNING),
            (std::vector<std::string>{
                "p.toml: 'project.dynamic' lists 'urls', which this tool does not compute: the "
                "wheel is made without it (write it in [project] to have it)",
                "p.toml: 'project.dynamic' lists 'scripts', which this tool does not compute: "
                "the wheel is made without it (a program's wheel carries no entry points)"}));
}

} // namespace
} // namespace quorvex::whl
