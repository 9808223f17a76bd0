#pragma once
// Services the whole tool shares: external commands,
// environment overrides, template rendering, output capture, file-tree helpers and the
// platform compiler wrapper with its common configuration.

#include "core/ccompiler.hpp"
#include "core/context.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

namespace quorvex::utils {

/// Splits a command text into words: POSIX shell rules, or the non-POSIX rules on Windows
/// (`posix` false). Throws `std::invalid_argument` naming the command for an unclosed quote or
/// a trailing backslash (POSIX).
std::vector<std::string> splitCommand(const std::string& cmd, bool posix = true);

/// `word` written so that `system` splits it back into that one word: unchanged when it holds only
/// characters the splitter passes as they are, single-quoted otherwise. The Windows rules keep
/// quotes inside the word, so on Windows it is returned unchanged.
std::string quoteWord(const std::string& word);

/// The time an external command may take.
inline constexpr std::chrono::seconds commandTimeout{600};

/// Runs one command text through `context.runCommand` without a shell, with the working
/// directory's "bin" (as an absolute path) first and the tool's own directory last on the
/// child's PATH, and its output captured. Returns 0; a
/// non-zero exit throws `std::runtime_error` with "Command failed: " + cmd + "\nlog: " + output.
/// A program that cannot be started throws `process::SpawnError`, a time-out
/// `process::TimeoutError`; the tool's own PATH is never changed.
int system(Context& context, const std::string& cmd,
           std::chrono::milliseconds timeout = commandTimeout);

/// Runs the interpreter program named by the `getExePath` hook for the tool's executable and
/// "python", with the arguments `cmd`, as `system` does; the program's path is one word even
/// when it holds blanks.
void pythonCall(Context& context, const std::string& cmd);

/// An interpreter run made ready by `pythonCommand`; `run` may be called on any thread while
/// the context lives.
struct PythonCommand {
  Context* context;
  std::vector<std::string> argv;
  std::string text; ///< what a failure message shows
  /// Runs it as `pythonCall` does.
  void run() const;
  /// Runs it as `run` does with `timeout`, but returns how it ended, failed or not, with its
  /// output, instead of throwing for a non-zero exit; `onOutput` gets the output as it comes.
  process::Result outcome(std::chrono::milliseconds timeout,
                          const Context::OutputSink& onOutput = {}) const;
};

/// The run of `pythonCall(context, cmd)`, with the hook asked now and the run left for later.
PythonCommand pythonCommand(Context& context, const std::string& cmd);

/// Sets one environment variable for the guard's lifetime and restores the former value (or
/// removes the variable when it was unset) when the guard goes, also during unwinding.
class withEnv {
public:
  withEnv(std::string name, const std::string& value);
  ~withEnv();
  withEnv(const withEnv&) = delete;
  withEnv& operator=(const withEnv&) = delete;

private:
  std::string name_;
  std::optional<std::string> previous_;
};

/// Sets one environment variable of the process, or removes it when `value` is none, for
/// good; throws `std::system_error` naming the variable.
void setEnv(const std::string& name, const std::optional<std::string>& value);

/// A template given as a file to read or as the text itself.
using TemplateSource = std::variant<std::filesystem::path, std::string>;

/// Renders a Tempita template with `values` (a JSON object: its keys are the template's names;
/// null is None) through the build interpreter's Cython, and writes the result to `targetPath`
/// whole. (`template` itself is a C++ keyword.) A template error leaves no file behind.
void template_(Context& context, const TemplateSource& templatePath,
               const std::filesystem::path& targetPath, const nlohmann::json& values);

/// Captures everything written to descriptors 1 and 2 of the process (the tool's own writes and
/// those of children) while the guard lives, with the root logger's level at ERROR. A drain
/// thread empties the pipe as it fills.
class capture_output {
public:
  capture_output();
  ~capture_output();
  capture_output(const capture_output&) = delete;
  capture_output& operator=(const capture_output&) = delete;

  /// What has been drained so far.
  std::string getvalue() const;
  /// Restores the descriptors and the root level, waits (at most 5 s) for the drain thread and
  /// returns the whole text. The destructor does the same when it has not been called.
  std::string finish();

private:
  struct State;
  std::unique_ptr<State> state_;
};

/// What a tree copy makes of a symbolic link.
enum class LinkCopy {
  follow, ///< the file or directory it leads to, copied
  keep,   ///< the link as it is
  /// a link whose target (every link on the way followed) lies inside the copied tree stays a
  /// link, relative, to that target's copy, so that the copy can be moved; any other is followed
  keepInside,
};

/// Copies the entries of `src` into the existing directory `dst`, merging into directories
/// present on both sides and copying the others whole (links as `links` says, entries that
/// `ignore` names skipped). Stops at the first failing entry of a merged listing; a subtree
/// copied whole copies what it can, then throws one `filesystem_error` listing every failure
/// (a link whose target is missing cannot be followed). Asks `process::checkStop` before each
/// entry, so that a stop ends a long copy.
void copytree(const std::filesystem::path& src, const std::filesystem::path& dst,
              LinkCopy links = LinkCopy::follow,
              const std::function<std::vector<std::string>(const std::filesystem::path&,
                                                           const std::vector<std::string>&)>&
                  ignore = nullptr);

/// True when `inner` is `outer` or lies below it, compared component by component (no path is
/// resolved: give both in one form, such as canonical).
bool isWithin(const std::filesystem::path& inner, const std::filesystem::path& outer);

/// Adds read and write permission for owner and group to one path (following links).
void chmodRW(const std::filesystem::path& path);

/// A compiler object with the platform's share of every compile and link: compile arguments,
/// library-only compile arguments and a linker-information callback asked for each output.
class PlatformCompiler {
public:
  using LinkerArgsCallback = std::function<std::optional<plugin::LinkerInfo>(
      const std::string& outputName, const std::optional<std::filesystem::path>& libraryPath)>;

  explicit PlatformCompiler(std::unique_ptr<ccompiler::CCompiler> compiler,
                            std::vector<std::string> compile_args = {},
                            std::vector<std::string> compile_lib_args = {},
                            LinkerArgsCallback get_linker_args = nullptr);

  /// The wrapped compiler object: every operation the wrapper does not have itself.
  ccompiler::CCompiler* operator->() { return _compiler.get(); }
  ccompiler::CCompiler& compiler() { return *_compiler; }

  std::vector<std::string> compile(const std::vector<std::string>& sources,
                                   const ccompiler::CompileArgs& args = {});
  /// The linker information for one output, asked with `_productName` when set; empty when
  /// there is no callback or no answer.
  plugin::LinkerInfo _linker_info(const std::string& output_name);
  /// Prints "Link failed: " and the error on standard error when the link fails, and rethrows.
  void link_executable(const std::vector<std::string>& objects, const std::string& output_progname,
                       const ccompiler::LinkArgs& args = {});
  void link_shared_object(const std::vector<std::string>& objects,
                          const std::string& output_filename, const ccompiler::LinkArgs& args = {});

  std::unique_ptr<ccompiler::CCompiler> _compiler;
  std::vector<std::string> _compile_args;
  std::vector<std::string> _compile_lib_args;
  LinkerArgsCallback _get_linker_args;
  bool _library = false;
  std::optional<std::filesystem::path> _libraryPath;
  /// The name the platform's link options are asked for when it differs from the output name
  /// (a product linked under a temporary name); unset: the output name.
  std::optional<std::string> _productName;
};

/// Puts the settings every platform shares on a new compiler object: NDEBUG,
/// CYTHON_NO_PYINIT_EXPORT (noInit), CYTHON_COMPRESS_STRINGS=0, Py_GIL_DISABLED (free-threaded),
/// the build interpreter's include directory, Py_LIMITED_API (library code on 3.11+), then the
/// `extendCompiler` hook.
void configureCompiler(Context& context, ccompiler::CCompiler& compiler, bool noInit = false);

} // namespace quorvex::utils
