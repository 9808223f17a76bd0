#pragma once
// Helpers of the start-up tests: run the build interpreter's Cython and the host C compiler
// the way the compile step does, and run the programs they make.

#include <filesystem>
#include <string>
#include <vector>

namespace quorvex::testing {

/// Runs `argv` and returns its combined output; a failed run fails with the command and its
/// output in the message.
std::string runOrThrow(const std::vector<std::string>& argv);

/// Exit status and combined output of one run of a built program.
struct RunResult {
  int status = 0;
  std::string output;
};
/// Runs `argv` (argv[0] is the program) with a 60 s time-out.
RunResult runProgram(const std::vector<std::string>& argv);

/// Cython with the compile step's options ("-3 -X annotation_typing=False")
/// and `args`, run by the build interpreter.
void cython(const std::vector<std::string>& args);

/// Compiles `cFile` into an object beside it, with the include directories of the build
/// interpreter and the macros the compile step gives executables; returns the object path and
/// appends any compiler diagnostics to `diagnostics`.
std::filesystem::path compileC(const std::filesystem::path& cFile, std::string& diagnostics,
                               const std::vector<std::string>& extraArgs = {});

/// Links `objects` into `output` against the build interpreter's libpython, with a run path
/// to its library directory so that the program can be copied anywhere.
void linkProgram(const std::vector<std::filesystem::path>& objects,
                 const std::filesystem::path& output);

/// The file's text with the first occurrence of the embedded main's configuration call
/// replaced by `block`, as the compile step splices it.
void spliceConfig(const std::filesystem::path& cFile, const std::string& block);

/// "python3.12" for the build interpreter.
std::string pythonVersionDir();

} // namespace quorvex::testing
