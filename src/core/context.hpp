#pragma once
// What one run of the tool works with: the plug-in manager, the build interpreter's facts, the
// build directory and the runner of external commands. The program's `main` makes one and
// passes it down; a test makes its own, so nothing of one test stays behind for the next.

#include "core/interpreter.hpp"
#include "core/process.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::plugin {
class PluginManager;
}

namespace quorvex {

class Context {
public:
  /// Gets the pieces of a child's output as they arrive.
  using OutputSink = std::function<void(std::string_view)>;
  /// Runs one split command line with `path` as the child's PATH and returns its result
  /// (captured output, exit status), handing the output to `onOutput`, when given, as it comes.
  using CommandRunner = std::function<process::Result(
      const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
      const std::string& path, const OutputSink& onOutput)>;

  /// A run with `plugins`, whose plug-ins reach it through `plugins.context()` while it lives.
  /// The build interpreter is the `python` beside `toolExecutable`; the build directory is
  /// `buildDirectory`, relative to the working directory of its first use.
  Context(plugin::PluginManager& plugins, std::filesystem::path toolExecutable,
          std::filesystem::path buildDirectory = ".quorvex_build", CommandRunner runner = {});
  ~Context();
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  plugin::PluginManager& plugins;
  /// The tool's executable, as `sys.executable` names it; its directory goes last on PATH of
  /// every command.
  const std::filesystem::path toolExecutable;
  /// Runs the commands of `utils::system`; a child process with its output captured unless a
  /// test gives its own.
  const CommandRunner runCommand;

  /// The build interpreter's facts, queried on the first call (see `interpreter::query`)
  /// unless given before.
  const interpreter::Facts& interpreter();
  void setInterpreter(interpreter::Facts facts);
  /// The build directory, made with a ".gitignore" on the first call.
  std::filesystem::path buildPath();

  /// The pristine Python and the runtime library once found, kept for the run by
  /// `pristine::getPristinePython` and `runtime::getRuntimePath`.
  std::optional<std::filesystem::path> pristinePython;
  std::optional<std::filesystem::path> runtimeLibrary;

private:
  std::mutex mutex_;
  std::optional<interpreter::Facts> facts_;
  const std::filesystem::path buildDirectory_;
  bool buildDirectoryMade_ = false;
};

} // namespace quorvex
