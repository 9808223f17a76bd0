#include "core/process.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace quorvex::process {
namespace {

TEST(ProcessTest, CapturesBothStreamsInWriteOrderAndTheExitStatusOrSignal) {
  Result result = run({"sh", "-c", "printf out1; printf err1 >&2; printf out2; exit 3"});
  EXPECT_EQ(result.output, "out1err1out2");
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.signal, 0);
  EXPECT_FALSE(result.ok());

  Result killed = run({"sh", "-c", "kill -TERM $$"});
  EXPECT_EQ(killed.signal, 15);
  EXPECT_FALSE(killed.ok());
}

TEST(ProcessTest, AMissingProgramIsNamed) {
  try {
    run({"qvx-no-such-program", "x"});
    FAIL() << "no error";
  } catch (const SpawnError& e) {
    EXPECT_STREQ(e.what(), "cannot run 'qvx-no-such-program': No such file or directory");
  }
}

TEST(ProcessTest, ATimeOutKillsTheChildAndKeepsItsOutput) {
  auto start = std::chrono::steady_clock::now();
  try {
    run({"sh", "-c", "echo started; exec sleep 30"},
        {.timeout = std::chrono::milliseconds(300)});
    FAIL() << "no time-out";
  } catch (const TimeoutError& e) {
    EXPECT_EQ(e.output(), "started\n");
    EXPECT_STREQ(e.what(),
                 "Command 'sh -c echo started; exec sleep 30' timed out after 0.3 seconds");
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(ProcessTest, LargeInputAndOutputFlowWithoutDeadlock) {
  std::string input(3 * 1024 * 1024, 'x');
  for (size_t i = 0; i < input.size(); i += 101) input[i] = '\n';
  Result echoed = run({"cat"}, {.input = input});
  EXPECT_TRUE(echoed.ok());
  EXPECT_EQ(echoed.output, input);

  // A child that never reads its input must not take the tool down with SIGPIPE.
  Result ignoring = run({"true"}, {.input = input});
  EXPECT_TRUE(ignoring.ok());
}

} // namespace
} // namespace quorvex::process
