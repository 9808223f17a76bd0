// The start-up configuration blocks on their own: the POSIX block spliced into a small program
// that prints the executable and home it configured, without starting the interpreter, run in
// the layouts the home rules tell apart.
#include "bootstrap/othertemplate.hpp"
#include "support/context.hpp"
#include "core/utils.hpp"
#include "native_build.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <tuple>

namespace fs = std::filesystem;
using namespace quorvex::testing;
namespace utils = quorvex::utils;

namespace {

// Takes the argument to use as argv[0] from its own first argument, or starts with none.
const char* posixHarness = R"C(#include "Python.h"
#include <stdio.h>
#include <string.h>

static int start(int argc, wchar_t **argv) {
    PyStatus status;
    PyConfig config;
        PyConfig_InitPythonConfig(&config);
    (void)status;
    printf("executable=%ls\nhome=%ls\n", config.executable ? config.executable : L"<unset>",
           config.home ? config.home : L"<unset>");
    PyConfig_Clear(&config);
    return 0;
}

int main(int argc, char **argv) {
    wchar_t *wide[1];
    int result;
    if (argc > 1 && strcmp(argv[1], "--no-arguments") == 0)
        return start(0, NULL);
    wide[0] = Py_DecodeLocale(argc > 1 ? argv[1] : argv[0], NULL);
    result = start(1, wide);
    PyMem_RawFree(wide[0]);
    return result;
}
)C";

/// The installation holding the libpython the harness loads: the home when nothing nearer
/// holds a standard library.
std::string loaded() {
  return fs::canonical(*quorvex::testing::buildFacts().configVar("LIBDIR")).parent_path().string();
}

/// The harness's output for a configured executable and home ("<unset>" for none).
std::string shown(const std::string& executable, const std::string& home) {
  return "executable=" + executable + "\nhome=" + home + "\n";
}

class ConfigBlock : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    std::string block(quorvex::othertemplate::configTemplate);
    linuxHarness_ = build("linux", block);
    // The resolution steps other POSIX hosts take, where /proc/self/exe does not exist.
    std::string portable = block;
    portable.replace(portable.find("#ifdef __linux__"), 16, "#if 0");
    portableHarness_ = build("portable", portable);
  }
  static void TearDownTestSuite() { dir_.reset(); }

  static fs::path build(const std::string& name, const std::string& block) {
    fs::path source = dir_->path() / (name + ".c");
    writeFile(source, posixHarness);
    spliceConfig(source, block);
    fs::path object = compileC(source, diagnostics_);
    fs::path program = dir_->path() / name;
    linkProgram({object}, program);
    return program;
  }

  static std::string run(const std::vector<std::string>& argv) {
    RunResult result = runProgram(argv);
    EXPECT_EQ(result.status, 0) << result.output;
    return result.output;
  }

  /// The Linux harness copied to `target`, then run.
  static std::string runAt(const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(linuxHarness_, target, fs::copy_options::overwrite_existing);
    return run({target.string()});
  }

  /// Makes `dir` look like a Python installation prefix.
  static fs::path withStdlib(const fs::path& dir) {
    writeFile(dir / "lib" / pythonVersionDir() / "os.py", "");
    return dir;
  }

  static std::unique_ptr<TempDir> dir_;
  static fs::path linuxHarness_;
  static fs::path portableHarness_;
  static std::string diagnostics_;
};

std::unique_ptr<TempDir> ConfigBlock::dir_;
fs::path ConfigBlock::linuxHarness_;
fs::path ConfigBlock::portableHarness_;
std::string ConfigBlock::diagnostics_;

TEST_F(ConfigBlock, HomeIsTheExecutableDirectoryOnlyWhenItHoldsTheStandardLibrary) {
  EXPECT_EQ(diagnostics_, "");
  TempDir layout;
  fs::path plain = layout.path() / "build";
  EXPECT_EQ(runAt(plain / "prog"), shown((plain / "prog").string(), loaded()));
  fs::path prefix = withStdlib(layout.path() / "dist");
  EXPECT_EQ(runAt(prefix / "prog"), shown((prefix / "prog").string(), prefix.string()));
  // "Bin" is no virtual environment on POSIX: its own directory is the home.
  fs::path capital = withStdlib(layout.path() / "env/Bin");
  EXPECT_EQ(runAt(capital / "prog"), shown((capital / "prog").string(), capital.string()));
}

TEST_F(ConfigBlock, VirtualEnvironmentHomeComesFromAUsablePyvenvCfgLine) {
  TempDir layout;
  fs::path venv = layout.path() / "venv";
  fs::path exe = venv / "bin/prog";
  EXPECT_EQ(runAt(exe), shown(exe.string(), loaded()));
  withStdlib(venv);  // never the home itself: the interpreter finds it above the executable
  EXPECT_EQ(runAt(exe), shown(exe.string(), "<unset>"));

  fs::path base = withStdlib(layout.path() / "base");
  fs::path other = withStdlib(layout.path() / "other");
  fs::path spaced = withStdlib(layout.path() / "my python");
  const std::pair<std::string, std::string> cases[] = {
      {"include-system-site-packages = false\r\nhome = \t" + base.string() +
           " \r\nversion = 3\r\n",
       base.string()},
      // The first line that begins with "home" counts, whatever follows the four letters.
      {"homedir=" + other.string() + "\nhome = " + base.string(), other.string()},
      {"home = " + spaced.string() + "\n", spaced.string()},
      {"version = 3.12\n", "<unset>"},
      {" home = " + base.string() + "\n", "<unset>"},
      {"home " + base.string() + "\n", "<unset>"},
      {"home =  \r\n", "<unset>"},
      // The usual case: the base interpreter's bin directory, which holds no library; the
      // interpreter reads pyvenv.cfg itself then.
      {"home = " + (base / "bin").string() + "\n", "<unset>"}};
  for (const auto& [cfg, home] : cases) {
    writeFile(venv / "pyvenv.cfg", cfg);
    EXPECT_EQ(runAt(exe), shown(exe.string(), home)) << cfg;
  }
}

TEST_F(ConfigBlock, ResolvesTheExecutableWithoutProcSelfExe) {
  TempDir layout;
  fs::path dir = layout.path() / "tools";
  fs::create_directories(dir);
  fs::copy_file(portableHarness_, dir / "prog");
  const std::string missing = (layout.path() / "missing").string();
  // A PATH longer than the copy buffer, cut inside an entry that extends the real directory:
  // the cut-off part names no directory that was asked for.
  const std::string overlong = std::string(4095 - dir.string().size(), ':') + dir.string() + "x";
  for (auto [path, name, executable] :
       {std::tuple<std::string, std::string, std::string>{missing + "::" + dir.string(), "prog",
                                                          (dir / "prog").string()},
        {missing, "prog", "prog"},
        {overlong, "prog", "prog"}}) {
    utils::withEnv env("PATH", path);
    EXPECT_EQ(run({portableHarness_.string(), name}), shown(executable, loaded()))
        << path.size();
  }
  fs::current_path(dir);
  EXPECT_EQ(run({portableHarness_.string(), "./prog"}),
            shown((dir / "prog").string(), loaded()));
}

TEST_F(ConfigBlock, NoArgumentsAndOverlongPathsTakeTheFallBacks) {
  EXPECT_EQ(run({linuxHarness_.string(), "--no-arguments"}), shown("<unset>", "<unset>"));

  std::string longName;
  while (longName.size() < 5000) longName += "abcdefgh/";
  EXPECT_EQ(run({portableHarness_.string(), longName + "prog"}),
            shown((longName + "prog").substr(0, 4095), loaded()));
}

} // namespace
