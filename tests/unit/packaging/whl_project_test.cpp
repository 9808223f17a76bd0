#include "packaging/whl.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_names.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(FindActivePyproject, NearestFileWinsAndARepositoryRootEndsTheSearch) {
  TempDir dir;
  fs::path root = dir.path();
  writeFile(root / "pyproject.toml", "");
  fs::create_directories(root / "repo/.git");
  fs::create_directories(root / "repo/src/pkg");
  // .git without a project file stops before the parent's file.
  EXPECT_EQ(find_active_pyproject(root / "repo/src/pkg"), std::nullopt);
  EXPECT_EQ(find_active_pyproject(root / "repo"), std::nullopt);

  writeFile(root / "repo/pyproject.toml", "");
  EXPECT_EQ(find_active_pyproject(root / "repo/src/pkg"), root / "repo/pyproject.toml");
  EXPECT_EQ(find_active_pyproject(root / "repo"), root / "repo/pyproject.toml");
}

TEST(FindActivePyproject, OnlyRegularFilesAndGitDirectoriesCount) {
  TempDir dir;
  fs::path root = dir.path();
  writeFile(root / "pyproject.toml", "");
  writeFile(root / "a/.git", "gitdir: elsewhere"); // a worktree's .git file goes on upwards
  fs::create_directories(root / "a/b/pyproject.toml");
  EXPECT_EQ(find_active_pyproject(root / "a/b"), root / "pyproject.toml");
  fs::create_directories(root / "a/b/.git");
  EXPECT_EQ(find_active_pyproject(root / "a/b"), std::nullopt);
}

TEST(FindActivePyproject, RelativePathsSeeOnlyTheirLexicalAncestors) {
  TempDir dir;
  writeFile(dir.path() / "pyproject.toml", "");
  fs::create_directories(dir.path() / "a/b");
  EXPECT_EQ(find_active_pyproject("a/b"), fs::path("pyproject.toml"));
  EXPECT_EQ(find_active_pyproject("."), fs::path("pyproject.toml"));
  fs::current_path(dir.path() / "a");
  EXPECT_EQ(find_active_pyproject("."), std::nullopt);
}

std::string errorOf(const fs::path& path, const std::optional<std::string>& version = {}) {
  try {
    readProject(path, version);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "no error";
}

// Installers refuse names and versions outside the packaging standards and compare versions in
// their normal form, which the wheel carries.
TEST(ReadProject, NameIsCheckedAndVersionNormalisedAsInstallersDo) {
  TempDir dir;
  writeFile("pyproject.toml", "[project]\nname = \"my-Project\"\nversion = \"1.0-beta\"\n");
  Project project = readProject("pyproject.toml", std::nullopt);
  EXPECT_EQ(project.name, "my-Project");
  EXPECT_EQ(project.version, "1.0b0");
  const std::pair<const char*, const char*> versions[] = {
      {"2.0b1", "2.0b1"},          {"v1.0.RC1", "1.0rc1"},
      {"1!2.01-alpha.3", "1!2.1a3"}, {"0!1.0c", "1.0rc0"},
      {"1.0-1", "1.0.post1"},      {"1.0preview2.r3", "1.0rc2.post3"},
      {" 1.0-dev ", "1.0.dev0"},   {"1.0+Ubuntu-1.007", "1.0+ubuntu.1.7"}};
  for (const auto& [written, normal] : versions)
    EXPECT_EQ(readProject("pyproject.toml", written).version, normal) << written;
  for (const char* bad : {"", "not a version!", "1.0.", "1..0", "1.0+a+b", "1.0_"})
    EXPECT_EQ(errorOf("pyproject.toml", bad),
              "--version is '" + std::string(bad) +
                  "', not a valid version (for example 1.0, 2.1b3, 1.0.post1 or 1.0.dev2)");
  // A version argument makes the file's version optional.
  writeFile("pyproject.toml", "[project]\nname = \"demo\"\n");
  EXPECT_EQ(readProject("pyproject.toml", "3.1").version, "3.1");
  EXPECT_EQ(errorOf("pyproject.toml"), "pyproject.toml: missing key 'version' in [project]");
  for (const char* name : {"my app", "-demo", "demo.", "naïve", ""}) {
    writeFile("pyproject.toml", "[project]\nname = \"" + std::string(name) + "\"\n");
    EXPECT_EQ(errorOf("pyproject.toml", "1"),
              "pyproject.toml: 'name' in [project] is '" + std::string(name) +
                  "', not a valid project name: use ASCII letters, digits, '.', '_' and '-', "
                  "beginning and ending with a letter or digit");
  }
}

TEST(DistributionName, RunsOfSeparatorsBecomeOneUnderscoreInLowerCase) {
  EXPECT_EQ(distributionName("demo"), "demo");
  EXPECT_EQ(distributionName("My.Project-x"), "my_project_x");
  EXPECT_EQ(distributionName("a-_.b__c9"), "a_b_c9");
  EXPECT_EQ(distributionVersion("1.0-beta-2"), "1.0_beta_2");
}

TEST(ReadProject, BadFilesAreReportedWithTheirPath) {
  TempDir dir;
  EXPECT_EQ(errorOf("missing.toml"), "Cannot read 'missing.toml': No such file or directory");
  writeFile("bad.toml", "[project]\nname = \"demo\nversion = 1\n");
  EXPECT_EQ(errorOf("bad.toml"),
            "bad.toml:2:13: invalid TOML: Error while parsing string: unescaped control "
            "characters other than TAB (U+0009) are explicitly prohibited");
  writeFile("empty.toml", "[tool.x]\na = 1\n");
  EXPECT_EQ(errorOf("empty.toml"), "empty.toml: missing table [project]");
  writeFile("scalar.toml", "project = 1\n");
  EXPECT_EQ(errorOf("scalar.toml"), "scalar.toml: 'project' is not a table");
  writeFile("noname.toml", "[project]\nversion = \"1\"\n");
  EXPECT_EQ(errorOf("noname.toml", "1"), "noname.toml: missing key 'name' in [project]");
}

} // namespace
} // namespace quorvex::whl
