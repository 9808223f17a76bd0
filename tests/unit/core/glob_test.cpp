// Path-pattern matching against real directory trees.
#include "core/glob.hpp"
#include "core/host.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <tuple>

namespace fs = std::filesystem;
using quorvex::glob::fnmatch;
using quorvex::glob::glob;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

std::vector<std::string> names(const std::vector<fs::path>& paths) {
  std::vector<std::string> out;
  for (const auto& path : paths) out.push_back(path.generic_string());
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> items) {
  std::sort(items.begin(), items.end());
  return items;
}

std::vector<std::string> listing(const fs::path& directory) {
  std::vector<std::string> out;
  for (const auto& entry : fs::directory_iterator(directory))
    out.push_back(entry.path().filename().string());
  return out;
}

std::string rejection(const std::string& pattern) {
  try {
    glob(".", pattern);
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "accepted";
}

} // namespace

TEST(Fnmatch, WildcardsSetsAndCaseFolding) {
  const std::vector<std::tuple<const char*, const char*, bool>> cases{
      {"main.py", "*.py", true},   {".hidden.py", "*.py", true}, {"main.pyx", "*.py", false},
      {"a1.py", "a?.py", true},    {"a12.py", "a?.py", false},   {"äb", "?b", true}, // 2 bytes
      {"b.py", "[abc].py", true},  {"d.py", "[abc].py", false},  {"d.py", "[!abc].py", true},
      {"m.py", "[a-z].py", true},  {"M.py", "[a-z].py", false},  {"-", "[a-]", true},
      {"]", "[]]", true},          {"[x", "[x", true}, // an unclosed bracket is a plain character
      {"abcabd", "*ab?", true},    {"abc", "ab", false},         {"", "*", true},
      {"Main.PY", "*.py", false},  {"^.py", "[^a].py", true},   {"b.py", "[^a].py", false}};
  for (const auto& [name, pattern, expected] : cases)
    EXPECT_EQ(fnmatch(name, pattern), expected) << name << " " << pattern;
  EXPECT_TRUE(fnmatch("Main.PY", "*.py", false));
  EXPECT_TRUE(fnmatch("Q.py", "[p-r].py", false));
}

TEST(Glob, StarMatchesFilesDirectoriesAndDotNamesOfOneLevelInListingOrder) {
  TempDir dir;
  for (const char* name : {"app.py", ".hidden.py", "notes.txt", "pkg.py/inner.py", "sub/deep.py",
                           "m.py", "c.py"})
    writeFile(name, ""); // pkg.py is a directory whose name ends in .py
  auto expected = listing(".");
  std::erase(expected, "notes.txt");
  std::erase(expected, "sub");
  EXPECT_EQ(names(glob(".", "*.py")), expected);
  EXPECT_EQ(names(glob(".", "*")), listing("."));
  // A trailing separator keeps only directories.
  EXPECT_EQ(sorted(names(glob(".", "*/"))), sorted({"pkg.py", "sub"}));
}

TEST(Glob, DoubleStarCoversTheBaseAndEveryDepthOnceWithoutFollowingLinks) {
  TempDir dir;
  for (const char* name : {"top.py", "a/one.py", "a/b/two.py", "a/b/c/three.py", "a/readme.txt"})
    writeFile(name, "");
  fs::create_directory_symlink("a/b", "link");
  EXPECT_EQ(sorted(names(glob(".", "**/*.py"))),
            sorted({"top.py", "a/one.py", "a/b/two.py", "a/b/c/three.py"}));
  // "**/**" is one "**".
  EXPECT_EQ(sorted(names(glob(".", "**/**/*.py"))), sorted(names(glob(".", "**/*.py"))));
  // "**" alone names directories: the base itself and everything below.
  EXPECT_EQ(sorted(names(glob(".", "**"))), sorted({".", "a", "a/b", "a/b/c"}));
  EXPECT_EQ(names(glob(".", "a/**/three.py")), std::vector<std::string>{"a/b/c/three.py"});
  // A named link is still entered: only the tree walk stays out of links.
  EXPECT_EQ(names(glob(".", "link/*.py")), std::vector<std::string>{"link/two.py"});
}

TEST(Glob, DoubleStarListsSiblingsBeforeDescending) {
  TempDir dir;
  writeFile("d1/x/f.py", "");
  writeFile("d2/y/f.py", "");
  const auto top = listing(".");
  const auto child = [](const std::string& parent) {
    return parent + (parent == "d1" ? "/x" : "/y");
  };
  EXPECT_EQ(names(glob(".", "**")),
            (std::vector<std::string>{".", top.at(0), top.at(1), child(top[0]), child(top[1])}));
}

TEST(Glob, ParentAndLiteralComponents) {
  TempDir dir;
  writeFile("src/app.py", "");
  writeFile("lib/util.py", "");
  EXPECT_EQ(names(glob("src", "../lib/*.py")), std::vector<std::string>{"../lib/util.py"});
  EXPECT_EQ(names(glob("src", "app.py")), std::vector<std::string>{"app.py"});
  EXPECT_TRUE(glob("src", "missing.py").empty());
  // A literal component before the last must be a directory.
  EXPECT_TRUE(glob(".", "src/app.py/x").empty());
  EXPECT_EQ(names(glob(".", "./src//app.py")), std::vector<std::string>{"src/app.py"});
}

TEST(Glob, WindowsHostsMatchWithoutCase) {
  TempDir dir;
  writeFile("Main.PY", "");
  writeFile("Sub/Mod.py", "");
  EXPECT_TRUE(glob(".", "*.py").empty());
  quorvex::host::PlatformOverride windows("win32");
  EXPECT_EQ(names(glob(".", "*.py")), std::vector<std::string>{"Main.PY"});
  // Literal names take the spelling found on disk.
  EXPECT_EQ(names(glob(".", "sub\\mod.py")), std::vector<std::string>{"Sub/Mod.py"});
}

TEST(Glob, RejectsPatternsItCannotUse) {
  const std::string absolute = "': absolute patterns are not supported; give one relative to "
                               "the base directory";
  const std::string doubleStar = "': '**' can only be an entire path component";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"", "': the pattern is empty"},
      {"/usr/*.py", absolute},
      {"src/**.py", doubleStar},
      {"a**/x", doubleStar},
      {"./", "': it names no entry below the base directory"}};
  for (const auto& [pattern, reason] : cases)
    EXPECT_EQ(rejection(pattern), "Invalid source pattern '" + pattern + reason);
  quorvex::host::PlatformOverride windows("win32");
  EXPECT_EQ(rejection("C:x.py"), "Invalid source pattern 'C:x.py" + absolute);
}
