#include "packaging/whl_command.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <vector>

namespace quorvex::whl {
namespace {

struct Outcome {
  int status = -1;
  std::string out, err;
  std::vector<WheelCommand> runs;
};

Outcome runCommand(std::vector<const char*> args,
                   std::function<void(const WheelCommand&)> action = nullptr) {
  args.insert(args.begin(), "quorvex-wheel");
  Outcome outcome;
  std::ostringstream out, err;
  outcome.status = wheelMain(static_cast<int>(args.size()), args.data(), out, err,
                             [&](const WheelCommand& command) {
                               outcome.runs.push_back(command);
                               if (action) action(command);
                             });
  outcome.out = out.str();
  outcome.err = err.str();
  return outcome;
}

TEST(WheelCommand, LibraryFlagMayStandAnywhere) {
  for (auto args : {std::vector<const char*>{"--library", "app.so", "dist"},
                    std::vector<const char*>{"app.so", "--library", "dist"},
                    std::vector<const char*>{"app.so", "dist", "--library"}}) {
    Outcome outcome = runCommand(args);
    EXPECT_EQ(outcome.status, 0);
    ASSERT_EQ(outcome.runs.size(), 1u);
    EXPECT_TRUE(outcome.runs[0].library);
    EXPECT_EQ(outcome.runs[0].executable, "app.so");
    EXPECT_EQ(outcome.runs[0].outputPath, "dist");
  }
  Outcome plain = runCommand({"../build/app", "out/dir"});
  ASSERT_EQ(plain.runs.size(), 1u);
  EXPECT_FALSE(plain.runs[0].library);
  EXPECT_EQ(plain.runs[0].executable, "../build/app"); // as written, not resolved
}

TEST(WheelCommand, UsageErrorsAndHelpStopBeforeAnythingRuns) {
  Outcome none = runCommand({});
  EXPECT_EQ(none.status, 2);
  EXPECT_EQ(none.err, "the following arguments are required: executable, outputPath\n"
                      "Run with --help for more information.\n");
  Outcome one = runCommand({"app"});
  EXPECT_EQ(one.status, 2);
  EXPECT_EQ(one.err, "the following arguments are required: outputPath\n"
                     "Run with --help for more information.\n");
  for (auto args : {std::vector<const char*>{"app", "dist", "extra"}, {"--unknown", "app", "dist"}})
    EXPECT_EQ(runCommand(args).status, 2);
  EXPECT_TRUE(none.runs.empty() && one.runs.empty());
  Outcome help = runCommand({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.runs.empty());
  EXPECT_NE(help.out.find("Create library (default: false)"), std::string::npos) << help.out;
}

TEST(WheelCommand, AFailedRunIsReportedWithStatusOne) {
  Outcome failed = runCommand({"app", "dist"}, [](const WheelCommand&) {
    throw std::runtime_error("No pyproject.toml found at or above '/x'");
  });
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.err, "No pyproject.toml found at or above '/x'\n");
}

} // namespace
} // namespace quorvex::whl
