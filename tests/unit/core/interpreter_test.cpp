#include "core/interpreter.hpp"
#include "core/utils.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::interpreter {
namespace {

TEST(InterpreterTest, FactsComeFromThePythonBesideTheTool) {
  EXPECT_EQ(toolExecutable(), fs::path(QUORVEX_VENV "/bin/quorvex"));
  const Facts& first = facts();
  EXPECT_EQ(first.program, fs::path(QUORVEX_VENV "/bin/python"));
  EXPECT_EQ(first.fullVersion(), "3.12.1");
  EXPECT_EQ(first.cacheTag, "cpython-312");
  EXPECT_TRUE(fs::exists(fs::path(first.path("include")) / "Python.h"));
  EXPECT_EQ(first.configVar("EXT_SUFFIX"), ".cpython-312-x86_64-linux-gnu.so");
  EXPECT_EQ(first.configInt("EXT_SUFFIX"), std::nullopt);
  EXPECT_EQ(first.configVar("NO_SUCH_VARIABLE"), std::nullopt);
  // Integers come back as numbers and as their decimal text.
  ASSERT_TRUE(first.configInt("Py_ENABLE_SHARED"));
  EXPECT_EQ(first.configVar("Py_ENABLE_SHARED"),
            std::to_string(*first.configInt("Py_ENABLE_SHARED")));
  EXPECT_FALSE(utils::isFreeThreaded());
  EXPECT_EQ(&facts(), &first);
}

TEST(InterpreterTest, AMissingInterpreterNamesWhereItWasLookedFor) {
  // In a fresh process: the facts of this one are cached already.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        overrideToolExecutable("/nonexistent/qvx/bin/quorvex");
        try {
          facts();
        } catch (const std::runtime_error& e) {
          std::string expected = "Build interpreter not found: looked for "
                                 "'/nonexistent/qvx/bin/python' beside the tool executable "
                                 "'/nonexistent/qvx/bin/quorvex'";
          std::exit(e.what() == expected ? 0 : 1);
        }
        std::exit(2);
      },
      ::testing::ExitedWithCode(0), "");
}

} // namespace
} // namespace quorvex::interpreter
