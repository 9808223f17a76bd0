// The Cython driver as the tool writes it into the build directory: with every module of its
// corrections that it imports and every C file that they read, each as it stands in the source
// tree, and restored when changed or removed.
#include "compilation/cython_driver_files.hpp"
#include "core/plugin.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace fs = std::filesystem;

TEST(CythonDriverFiles, TheDriverHasEveryFileItReadsAndChangedOnesAreWrittenAgain) {
  quorvex::testing::TempDir dir;
  quorvex::plugin::PluginManager none;
  quorvex::Context context(none, quorvex::testing::installedTool);
  const fs::path driver = quorvex::compiler::writeCythonDriver(context);
  EXPECT_EQ(driver, context.buildPath() / "_qvx_cython.py");
  const fs::path written = context.buildPath() / "_qvx_cython";

  // The modules the driver imports are there, and what they open (`c_text("name.c")`,
  // `c_template("name.c")`) too.
  const std::string code = quorvex::testing::readFile(driver);
  const std::regex imports(R"re(from _qvx_cython import ([a-z_, ]+))re");
  std::smatch imported;
  ASSERT_TRUE(std::regex_search(code, imported, imports));
  std::set<std::string> named = {"__init__.py", "common.py"};
  const std::string modules = imported[1].str();
  const std::regex word("[a-z_]+");
  for (std::sregex_iterator it(modules.begin(), modules.end(), word), end; it != end; ++it)
    named.insert(it->str() + ".py");
  EXPECT_GE(named.size(), 6u);
  const std::regex opened(R"re(c_(?:text|template)\("([a-z_]+\.c)"\))re");
  for (const std::string& module : std::set<std::string>(named)) {
    ASSERT_TRUE(fs::exists(written / module)) << module;
    const std::string text = quorvex::testing::readFile(written / module);
    for (std::sregex_iterator it(text.begin(), text.end(), opened), end; it != end; ++it)
      named.insert((*it)[1].str());
  }
  EXPECT_GE(named.size(), 20u);
  for (const std::string& name : named)
    EXPECT_TRUE(fs::exists(written / name)) << name;

  // Each file of the source tree is written byte for byte, opening with what it is for.
  const fs::path sources = fs::path(QUORVEX_SOURCE_DIR) / "src/compilation/cython_driver";
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(sources)) {
    const std::string name = entry.path().filename().string();
    ++files;
    const std::string text = quorvex::testing::readFile(entry.path());
    EXPECT_EQ(quorvex::testing::readFile(written / name), text) << name;
    const bool commented = name.ends_with(".py") ? text.starts_with("# ")
                                                 : text.starts_with("/* ") &&
                                                       text.find("*/\n") != std::string::npos;
    EXPECT_TRUE(commented) << name;
    EXPECT_TRUE(named.contains(name)) << name << " is used by no correction";
  }
  EXPECT_EQ(files, named.size());

  // A file changed or removed since is written again.
  quorvex::testing::writeFile(written / "call_guard.c", "stale");
  fs::remove(written / "guarded_call.c");
  quorvex::compiler::writeCythonDriver(context);
  EXPECT_EQ(quorvex::testing::readFile(written / "call_guard.c"),
            quorvex::testing::readFile(sources / "call_guard.c"));
  EXPECT_TRUE(fs::exists(written / "guarded_call.c"));
}
