#pragma once
// Starting child processes without a shell. The POSIX implementation looks the program up in
// the absolute directories of PATH only (never the working directory), forks and executes it,
// reads the child's standard output and error through one pipe with poll so a chatty child
// never blocks, retries waitpid on EINTR and reports a death by signal as such. On POSIX each
// child leads a process group of its own; SIGINT, SIGTERM, SIGHUP or SIGQUIT sent to the tool
// stop the running children's groups, and the tool then dies by that signal, unless a
// `StopDeferral` lives: then the signal is kept, and the work in hand learns of it by `Stopped`.
// However the tool ends, also by SIGKILL, a guardian process forked before its first child
// stops the groups of the children still running (on Linux the children themselves die with the
// tool at once). On Windows the children run in a job that ends with the tool, and a console's
// Ctrl-C reaches them by itself; while a `StopDeferral` lives, the tool keeps it too.

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex::process {

/// How a child ended, and what it wrote when its output was captured.
struct Result {
  int exitCode = 0;         ///< exit status when the child exited
  int signal = 0;           ///< the signal that ended the child, 0 when it exited
  std::string output;       ///< standard output and error together (captured runs only)
  /// True when the child exited with status 0.
  bool ok() const { return signal == 0 && exitCode == 0; }
  /// How the run of `command` ended, for an error message: "command '<command>' was killed by
  /// signal N" or "... failed with exit code N"; "" when it succeeded.
  std::string failure(const std::string& command) const {
    if (signal != 0)
      return "command '" + command + "' was killed by signal " + std::to_string(signal);
    if (exitCode != 0)
      return "command '" + command + "' failed with exit code " + std::to_string(exitCode);
    return "";
  }
};

/// How a child is started: its output captured or inherited, a time-out, its input.
struct Options {
  /// Standard output and error go into one pipe and come back in `Result::output`; otherwise
  /// the child inherits the tool's descriptors 1 and 2.
  bool captureOutput = true;
  /// The child is killed when it runs longer; nullopt waits for ever.
  std::optional<std::chrono::milliseconds> timeout{};
  /// Bytes written to the child's standard input (then closed); nullopt inherits it.
  std::optional<std::string> input{};
  /// The child's PATH, along which argv[0] is also looked up; nullopt keeps the tool's own.
  /// Given per child, so that runs on several threads never change the tool's environment.
  std::optional<std::string> path{};
  /// With `captureOutput`, given each piece of the output as it arrives (on the calling
  /// thread), so that a long run's progress can be shown while it goes on.
  std::function<void(std::string_view)> onOutput{};
};

/// The program could not be found or started; the message names it.
class SpawnError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};
/// The child outlived its time-out and was killed; `output()` holds what it wrote until then.
class TimeoutError : public std::runtime_error {
public:
  explicit TimeoutError(const std::string& message, std::string output = {})
      : std::runtime_error(message), output_(std::move(output)) {}
  const std::string& output() const { return output_; }

private:
  std::string output_;
};

/// A stop signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT; on Windows Ctrl-C, Ctrl-Break or the
/// console's closing, as SIGINT, SIGBREAK and SIGTERM) that came while a `StopDeferral` lives.
/// No `std::exception`, so that code which gathers errors and goes on never takes a stop for
/// one; what it passes through undoes its work on the way (catch (...), destructors).
class Stopped {
public:
  explicit Stopped(int signal) : signal_(signal) {}
  int signal() const { return signal_; }

private:
  int signal_;
};

/// While one lives, a stop signal stops the running children as always but does not end the
/// tool at once: `run` throws `Stopped` instead of starting a child and once its child has
/// ended, and so does `checkStop`, so that work which would leave something half made can
/// remove it while `Stopped` unwinds. When the last deferral goes, a stop that came meanwhile
/// ends the tool: by its signal on POSIX (a shell reports 128 + it), with exit status 128 + it
/// on Windows. Deferrals nest.
class StopDeferral {
public:
  StopDeferral();
  ~StopDeferral();
  StopDeferral(const StopDeferral&) = delete;
  StopDeferral& operator=(const StopDeferral&) = delete;
};

/// The stop signal that came while a `StopDeferral` lives; 0 when none came.
int stopRequested();

/// Throws `Stopped` when a stop signal came while a `StopDeferral` lives; cheap enough to call
/// for every file of a copy.
inline void checkStop() {
  if (const int signal = stopRequested()) throw Stopped(signal);
}

/// Runs argv[0] (a path when it holds a slash, else looked up in the absolute directories of
/// `Options::path` or the current PATH) with `argv` and waits for it. Safe to call from
/// several threads at once.
Result run(const std::vector<std::string>& argv, const Options& options = {});

} // namespace quorvex::process
