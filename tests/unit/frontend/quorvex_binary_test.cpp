// The tool's executable as users run it: exit statuses, help and the no-match error.
#include "core/process.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

struct ToolRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the tool of this build directory in the current directory, with standard output and
// error kept apart.
ToolRun runTool(const std::string& arguments) {
  const fs::path tool = QUORVEX_BINARY_DIR "/quorvex";
  if (!fs::exists(tool))
    throw std::runtime_error("The tool is not built: " + tool.string() +
                             " (build the target quorvex first)");
  const auto result = quorvex::process::run(
      {"/bin/sh", "-c", "'" + tool.string() + "' " + arguments + " >out.txt 2>err.txt"});
  ToolRun run;
  run.status = result.signal == 0 ? result.exitCode : -result.signal;
  run.out = readFile("out.txt");
  run.err = readFile("err.txt");
  fs::remove("out.txt");
  fs::remove("err.txt");
  return run;
}

} // namespace

TEST(QuorvexBinary, HelpAndUsageStatuses) {
  TempDir dir;
  const ToolRun help = runTool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Quorvex - Compile Python to Native Code"), std::string::npos);
  const ToolRun none = runTool("");
  EXPECT_EQ(none.status, 0);
  EXPECT_NE(none.out.find("Command:"), std::string::npos);

  for (const char* bad : {"build", "build --bogus app a.py"}) {
    const ToolRun run = runTool(bad);
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("Usage: quorvex build"), std::string::npos) << bad;
    EXPECT_TRUE(run.out.empty()) << bad;
  }
  // Nothing is made by a run that stops at parsing.
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(QuorvexBinary, AnErrorOfTheRunEndsItWithStatusOneAndItsMessage) {
  TempDir dir;
  const ToolRun run = runTool("build app '*.py'");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("\nNo sources matched in ..Patterns: ['*.py']. If running in bash, "
                         "quote globs like '*.py'.\n"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(".quorvex_build"));
}
