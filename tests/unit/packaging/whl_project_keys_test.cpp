// The keys [project] and its tables may hold, and its dynamic fields (the refusals a build meets
// before compiling are in the end-to-end tests).
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_near_miss.hpp"
#include "packaging/whl_project_keys.hpp"
#include "support/log_recorder.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>

namespace quorvex::whl {
namespace {

const std::string head = "[project]\nname = \"demo\"\nversion = \"1\"\n";

std::string errorOf(const std::string& text) {
  testing::writeFile("p.toml", text);
  return testing::thrownMessage([] { readProject("p.toml", std::nullopt); });
}

// A near miss of a defined key is refused: case, "_" for "-", a letter or two, a singular, the
// words in another order; in [project] and in its people, readme and licence tables alike.
TEST(ProjectKeys, NearMissesAreRefusedNamingTheKeyMeant) {
  testing::TempDir dir;
  const std::string undefined = "', which the pyproject.toml standard does not define; ";
  const std::pair<std::string, std::string> cases[] = {
      {"python_requires = \">=3.9\"",
       "[project] holds the key 'python_requires" + undefined + "did you mean 'requires-python'?"},
      {"author = \"me\"",
       "[project] holds the key 'author" + undefined + "did you mean 'authors'?"},
      {"url = \"https://h\"", "[project] holds the key 'url" + undefined + "did you mean 'urls'?"},
      {"Dependency = [\"six\"]",
       "[project] holds the key 'Dependency" + undefined + "did you mean 'dependencies'?"},
      {"points_entry = {}",
       "[project] holds the key 'points_entry" + undefined + "did you mean 'entry-points'?"},
      {"requires-pyhton = \">=3.9\"",
       "[project] holds the key 'requires-pyhton" + undefined + "did you mean 'requires-python'?"},
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
  EXPECT_EQ(closestKey("emails", people), "email");
  EXPECT_EQ(closestKey("home", people), std::nullopt);
  const std::array<std::string_view, 2> imports{"import-names", "import-namespaces"};
  EXPECT_EQ(closestKey("import_name", imports), "import-names");
  EXPECT_EQ(closestKey("import-paths", imports), std::nullopt) << "three edits are no near miss";

  // One refusal names every such key of the file, a line each, leftovers beside them or not.
  EXPECT_EQ(errorOf(head + "homepage = \"https://h\"\npython_requires = \">=3.9\"\n"
                           "dependecies = []\nauthors = [{name = \"A\", mail = \"a@b.org\"}]\n"),
            "p.toml: [project] holds the key 'python_requires" + undefined +
                "did you mean 'requires-python'?\np.toml: [project] holds the key 'dependecies" +
                undefined + "did you mean 'dependencies'?\np.toml: entry 1 of 'project.authors' "
                "holds the key 'mail" + undefined + "did you mean 'email'?");

  // Every key of the standard is accepted; those METADATA 2.1 has no header for are left out.
  testing::writeFile("p.toml", head + "license-files = [\"LICEN[CS]E*\"]\nimport-names = "
                                      "[\"demo\"]\nimport-namespaces = [\"ns; private\"]\n");
  EXPECT_EQ(metadataText(readProject("p.toml", std::nullopt)),
            "Metadata-Version: 2.1\nName: demo\nVersion: 1\n\n");
}

// Keys that other tools read or earlier metadata defined are passed over with one warning, as
// the projects' own back-ends pass them over; those holding URLs are pointed to [project.urls].
TEST(ProjectKeys, OtherKeysOfTheProjectTableAreWarnedOfOnce) {
  testing::TempDir dir;
  testing::writeFile("p.toml", head + "repository = \"https://github.com/o/r\"\n"
                                      "include = [{path = \"tests\", format = \"sdist\"}]\n"
                                      "links = {Docs = \"https://docs.example\"}\n"
                                      "homepage = \"not a URL\"\n");
  testing::LogRecorder log;
  EXPECT_EQ(metadataText(readProject("p.toml", std::nullopt)),
            "Metadata-Version: 2.1\nName: demo\nVersion: 1\n\n");
  EXPECT_EQ(log.messages(log::WARNING),
            std::vector<std::string>{
                "p.toml: [project] holds the keys 'repository', 'include', 'links' and "
                "'homepage', which the pyproject.toml standard does not define; the build "
                "ignores them. 'repository' and 'links' hold URLs, which belong in "
                "[project.urls] to reach the wheel's METADATA; a tool's own settings belong in "
                "[tool.<name>]"});

  testing::LogRecorder single;
  checkProjectKeys("p.toml", toml::parse("include = [\"tests\"]"));
  EXPECT_EQ(single.messages(log::WARNING),
            std::vector<std::string>{"p.toml: [project] holds the key 'include', which the "
                                     "pyproject.toml standard does not define; the build ignores "
                                     "it; a tool's own settings belong in [tool.<name>]"});

  // Any number of keys: a message names a dozen and counts the others.
  std::string many;
  std::string misspelt;
  for (int i = 0; i < 14; ++i) {
    many += fmt::format("key{} = {}\n", i, i);
    std::string key = "dependencies"; // in a case of its own each time
    for (int bit = 0; bit < 4; ++bit)
      if ((i + 1) >> bit & 1) key[bit] = static_cast<char>(std::toupper(key[bit]));
    misspelt += key + " = []\n";
  }
  testing::LogRecorder counted;
  checkProjectKeys("p.toml", toml::parse(many));
  ASSERT_EQ(counted.messages(log::WARNING).size(), 1u);
  EXPECT_NE(counted.messages(log::WARNING)[0].find("'key10', 'key11' and 2 more, which"),
            std::string::npos)
      << counted.messages(log::WARNING)[0];
  const std::string refused =
      testing::thrownMessage([&] { checkProjectKeys("p.toml", toml::parse(misspelt)); });
  EXPECT_EQ(std::count(refused.begin(), refused.end(), '\n'), 12) << refused;
  EXPECT_TRUE(refused.ends_with("\np.toml: and 2 more keys like these")) << refused;
}

// Scripts change what installing does only where the wheel carries them: a library's; the
// entry point groups every wheel carries.
TEST(DynamicFields, EntryPointsAreRefusedForALibraryAndOtherFieldsWarnedOfOnce) {
  const toml::table project =
      toml::parse("dynamic = [\"version\", \"urls\", \"scripts\", \"urls\", \"import-names\"]");
  EXPECT_NE(testing::thrownMessage([&] { checkDynamicFields("p.toml", project, true); })
                .find("'project.dynamic' lists 'scripts', which a build back-end would compute"),
            std::string::npos);
  EXPECT_NE(testing::thrownMessage([&] {
              checkDynamicFields("p.toml", toml::parse("dynamic = [\"entry-points\"]"), false);
            }).find("'project.dynamic' lists 'entry-points', which a build back-end would compute"),
            std::string::npos);
  testing::LogRecorder log;
  checkDynamicFields("p.toml", project, false);
  EXPECT_EQ(log.messages(log::WARNING),
            (std::vector<std::string>{
                "p.toml: 'project.dynamic' lists 'urls', which this tool does not compute: the "
                "wheel is made without it (write it in [project] to have it)",
                "p.toml: 'project.dynamic' lists 'scripts', which this tool does not compute: "
                "the wheel is made without it (a program's wheel carries no scripts)",
                "p.toml: 'project.dynamic' lists 'import-names', which this tool does not "
                "compute: the wheel is made without it (nor would it carry it written in "
                "[project]: METADATA 2.1 has no field for it)"}));
}

} // namespace
} // namespace quorvex::whl
