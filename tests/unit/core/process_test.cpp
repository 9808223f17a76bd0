#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <thread>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A long run's progress is seen while it runs: each piece reaches `onOutput` as it is written,
// and the captured output is whole all the same.
TEST(ProcessTest, OutputReachesItsSinkAsTheChildWritesIt) {
  using Clock = std::chrono::steady_clock;
  std::string seen;
  std::optional<Clock::time_point> firstSeen;
  Result result = run({"sh", "-c", "echo first; sleep 1; echo second"},
                      {.onOutput = [&](std::string_view piece) {
                         if (!firstSeen) firstSeen = Clock::now();
                         seen += piece;
                       }});
  const auto ended = Clock::now();
  EXPECT_EQ(result.output, "first\nsecond\n");
  EXPECT_EQ(seen, result.output);
  ASSERT_TRUE(firstSeen);
  EXPECT_GT(ended - *firstSeen, std::chrono::milliseconds(500)) << "seen only at the end";
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

// An empty or relative PATH entry would mean the working directory, where a project could
// plant a compiler: such entries are passed over, and only an explicit path runs a file there.
TEST(ProcessTest, ProgramsInTheWorkingDirectoryRunOnlyWhenNamedByPath) {
  testing::TempDir dir;
  for (const char* planted : {"gcc", "qvx-planted", "bin/qvx-planted"}) {
    testing::writeFile(planted, "#!/bin/sh\necho planted > ran\n");
    std::filesystem::permissions(planted, std::filesystem::perms::owner_all);
  }
  auto missing = [](const char* name) {
    return std::string("cannot run '") + name + "': No such file or directory";
  };
  auto thrown = [](const std::vector<std::string>& argv, const Options& options = {}) {
    return testing::thrownMessage([&] { run(argv, options); });
  };
  {
    utils::withEnv path("PATH", "");
    EXPECT_EQ(thrown({"gcc", "--version"}), missing("gcc"));
  }
  {
    utils::withEnv path("PATH", ":/usr/bin:bin:.");
    EXPECT_EQ(thrown({"qvx-planted"}), missing("qvx-planted"));
    Result real = run({"gcc", "--version"});
    EXPECT_TRUE(real.ok() && real.output.find("Free Software Foundation") != std::string::npos)
        << real.output;
  }
  EXPECT_EQ(thrown({"qvx-planted"}, {.path = ":"}), missing("qvx-planted"));
  EXPECT_EQ(thrown({"gcc"}, {.path = "bin::"}), missing("gcc"));
  EXPECT_FALSE(std::filesystem::exists("ran"));
  EXPECT_TRUE(run({"./qvx-planted"}, {.path = ""}).ok());
  EXPECT_TRUE(std::filesystem::exists("ran"));
}

// A stand-in for the tool runs a child and is killed by SIGKILL: the child goes with it. This
// process adopts the orphan, so that it sees how the child ended.
TEST(ProcessTest, ChildrenDieWithAToolKilledBySigkill) {
  testing::TempDir dir;
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const pid_t tool = ::fork();
  if (tool == 0) {
    run({"sh", "-c", "echo $$ > pid.tmp && mv pid.tmp pid && exec sleep 60"});
    ::_exit(0);
  }
  ASSERT_GT(tool, 0);
  for (int i = 0; i < 1000 && !std::filesystem::exists("pid"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const pid_t child = std::stoi(testing::readFile("pid"));
  ::kill(tool, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(tool, &status, 0), tool);
  pid_t ended = 0;
  for (int i = 0; i < 500 && ended == 0; ++i) {
    ended = ::waitpid(child, &status, WNOHANG);
    if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ended == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(ended, child) << "the child outlived the tool by five seconds";
  // By its parent-death signal, or by the guardian's SIGTERM when that comes first.
  EXPECT_TRUE(WIFSIGNALED(status) && (WTERMSIG(status) == SIGKILL || WTERMSIG(status) == SIGTERM))
      << status;
}

// What a child started goes too, also when it ignores SIGTERM, as a compiler driver's cc1 would
// run on: the stand-in's guardian stops the child's group, by SIGKILL after a moment.
TEST(ProcessTest, WhatAChildStartedDiesSoonAfterAToolKilledBySigkill) {
  testing::TempDir dir;
  ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  const pid_t tool = ::fork();
  if (tool == 0) {
    run({"sh", "-c",
         "sh -c 'trap \"\" TERM; echo $$ > pid.tmp && mv pid.tmp pid && exec sleep 60' & wait"});
    ::_exit(0);
  }
  ASSERT_GT(tool, 0);
  for (int i = 0; i < 1000 && !std::filesystem::exists("pid"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const pid_t grandchild = std::stoi(testing::readFile("pid"));
  ::kill(tool, SIGKILL);
  int status = 0;
  ASSERT_EQ(::waitpid(tool, &status, 0), tool);
  const auto killed = std::chrono::steady_clock::now();
  pid_t ended = 0;
  for (int i = 0; i < 500 && ended <= 0; ++i) {
    // Not this process's child until its parent has gone.
    ended = ::waitpid(grandchild, &status, WNOHANG);
    if (ended <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const auto after = std::chrono::steady_clock::now() - killed;
  if (ended <= 0) {
    ::kill(grandchild, SIGKILL);
    ::waitpid(grandchild, &status, 0);
  }
  // The child the tool ran, reparented here too, and the guardian.
  while (::waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  ::prctl(PR_SET_CHILD_SUBREAPER, 0);
  EXPECT_EQ(ended, grandchild) << "the child's child outlived the tool by five seconds";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  EXPECT_LT(after, std::chrono::seconds(3));
}

// A stand-in for the tool copies a tree under a StopDeferral and is told to stop deep inside a
// subtree copied whole, whose gathering of failed entries must not take the stop for one: the
// copy ends there, no child starts after it, and the end of the deferral ends the stand-in by
// the signal.
TEST(ProcessTest, AStopWhileDeferredEndsTheCopyAndStartsNoChildThenEndsTheTool) {
  testing::TempDir dir;
  testing::writeFile("tree/sub/deeper/file", "x");
  std::filesystem::create_directory("copy");
  const pid_t tool = ::fork();
  if (tool == 0) {
    {
      StopDeferral deferral;
      std::string seen;
      const auto stopDeeper = [](const std::filesystem::path& at, const std::vector<std::string>&) {
        if (at.filename() == "deeper") ::kill(::getpid(), SIGTERM);
        return std::vector<std::string>();
      };
      for (const auto& step : std::vector<std::function<void()>>{
               [&] { utils::copytree("tree", "copy", utils::LinkCopy::follow, stopDeeper); },
               [] { run({"touch", "started"}); }}) {
        try {
          step();
          seen += "no stop\n";
        } catch (const Stopped& stop) {
          seen += "stopped by " + std::to_string(stop.signal()) + "\n";
        } catch (const std::exception& error) {
          seen += error.what() + std::string("\n");
        }
      }
      testing::writeFile("seen", seen);
    }
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(tool, &status, 0), tool);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_EQ(testing::readFile("seen"), "stopped by 15\nstopped by 15\n");
  EXPECT_FALSE(std::filesystem::exists("copy/sub/deeper/file"));
  EXPECT_FALSE(std::filesystem::exists("started")) << "a child started after the stop";
}

} // namespace
} // namespace quorvex::process
