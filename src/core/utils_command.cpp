#include "core/utils.hpp"

#include "core/interpreter.hpp"
#include "core/utf8.hpp"

#include <cstdlib>

namespace quorvex::utils {

namespace {

#if defined(_WIN32)
constexpr bool posixRules = false;
constexpr const char* localBin = ".\\bin";
constexpr const char* pathListSeparator = ";";
#else
constexpr bool posixRules = true;
constexpr const char* localBin = "./bin";
constexpr const char* pathListSeparator = ":";
#endif

bool isExecutableFile(const std::filesystem::path& path) {
  std::error_code error;
  namespace fs = std::filesystem;
  return fs::is_regular_file(path, error) &&
         (fs::status(path, error).permissions() & fs::perms::owner_exec) != fs::perms::none;
}

bool foundAlong(const std::string& program, const std::string& pathList) {
  size_t start = 0;
  while (start <= pathList.size()) {
    size_t end = pathList.find(pathListSeparator[0], start);
    if (end == std::string::npos) end = pathList.size();
    std::string dir = pathList.substr(start, end - start);
    if (isExecutableFile(std::filesystem::path(dir.empty() ? "." : dir) / program)) return true;
    start = end + 1;
  }
  return false;
}

// The tool is installed beside the programs it runs (uv, auditwheel in the same virtual
// environment), which need not be on PATH when the environment is not activated: a bare program
// name that PATH does not find is taken from the tool's own directory when it is there.
void preferToolDirectory(std::vector<std::string>& argv, const std::string& childPath) {
  if (argv.empty() || argv[0].find('/') != std::string::npos ||
      argv[0].find('\\') != std::string::npos || foundAlong(argv[0], childPath))
    return;
  std::filesystem::path beside = interpreter::toolExecutable().parent_path() / argv[0];
  if (isExecutableFile(beside)) argv[0] = beside.string();
}

process::Result runChild(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  std::vector<std::string> words = argv;
  const char* path = std::getenv("PATH");
  preferToolDirectory(words, path ? path : "");
  return process::run(words, {.captureOutput = true, .timeout = timeout});
}

// The runner behind `system`; replaced only by `CommandRunnerOverride`.
CommandRunnerOverride::Runner& currentRunner() {
  static CommandRunnerOverride::Runner runner = runChild;
  return runner;
}

} // namespace

CommandRunnerOverride::CommandRunnerOverride(Runner runner)
    : previous_(std::exchange(currentRunner(), std::move(runner))) {}

CommandRunnerOverride::~CommandRunnerOverride() { currentRunner() = std::move(previous_); }

namespace {

// Runs words already split from `cmd`; `cmd` is what a failure message shows.
int runWords(const std::vector<std::string>& argv, const std::string& cmd,
             std::chrono::milliseconds timeout) {
  const char* inherited = std::getenv("PATH");
  std::string oldPath = inherited ? inherited : "";
  std::string childPath =
      oldPath.empty() ? std::string(localBin) : localBin + std::string(pathListSeparator) + oldPath;

  process::Result result;
  {
    withEnv path("PATH", childPath);
    result = currentRunner()(argv, timeout);
  }
  if (!result.ok()) {
    // Undecodable bytes must not hide the failure itself, so they become U+FFFD.
    std::string log = utf8::normaliseLineEnds(utf8::decodeReplace(result.output));
    throw std::runtime_error("Command failed: " + cmd + "\nlog: " + log);
  }
  return 0;
}

} // namespace

int system(const std::string& cmd, std::chrono::milliseconds timeout) {
  // Split first: a command that cannot be split runs nothing and leaves PATH alone.
  return runWords(splitCommand(cmd, posixRules), cmd, timeout);
}

void pythonCall(const std::string& cmd) {
  std::optional<std::filesystem::path> program =
      plugin::pluginManager().getExePath(interpreter::toolExecutable(), "python");
  if (!program)
    throw std::runtime_error(
        "No plug-in answered the hook getExePath: cannot name the interpreter program to run '" +
        cmd + "'");
  // The interpreter's path stays one word: the user chose the directory the tool lives in, and
  // a blank in it must not split the program name.
  std::vector<std::string> argv = splitCommand(cmd, posixRules);
  argv.insert(argv.begin(), program->string());
  runWords(argv, program->string() + " " + cmd, commandTimeout);
}

bool isFreeThreaded() {
  const interpreter::Facts& facts = interpreter::facts();
  return interpreter::isFreeThreaded(facts.major, facts.minor, facts.configInt("Py_GIL_DISABLED"),
                                     facts.configVar("SOABI").value_or(""));
}

} // namespace quorvex::utils
