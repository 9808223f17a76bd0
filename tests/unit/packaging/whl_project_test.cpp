// The project file as installers read it, and the wheel's tags.
#include "packaging/whl.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_tags.hpp"
#include "support/thrown.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

std::string errorOf(const fs::path& path, const std::optional<std::string>& version = {}) {
  return testing::thrownMessage([&] { readProject(path, version); });
}

TEST(FindActivePyproject, NearestRegularFileWinsAndARepositoryRootEndsTheSearch) {
  TempDir dir;
  const fs::path root = dir.path();
  writeFile(root / "pyproject.toml", "");
  writeFile(root / "a/.git", "gitdir: elsewhere"); // a worktree's .git file goes on upwards
  fs::create_directories(root / "a/b/pyproject.toml");
  EXPECT_EQ(find_active_pyproject(root / "a/b"), root / "pyproject.toml");
  EXPECT_EQ(find_active_pyproject("a/b"), fs::path("pyproject.toml"));
  fs::create_directories(root / "a/b/.git");
  EXPECT_EQ(find_active_pyproject(root / "a/b"), std::nullopt);
  fs::current_path(root / "a");
  EXPECT_EQ(find_active_pyproject("."), std::nullopt) << "only lexical ancestors count";
}

// Installers refuse names and versions outside the packaging standards and compare versions in
// their normal form, which the wheel carries.
TEST(ReadProject, NamesAndVersionsAreCheckedAndNormalisedAsInstallersDo) {
  TempDir dir;
  writeFile("pyproject.toml", "[project]\nname = \"demo\"\n");
  const std::pair<const char*, const char*> versions[] = {
      {"v1.0.RC1", "1.0rc1"},   {"1!2.01-alpha.3", "1!2.1a3"},     {"0!1.0c", "1.0rc0"},
      {"1.0-1", "1.0.post1"},   {"1.0preview2.r3", "1.0rc2.post3"}, {" 1.0-dev ", "1.0.dev0"},
      {"1.0+Ubuntu-1.007", "1.0+ubuntu.1.7"}};
  for (const auto& [written, normal] : versions)
    EXPECT_EQ(readProject("pyproject.toml", written).version, normal) << written;
  for (const char* bad : {"", "not a version!", "1.0.", "1..0", "1.0+a+b", "1.0_"})
    EXPECT_EQ(errorOf("pyproject.toml", bad),
              "--version is '" + std::string(bad) +
                  "', not a valid version (for example 1.0, 2.1b3, 1.0.post1 or 1.0.dev2)");
  for (const char* name : {"my app", "-demo", "demo.", "naïve", ""}) {
    writeFile("pyproject.toml", "[project]\nname = \"" + std::string(name) + "\"\n");
    EXPECT_NE(errorOf("pyproject.toml", "1").find("', not a valid project name: use ASCII"),
              std::string::npos)
        << name;
  }
  const std::pair<const char*, const char*> badFiles[] = {
      {"[project]\nname = \"demo\nversion = 1\n", "bad.toml:2:13: invalid TOML: "},
      {"[tool.x]\na = 1\n", "bad.toml: missing table [project]"},
      {"project = 1\n", "bad.toml: 'project' is not a table"},
      {"[project]\nversion = \"1\"\n", "bad.toml: missing key 'name' in [project]"}};
  for (const auto& [text, message] : badFiles) {
    writeFile("bad.toml", text);
    EXPECT_TRUE(errorOf("bad.toml", "1").starts_with(message)) << errorOf("bad.toml", "1");
  }
  EXPECT_EQ(errorOf("missing.toml"), "Cannot read 'missing.toml': No such file or directory");
}

// abi3 exactly when the code is built against the limited API.
TEST(WheelTags, StableAbiOnlyForNonFreeThreadedLibrariesFrom311) {
  const auto cpython = [](int minor, std::string soabi, std::optional<long long> gil) {
    return InterpreterValues{3, minor, soabi, gil, "linux-x86_64", ""};
  };
  const std::string ft = "cpython-313t-x86_64-linux-gnu";
  const struct {
    InterpreterValues values;
    bool library;
    std::string tags;
  } cases[] = {
      {cpython(12, "cpython-312-x86_64-linux-gnu", 0), false, "cp312-cp312"},
      {cpython(12, "cpython-312-x86_64-linux-gnu", 0), true, "cp312-abi3"},
      {cpython(11, "", std::nullopt), true, "cp311-abi3"},
      {cpython(10, "cpython-310-x86_64-linux-gnu", std::nullopt), true, "cp310-cp310"},
      {cpython(13, ft, 1), true, "cp313-cp313t"},
      {cpython(13, ft, std::nullopt), true, "cp313-cp313t"}, // the ABI name alone tells
  };
  for (const auto& c : cases) {
    WheelTags tags = pythonAbiTags(c.values, c.library);
    EXPECT_EQ(tags.python + "-" + tags.abi, c.tags) << c.values.soabi << " " << c.library;
  }
  EXPECT_EQ(platformName("macosx-11.0-arm64"), "macosx_11_0_arm64");
}

} // namespace
} // namespace quorvex::whl
