#include "core/utils.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace quorvex::utils {
namespace {

// The build directory is fixed by the first call of a process, so each case runs in a fresh
// process; a failed expectation there ends it with a non-zero status and its message.
#define CHECK_IN_CHILD(condition)                                                                  \
  if (!(condition)) {                                                                              \
    std::fprintf(stderr, "failed: %s\n", #condition);                                              \
    std::exit(1);                                                                                  \
  }

TEST(BuildPathTest, TheFirstCallCreatesTheDirectoryWithItsGitignore) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempDir dir;
        fs::path path = getBuildPath();
        CHECK_IN_CHILD(path.string() == ".quorvex_build");
        CHECK_IN_CHILD(readFile(".quorvex_build/.gitignore") == "*\n!.gitignore");
        CHECK_IN_CHILD(std::distance(fs::directory_iterator(".quorvex_build"),
                                     fs::directory_iterator()) == 1);
        // Later calls touch nothing, even under another working directory.
        fs::remove(".quorvex_build/.gitignore");
        CHECK_IN_CHILD(getBuildPath() == path);
        CHECK_IN_CHILD(!fs::exists(".quorvex_build/.gitignore"));
        TempDir other;
        CHECK_IN_CHILD(getBuildPath() == path);
        CHECK_IN_CHILD(!fs::exists(".quorvex_build"));
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(BuildPathTest, AFileInTheWayIsAnErrorAndAnExistingGitignoreIsKept) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        TempDir dir;
        writeFile(".quorvex_build", "not a directory");
        bool failed = false;
        try {
          getBuildPath();
        } catch (const fs::filesystem_error&) {
          failed = true;
        }
        CHECK_IN_CHILD(failed);
        // The failed call fixed nothing, so the next one sets the directory up.
        fs::remove(".quorvex_build");
        writeFile(".quorvex_build/.gitignore", "custom\n");
        CHECK_IN_CHILD(getBuildPath() == ".quorvex_build");
        CHECK_IN_CHILD(readFile(".quorvex_build/.gitignore") == "custom\n");
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace quorvex::utils
