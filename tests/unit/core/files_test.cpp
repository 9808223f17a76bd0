// File-tree copies and template renders: what lands on disk, and nothing on failure.
#include "core/utils.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace quorvex::utils {
namespace {

TEST(Copytree, MergesIntoExistingDirectoriesKeepingMetadataAndCopiesNewOnesWhole) {
  TempDir dir;
  writeFile("src/top.txt", "new top");
  writeFile("src/shared/both.txt", "from src");
  writeFile("src/fresh/deep/file.txt", "fresh");
  writeFile("src/fresh/skip.log", "skipped");
  fs::create_symlink("real.txt", "src/fresh/alias.txt");
  writeFile("dst/top.txt", "old top");
  writeFile("dst/shared/only-dst.txt", "kept");
  fs::permissions("src/top.txt", fs::perms(0640));
  auto stamp = fs::last_write_time("src/top.txt") - std::chrono::hours(24);
  fs::last_write_time("src/top.txt", stamp);
  copytree("src", "dst", LinkCopy::keep,
           [&](const fs::path&, const std::vector<std::string>& names) {
             std::vector<std::string> skip;
             for (const auto& name : names)
               if (name.ends_with(".log")) skip.push_back(name);
             return skip;
           });
  EXPECT_EQ(readFile("dst/top.txt"), "new top");
  EXPECT_EQ(fs::status("dst/top.txt").permissions(), fs::perms(0640));
  EXPECT_EQ(fs::last_write_time("dst/top.txt"), stamp);
  EXPECT_EQ(readFile("dst/shared/both.txt"), "from src");
  EXPECT_EQ(readFile("dst/shared/only-dst.txt"), "kept");
  EXPECT_EQ(readFile("dst/fresh/deep/file.txt"), "fresh");
  EXPECT_FALSE(fs::exists("dst/fresh/skip.log"));
  EXPECT_TRUE(fs::is_symlink("dst/fresh/alias.txt"));
  writeFile("src2/name/inner.txt", "x");
  writeFile("dst2/name", "a file in the way");
  EXPECT_THROW(copytree("src2", "dst2"), fs::filesystem_error);
}

// A Python installation's links: those that lead inside the tree stay links, relative, so that
// the copy can be moved; the others are followed, and a missing target is never linked to.
TEST(Copytree, KeepsLinksInsideTheTreeRelativeAndFollowsTheOthers) {
  TempDir dir;
  writeFile("outside/shared.txt", "outside");
  writeFile("outside/dir/file.txt", "in a directory outside");
  writeFile("py/lib/libpython.so.1.0", "library");
  writeFile("py/bin/python3.12", "interpreter");
  fs::create_symlink("libpython.so.1.0", "py/lib/libpython.so");
  fs::create_symlink("python3.12", "py/bin/python3");
  fs::create_symlink("python3", "py/bin/python");                    // a chain
  fs::create_symlink(fs::absolute("py/lib"), "py/bin/lib");          // absolute, inside
  fs::create_symlink("../lib/../bin/python3.12", "py/bin/roundabout"); // up and down again
  fs::create_symlink("..", "py/lib/loop");                           // would recurse forever
  fs::create_symlink("../../outside/shared.txt", "py/lib/shared.txt");
  fs::create_symlink(fs::absolute("outside/dir"), "py/lib/dir");
  fs::create_directory("dst");
  copytree("py", "dst", LinkCopy::keepInside);

  for (const auto& [link, text, content] :
       {std::tuple{"lib/libpython.so", "libpython.so.1.0", "library"},
        {"bin/python3", "python3.12", "interpreter"},
        {"bin/python", "python3.12", "interpreter"},
        {"bin/roundabout", "python3.12", "interpreter"}}) {
    EXPECT_TRUE(fs::is_symlink(fs::path("dst") / link)) << link;
    EXPECT_EQ(fs::read_symlink(fs::path("dst") / link), text) << link;
    EXPECT_EQ(readFile(fs::path("dst") / link), content) << link;
  }
  EXPECT_EQ(fs::read_symlink("dst/bin/lib"), "../lib");
  EXPECT_EQ(fs::read_symlink("dst/lib/loop"), "..");
  EXPECT_FALSE(fs::is_symlink("dst/lib/shared.txt"));
  EXPECT_EQ(readFile("dst/lib/shared.txt"), "outside");
  EXPECT_FALSE(fs::is_symlink("dst/lib/dir"));
  EXPECT_EQ(readFile("dst/lib/dir/file.txt"), "in a directory outside");

  // Moved, the copy holds together without the original.
  fs::rename("dst", "moved");
  fs::remove_all("py");
  EXPECT_EQ(readFile("moved/bin/python"), "interpreter");
  EXPECT_EQ(readFile("moved/bin/lib/libpython.so"), "library");

  // A link to nothing cannot be copied: the copy says which, and makes no link out of the tree.
  writeFile("broken/real.txt", "real");
  fs::create_symlink("../gone.txt", "broken/dangling.txt");
  fs::create_directory("dst2");
  EXPECT_THROW(copytree("broken", "dst2", LinkCopy::keepInside), fs::filesystem_error);
  EXPECT_FALSE(fs::exists(fs::symlink_status("dst2/dangling.txt")));
}

// Read and write for owner and group are added; no other bit changes, and a link's target
// is the file changed.
TEST(ChmodRW, AddsReadAndWriteForOwnerAndGroupOnly) {
  TempDir dir;
  writeFile("file", "");
  fs::create_symlink("file", "link");
  for (auto [path, before, after] : {std::tuple{"file", 0400, 0660},
                                     {"file", 04755, 04775},
                                     {"link", 01701, 01761}}) {
    fs::permissions("file", fs::perms(before));
    chmodRW(path);
    EXPECT_EQ(fs::status("file").permissions(), fs::perms(after)) << std::oct << before;
  }
  EXPECT_TRUE(fs::is_symlink("link"));
}

TEST(Template, RendersPythonValuesAndAFailureWritesNothing) {
  TempDir dir;
  plugin::PluginManager none;
  Context context(none, quorvex::testing::installedTool);
  template_(context,
            std::string("{{for m in packages}}<{{m}}>{{endfor}}|{{features}}|{{none}}|{{flag}}"),
            "out.txt",
            {{"packages", {"a", "b"}},
             {"features", {{"x", 1}, {"y", "z"}}},
             {"none", nullptr},
             {"flag", true}});
  EXPECT_EQ(readFile("out.txt"), "<a><b>|{'x': 1, 'y': 'z'}||True");
  withEnv encoding("PYTHONIOENCODING", "latin-1");
  template_(context, std::string("caf\u00e9 {{name}}"), "out.txt", {{"name", "\u00fc"}});
  EXPECT_EQ(readFile("out.txt"), "caf\u00e9 \u00fc");
  try {
    template_(context, std::string("{{missing}}"), "out.txt", nlohmann::json::object());
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Template error while rendering 'out.txt': name 'missing' is not "
                           "defined at line 1 column 3");
  }
  EXPECT_EQ(readFile("out.txt"), "caf\u00e9 \u00fc");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
  EXPECT_THROW(template_(context, fs::path("absent.tmpl"), "out2.txt", nlohmann::json::object()),
               std::runtime_error);
  EXPECT_FALSE(fs::exists("out2.txt"));
}

} // namespace
} // namespace quorvex::utils
