#include "core/utils.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace quorvex::utils {
namespace {

fs::perms modeOf(const fs::path& path) { return fs::status(path).permissions(); }

TEST(CopytreeTest, MergesIntoExistingDirectoriesAndCopiesNewOnesWhole) {
  TempDir dir;
  writeFile("src/top.txt", "new top");
  writeFile("src/shared/both.txt", "from src");
  writeFile("src/fresh/deep/file.txt", "fresh");
  writeFile("src/fresh/skip.log", "skipped");
  writeFile("dst/top.txt", "old top");
  writeFile("dst/shared/both.txt", "from dst");
  writeFile("dst/shared/only-dst.txt", "kept");
  fs::permissions("src/top.txt", fs::perms(0640));
  auto stamp = fs::last_write_time("src/top.txt") - std::chrono::hours(24);
  fs::last_write_time("src/top.txt", stamp);
  fs::permissions("dst", fs::perms(0700));

  std::vector<fs::path> asked;
  copytree("src", "dst", false, [&](const fs::path& where, const std::vector<std::string>& names) {
    asked.push_back(where);
    std::vector<std::string> skip;
    for (const auto& name : names)
      if (name.ends_with(".log")) skip.push_back(name);
    return skip;
  });

  EXPECT_EQ(readFile("dst/top.txt"), "new top");
  EXPECT_EQ(modeOf("dst/top.txt"), fs::perms(0640));
  EXPECT_EQ(fs::last_write_time("dst/top.txt"), stamp);
  EXPECT_EQ(readFile("dst/shared/both.txt"), "from src");
  EXPECT_EQ(readFile("dst/shared/only-dst.txt"), "kept");
  EXPECT_EQ(readFile("dst/fresh/deep/file.txt"), "fresh");
  EXPECT_FALSE(fs::exists("dst/fresh/skip.log"));
  EXPECT_EQ(modeOf("dst"), fs::perms(0700));
  // The filter is asked only inside subtrees copied whole.
  std::sort(asked.begin(), asked.end());
  EXPECT_EQ(asked, (std::vector<fs::path>{"src/fresh", "src/fresh/deep"}));
}

TEST(CopytreeTest, LinksAreFollowedAtTheMergeLevelAndKeptInsideWholeCopiesOnRequest) {
  TempDir dir;
  writeFile("target.txt", "linked");
  writeFile("src/sub/real.txt", "real");
  fs::create_symlink("../target.txt", "src/link.txt");
  fs::create_symlink("real.txt", "src/sub/alias.txt");
  fs::create_directory("dst");
  copytree("src", "dst", true);
  EXPECT_FALSE(fs::is_symlink("dst/link.txt"));
  EXPECT_EQ(readFile("dst/link.txt"), "linked");
  EXPECT_TRUE(fs::is_symlink("dst/sub/alias.txt"));
  EXPECT_EQ(fs::read_symlink("dst/sub/alias.txt"), "real.txt");
}

TEST(CopytreeTest, ConflictsBetweenFilesAndDirectories) {
  TempDir dir;
  writeFile("src/name/inner.txt", "x");
  writeFile("dst/name", "a file in the way");
  EXPECT_THROW(copytree("src", "dst"), fs::filesystem_error);

  writeFile("src2/entry", "file content");
  fs::create_directories("dst2/entry");
  copytree("src2", "dst2");
  EXPECT_EQ(readFile("dst2/entry/entry"), "file content");

  writeFile("src3/file.txt", "x");
  EXPECT_THROW(copytree("src3", "missing"), fs::filesystem_error);
  fs::create_directory("src4");
  fs::create_symlink("nowhere", "src4/broken");
  fs::create_directory("dst4");
  EXPECT_THROW(copytree("src4", "dst4"), fs::filesystem_error);

  // Inside a subtree copied whole, a failing entry does not stop the others.
  const std::vector<std::string> good = {"a", "b", "c", "d", "e", "f", "g", "h"};
  for (const auto& name : good) writeFile("src5/sub/" + name, name);
  fs::create_symlink("nowhere", "src5/sub/broken");
  fs::create_directory("dst5");
  EXPECT_THROW(copytree("src5", "dst5"), fs::filesystem_error);
  for (const auto& name : good) EXPECT_EQ(readFile("dst5/sub/" + name), name);
}

TEST(ChmodRWTest, AddsReadAndWriteForOwnerAndGroupOnly) {
  TempDir dir;
  writeFile("a", "");
  writeFile("b", "");
  fs::permissions("a", fs::perms(0400));
  fs::permissions("b", fs::perms(0755));
  fs::create_symlink("a", "link");
  chmodRW("b");
  chmodRW("link");
  EXPECT_EQ(modeOf("a"), fs::perms(0660));
  EXPECT_EQ(modeOf("b"), fs::perms(0775));
  EXPECT_TRUE(fs::is_symlink("link"));
  EXPECT_THROW(chmodRW("missing"), fs::filesystem_error);
}

} // namespace
} // namespace quorvex::utils
