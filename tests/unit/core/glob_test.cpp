// Path-pattern matching against real directory trees.
#include "core/glob.hpp"
#include "core/host.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>

namespace fs = std::filesystem;
using quorvex::glob::fnmatch;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;
using Names = std::vector<std::string>;

namespace {

Names glob(const fs::path& base, const std::string& pattern) {
  Names out;
  for (const auto& path : quorvex::glob::glob(base, pattern)) out.push_back(path.generic_string());
  std::sort(out.begin(), out.end());
  return out;
}

std::string rejection(const std::string& pattern) {
  try {
    quorvex::glob::glob(".", pattern);
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
      {"d.py", "[!abc].py", true}, {"M.py", "[a-z].py", false},  {"-", "[a-]", true},
      {"]", "[]]", true},          {"[x", "[x", true}, // an unclosed bracket is a plain character
      {"abcabd", "*ab?", true},    {"Main.PY", "*.py", false},   {"b.py", "[^a].py", false}};
  for (const auto& [name, pattern, expected] : cases)
    EXPECT_EQ(fnmatch(name, pattern), expected) << name << " " << pattern;
  EXPECT_TRUE(fnmatch("Main.PY", "*.py", false));
}

TEST(Glob, MatchesEachLevelAndEveryDepthOnceWithoutFollowingLinks) {
  TempDir dir;
  for (const char* name : {"top.py", ".hidden.py", "notes.txt", "pkg.py/inner.py", "a/one.py",
                           "a/b/two.py", "a/b/c/three.py", "lib/util.py"})
    writeFile(name, "");
  fs::create_directory_symlink("a/b", "link");
  EXPECT_EQ(glob(".", "*.py"), (Names{".hidden.py", "pkg.py", "top.py"}));
  EXPECT_EQ(glob(".", "*/"), (Names{"a", "lib", "link", "pkg.py"}));
  EXPECT_EQ(glob(".", "**/*.py"), (Names{".hidden.py", "a/b/c/three.py", "a/b/two.py", "a/one.py",
                                         "lib/util.py", "pkg.py", "pkg.py/inner.py", "top.py"}));
  EXPECT_EQ(glob(".", "**/**/*.py"), glob(".", "**/*.py"));
  EXPECT_EQ(glob("a", "**"), (Names{".", "b", "b/c"}));
  EXPECT_EQ(glob(".", "link/*.py"), Names{"link/two.py"}) << "a named link is entered";
  EXPECT_EQ(glob("a", "../lib/*.py"), Names{"../lib/util.py"});
  EXPECT_TRUE(glob(".", "top.py/x").empty());
  EXPECT_EQ(glob(".", "./a//one.py"), Names{"a/one.py"});
}

TEST(Glob, WindowsHostsMatchWithoutCaseAndBadPatternsAreRejected) {
  TempDir dir;
  writeFile("Main.PY", "");
  writeFile("Sub/Mod.py", "");
  EXPECT_TRUE(glob(".", "*.py").empty());
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
  EXPECT_EQ(glob(".", "*.py"), Names{"Main.PY"});
  EXPECT_EQ(glob(".", "sub\\mod.py"), Names{"Sub/Mod.py"}) << "the spelling found on disk";
  EXPECT_EQ(rejection("C:x.py"), "Invalid source pattern 'C:x.py" + absolute);
}
