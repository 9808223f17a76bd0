#pragma once
// Helpers of the end-to-end tests: the installed tool, a runner for real programs, project
// directories made from files, and one pristine Python shared by every build of the run.
// Every test runs in a process of its own, so each test builds its product once and checks
// everything about it; the scratch area is private to the process.

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace quorvex::e2e {

/// The tool under test: $QUORVEX_TOOL, else the virtual environment's `quorvex`.
std::filesystem::path tool();
/// The wheel command: $QUORVEX_WHEEL_TOOL, else the virtual environment's `quorvex-wheel`.
std::filesystem::path wheelTool();
/// The build interpreter, the virtual environment's `python`.
std::filesystem::path buildPython();

/// What a finished program left: its exit status and its two output streams.
struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
  /// Both streams, for failure messages.
  std::string all() const { return "stdout:\n" + out + "\nstderr:\n" + err; }
};

/// Runs `argv` in `cwd` with the test environment and waits at most ten minutes for it.
Outcome run(const std::vector<std::string>& argv, const std::filesystem::path& cwd);

/// Runs `argv` in `cwd` with nothing but PATH=/usr/bin:/bin in its environment: a user's
/// machine without the test's Python or uv settings.
Outcome runClean(const std::vector<std::string>& argv, const std::filesystem::path& cwd);

/// A directory of the run's scratch area that is removed when the test program ends.
std::filesystem::path scratch(const std::string& name);

/// Copies a directory tree, keeping symbolic links as links.
void copyTree(const std::filesystem::path& from, const std::filesystem::path& to);

/// Every regular file below `dir` but the build directory, with its bytes.
std::map<std::filesystem::path, std::string> sourceTree(const std::filesystem::path& dir);

/// A Python project in a scratch directory.
class Project {
public:
  /// Makes the directory `name` with `files` (relative path to text).
  Project(const std::string& name, const std::map<std::string, std::string>& files);
  /// Makes the directory `name` as a copy of the directory `source`, less any build directory.
  static Project copyOf(const std::string& name, const std::filesystem::path& source);

  const std::filesystem::path& dir() const { return dir_; }
  std::filesystem::path buildDir() const { return dir_ / ".quorvex_build"; }

  /// Runs `quorvex build` with `args` in the project directory. The build directory gets the
  /// run's shared pristine Python first when one has been installed; the first build of the run
  /// installs it with uv and shares it.
  Outcome build(const std::vector<std::string>& args);

private:
  std::filesystem::path dir_;
};

/// The output of the first build of the run, the one that installed the pristine Python.
const std::string& pristineInstallLog();

/// A fresh virtual environment, with pip, made by `python` (the build interpreter unless given).
std::filesystem::path freshVenv(const std::string& name,
                                const std::filesystem::path& python = buildPython());

/// The one wheel file in `dir`; fails the test when there is not exactly one.
std::filesystem::path onlyWheel(const std::filesystem::path& dir);

/// Runs `program` and the build interpreter on `script` with `args` in `cwd`, and expects the
/// same status and streams; returns the program's outcome.
Outcome expectSameAsPython(const std::string& program, const std::string& script,
                           const std::vector<std::string>& args, const std::filesystem::path& cwd);

/// Runs `program` and the build interpreter on `script` once for each case name, which the
/// script takes as its argument, and expects the same clean run printing more than the case's
/// "[name]" header.
void expectCasesAsPython(const std::string& program, const std::string& script,
                         const std::vector<std::string>& cases, const std::filesystem::path& cwd);

/// Runs `code` with the build interpreter in `sources` (the project's sources), then with the
/// python of a fresh environment `venv` into which the one wheel of `sources`/dist is
/// installed, from "/"; expects the same clean output.
struct InstalledRun {
  std::filesystem::path python; ///< the environment's python
  Outcome outcome;              ///< what it printed running `code`
};
InstalledRun expectWheelAnswersAsPython(const std::filesystem::path& sources,
                                        const std::string& venv, const std::string& code);

/// Case modules `files`, each with a report(), built as the program `name`, whose main module
/// (written here) runs the cases named on its command line: each case answers as CPython does
/// on the same sources.
void expectCaseProgramAsPython(const std::string& name,
                               std::map<std::string, std::string> files,
                               const std::vector<std::string>& cases);

/// The same case modules built as one library's wheel, installed into a fresh environment
/// `name`: each case's report() answers there as it does in CPython on the sources.
void expectCaseLibraryAsPython(const std::string& name,
                               std::map<std::string, std::string> files,
                               const std::vector<std::string>& cases);

/// The line of `ldd program` that names the libpython it loads; fails the test when there is none.
std::string libpythonOf(const std::filesystem::path& program);

/// The entries of the run path (RUNPATH or RPATH) that `readelf -d` shows for `binary`, in
/// order; none when it has none.
std::vector<std::string> runPathsOf(const std::filesystem::path& binary);

/// Runs check_wheel.py on `wheel` with the build interpreter.
Outcome checkWheel(const std::filesystem::path& wheel);

/// Installs `wheel` with pip, without an index, into the fresh environment `venv` and returns
/// that environment's python; fails the test when pip fails or complains about RECORD.
std::filesystem::path pipInstall(const std::filesystem::path& venv,
                                 const std::filesystem::path& wheel);

/// The whole numbers that `line` starts with, up to the first word that is none.
std::vector<long> numbersOf(const std::string& line);

/// The last line of `text` that is not empty, without its line break.
std::string lastLine(const std::string& text);

} // namespace quorvex::e2e
