#include "core/context.hpp"

#include "core/fileio.hpp"
#include "core/plugin.hpp"

namespace fs = std::filesystem;

namespace quorvex {

namespace {

process::Result runChild(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::string& path, const Context::OutputSink& onOutput) {
  return process::run(
      argv, {.captureOutput = true, .timeout = timeout, .path = path, .onOutput = onOutput});
}

// Line breaks of the platform, as a text-mode write would give.
#if defined(_WIN32)
constexpr const char* gitignoreText = "*\r\n!.gitignore";
#else
constexpr const char* gitignoreText = "*\n!.gitignore";
#endif

} // namespace

Context::Context(plugin::PluginManager& plugins, fs::path toolExecutable, fs::path buildDirectory,
                 CommandRunner runner)
    : plugins(plugins), toolExecutable(std::move(toolExecutable)),
      runCommand(runner ? std::move(runner) : CommandRunner(runChild)),
      buildDirectory_(std::move(buildDirectory)) {
  plugins.attach(this);
}

Context::~Context() { plugins.attach(nullptr); }

const interpreter::Facts& Context::interpreter() {
  std::lock_guard lock(mutex_);
  if (!facts_) facts_ = interpreter::query(toolExecutable);
  return *facts_;
}

void Context::setInterpreter(interpreter::Facts facts) {
  std::lock_guard lock(mutex_);
  facts_ = std::move(facts);
}

fs::path Context::buildPath() {
  std::lock_guard lock(mutex_);
  if (!buildDirectoryMade_) {
    fs::create_directories(buildDirectory_);
    fs::path gitignore = buildDirectory_ / ".gitignore";
    if (!fs::exists(fs::symlink_status(gitignore))) fileio::writeFile(gitignore, gitignoreText);
    buildDirectoryMade_ = true;
  }
  return buildDirectory_;
}

} // namespace quorvex
