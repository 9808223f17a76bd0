// The source pattern matcher against real directory trees.
#include "core/host.hpp"
#include "frontend/matcher.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;
using quorvex::matcher::fnmatch;
using quorvex::matcher::glob;
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

TEST(Fnmatch, WildcardsAndSets) {
  EXPECT_TRUE(fnmatch("main.py", "*.py"));
  EXPECT_TRUE(fnmatch(".hidden.py", "*.py"));
  EXPECT_FALSE(fnmatch("main.pyx", "*.py"));
  EXPECT_TRUE(fnmatch("a1.py", "a?.py"));
  EXPECT_FALSE(fnmatch("a12.py", "a?.py"));
  EXPECT_TRUE(fnmatch("äb", "?b")); // one character, two bytes
  EXPECT_TRUE(fnmatch("b.py", "[abc].py"));
  EXPECT_FALSE(fnmatch("d.py", "[abc].py"));
  EXPECT_TRUE(fnmatch("d.py", "[!abc].py"));
  EXPECT_TRUE(fnmatch("m.py", "[a-z].py"));
  EXPECT_FALSE(fnmatch("M.py", "[a-z].py"));
  EXPECT_TRUE(fnmatch("-", "[a-]"));
  EXPECT_TRUE(fnmatch("]", "[]]"));
  EXPECT_TRUE(fnmatch("[x", "[x")); // an unclosed bracket is a plain character
  EXPECT_TRUE(fnmatch("abcabd", "*ab?"));
  EXPECT_FALSE(fnmatch("abc", "ab"));
  EXPECT_TRUE(fnmatch("", "*"));
}

TEST(Fnmatch, CaseFolding) {
  EXPECT_FALSE(fnmatch("Main.PY", "*.py"));
  EXPECT_TRUE(fnmatch("Main.PY", "*.py", false));
  EXPECT_TRUE(fnmatch("Q.py", "[p-r].py", false));
}

TEST(Glob, StarMatchesFilesDirectoriesAndDotNamesOfOneLevel) {
  TempDir dir;
  writeFile("app.py", "");
  writeFile(".hidden.py", "");
  writeFile("notes.txt", "");
  writeFile("pkg.py/inner.py", ""); // a directory whose name ends in .py
  writeFile("sub/deep.py", "");
  EXPECT_EQ(sorted(names(glob(".", "*.py"))), sorted({".hidden.py", "app.py", "pkg.py"}));
  EXPECT_EQ(sorted(names(glob(".", "*"))),
            sorted({".hidden.py", "app.py", "notes.txt", "pkg.py", "sub"}));
  // A trailing separator keeps only directories.
  EXPECT_EQ(sorted(names(glob(".", "*/"))), sorted({"pkg.py", "sub"}));
}

TEST(Glob, ResultsFollowTheDirectoryListing) {
  TempDir dir;
  for (const char* name : {"m.py", "c.py", "x.py", "a.py", "q.py"}) writeFile(name, "");
  EXPECT_EQ(names(glob(".", "*.py")), listing("."));
}

TEST(Glob, DoubleStarCoversTheBaseAndEveryDepthOnce) {
  TempDir dir;
  writeFile("top.py", "");
  writeFile("a/one.py", "");
  writeFile("a/b/two.py", "");
  writeFile("a/b/c/three.py", "");
  writeFile("a/readme.txt", "");
  EXPECT_EQ(sorted(names(glob(".", "**/*.py"))),
            sorted({"top.py", "a/one.py", "a/b/two.py", "a/b/c/three.py"}));
  // "**/**" is one "**"; "**/../**"-style revisits are listed once per pattern.
  EXPECT_EQ(sorted(names(glob(".", "**/**/*.py"))), sorted(names(glob(".", "**/*.py"))));
  // "**" alone names directories: the base itself and everything below.
  EXPECT_EQ(sorted(names(glob(".", "**"))), sorted({".", "a", "a/b", "a/b/c"}));
  EXPECT_EQ(names(glob(".", "a/**/three.py")), std::vector<std::string>{"a/b/c/three.py"});
}

TEST(Glob, DoubleStarListsSiblingsBeforeDescending) {
  TempDir dir;
  writeFile("d1/x/f.py", "");
  writeFile("d2/y/f.py", "");
  const auto top = listing(".");
  ASSERT_EQ(top.size(), 2u);
  const auto child = [](const std::string& parent) {
    return parent + (parent == "d1" ? "/x" : "/y");
  };
  const std::vector<std::string> expected{".", top[0], top[1], child(top[0]), child(top[1])};
  EXPECT_EQ(names(glob(".", "**")), expected);
}

TEST(Glob, DoubleStarDoesNotFollowDirectoryLinks) {
  TempDir dir;
  writeFile("real/f.py", "");
  fs::create_directory_symlink("real", "link");
  EXPECT_EQ(names(glob(".", "**/f.py")), std::vector<std::string>{"real/f.py"});
  // A named link is still entered: only the tree walk stays out of links.
  EXPECT_EQ(names(glob(".", "link/*.py")), std::vector<std::string>{"link/f.py"});
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
  EXPECT_EQ(rejection(""), "Invalid source pattern '': the pattern is empty");
  EXPECT_EQ(rejection("/usr/*.py"), "Invalid source pattern '/usr/*.py': absolute patterns are "
                                    "not supported; give one relative to the base directory");
  EXPECT_EQ(rejection("src/**.py"),
            "Invalid source pattern 'src/**.py': '**' can only be an entire path component");
  EXPECT_EQ(rejection("a**/x"),
            "Invalid source pattern 'a**/x': '**' can only be an entire path component");
  EXPECT_EQ(rejection("./"),
            "Invalid source pattern './': it names no entry below the base directory");
  quorvex::host::PlatformOverride windows("win32");
  EXPECT_EQ(rejection("C:x.py"), "Invalid source pattern 'C:x.py': absolute patterns are not "
                                 "supported; give one relative to the base directory");
}
