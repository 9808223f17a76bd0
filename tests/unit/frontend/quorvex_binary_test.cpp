// The tool's executable as users run it: exit statuses, help, and the inputs it refuses before
// anything is made.
#include "core/process.hpp"
#include "frontend/builder.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
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
  const fs::path tool = QUORVEX_VENV "/bin/quorvex"; // installed beside its interpreter
  const auto result = quorvex::process::run(
      {"/bin/sh", "-c", "'" + tool.string() + "' " + arguments + " >../out.txt 2>../err.txt"});
  return {result.signal == 0 ? result.exitCode : -result.signal, readFile("../out.txt"),
          readFile("../err.txt")};
}

} // namespace

TEST(QuorvexBinary, UsageEndsWithStatusTwoAndBadInputsWithOneBeforeAnythingIsMade) {
  TempDir dir;
  fs::create_directories("work");
  fs::current_path("work");
  const ToolRun help = runTool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Quorvex - Compile Python to Native Code"), std::string::npos);
  for (const char* bad : {"build", "build --bogus app a.py"}) {
    const ToolRun run = runTool(bad);
    EXPECT_EQ(run.status, 2) << bad;
    EXPECT_NE(run.err.find("Usage: quorvex build"), std::string::npos) << bad;
  }
  EXPECT_TRUE(fs::is_empty("."));

  writeFile("app.py", "def main():\n    pass\n");
  writeFile("pyproject.toml", "[project]\nname = \"my app\"\nversion = \"1.0\"\n");
  const std::string modules = " (modules of the sources: app)";
  const std::vector<std::pair<std::string, std::string>> cases{
      {"build app '*.txt'", "No sources matched in ..Patterns: ['*.txt']. If running in bash, "
                            "quote globs like '*.py'."},
      {"build --base missing app app.py", "The base directory 'missing' (--base) does not exist"},
      {"build --base app.py app app.py",
       "The base directory 'app.py' (--base) is not a directory"},
      {"build app app.py pkg/../../out/app.py",
       "The source pattern 'pkg/../../out/app.py' leaves the base directory '.'; sources must lie "
       "inside it (see --base)"},
      {"build --policy nonsense app app.py",
       "Unknown --policy 'nonsense': choose manylinux_2_28 or musllinux_1_2"},
      {"build app.py app.py",
       "The main module 'app.py' is a file name; give its module name, 'app'" + modules},
      {"build my-app app.py",
       "The main module 'my-app' is not a dotted module name (such as app or pkg.app)" + modules},
      {"build pkg app.py", "The main module 'pkg' is not among the sources" + modules},
      {"build --wheel dist app app.py",
       "'name' in [project] is 'my app', not a valid project name"}};
  for (const auto& [arguments, message] : cases) {
    const ToolRun run = runTool(arguments);
    EXPECT_EQ(run.status, 1) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << arguments << "\n" << run.err;
  }
  EXPECT_FALSE(fs::exists("dist"));
  EXPECT_FALSE(fs::exists(".quorvex_build/python"));
}

// Build directories and virtual environments hold Python files of no project.
TEST(MatchSources, EntersNoBuildDirectoryNorVirtualEnvironment) {
  TempDir dir;
  for (const char* name : {"app.py", ".quorvex_build/python/lib/abc.py", "sub/.quorvex_build/x.py",
                           "env/pyvenv.cfg", "env/lib/site.py", "pkg/mod.py"})
    writeFile(name, "");
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"**/*.py", {"app.py", "pkg/mod.py"}}, {"*/*/*.py", {}}};
  for (const auto& [pattern, expected] : cases) {
    std::vector<std::string> found;
    for (const auto& source : quorvex::builder::matchSources(".", {pattern}, false))
      found.push_back(source.generic_string());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, expected) << pattern;
  }
}
