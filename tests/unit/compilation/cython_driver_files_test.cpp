// The Cython driver as the tool writes it into the build directory: with every C file that it
// reads, each as it stands in the source tree, and restored when changed or removed.
#include "compilation/cython_driver_files.hpp"
#include "core/plugin.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace fs = std::filesystem;

TEST(CythonDriverFiles, TheDriverHasEveryCFileItReadsAndChangedOnesAreWrittenAgain) {
  quorvex::testing::TempDir dir;
  quorvex::plugin::PluginManager none;
  quorvex::Context context(none, quorvex::testing::installedTool);
  const fs::path driver = quorvex::compiler::writeCythonDriver(context);
  EXPECT_EQ(driver, context.buildPath() / "_qvx_cython.py");
  const fs::path written = context.buildPath() / "_qvx_cython";

  // What the driver opens (`_c_text("name.c")`, `_c_template("name.c")`) is there.
  const std::string code = quorvex::testing::readFile(driver);
  const std::regex opened(R"re(_c_(?:text|template)\("([a-z_]+\.c)"\))re");
  std::set<std::string> named;
  for (std::sregex_iterator it(code.begin(), code.end(), opened), end; it != end; ++it)
    named.insert((*it)[1].str());
  EXPECT_GE(named.size(), 10u);
  for (const std::string& name : named)
    EXPECT_TRUE(fs::exists(written / name)) << name;

  // Each C file of the source tree is written byte for byte, opening with what it is for.
  const fs::path sources = fs::path(QUORVEX_SOURCE_DIR) / "src/compilation/cython_driver";
  std::size_t files = 0;
  for (const auto& entry : fs::directory_iterator(sources)) {
    const std::string name = entry.path().filename().string();
    ++files;
    const std::string text = quorvex::testing::readFile(entry.path());
    EXPECT_EQ(quorvex::testing::readFile(written / name), text) << name;
    EXPECT_TRUE(text.starts_with("/* ") && text.find("*/\n") != std::string::npos) << name;
    EXPECT_TRUE(named.contains(name)) << name << " is read by no correction";
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
