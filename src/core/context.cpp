#include "core/context.hpp"

#include "core/fileio.hpp"
#include "core/plugin.hpp"

#include <fstream>

namespace fs = std::filesystem;

namespace quorvex {

namespace {

process::Result runChild(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const std::string& path) {
  return process::run(argv, {.captureOutput = true, .timeout = timeout, .path = path});
}

void writeGitignore(const fs::path& target) {
  fs::path temporary = fileio::temporarySibling(target);
  fileio::TemporaryFile cleanup(temporary);
  {
    // Text mode: the line break is the platform's own.
    std::ofstream out(temporary);
    out << "*\n!.gitignore";
    out.close();
    if (!out)
      throw fs::filesystem_error("cannot write", temporary,
                                 std::make_error_code(std::errc::io_error));
  }
  fs::rename(temporary, target);
  cleanup.release();
}

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
    if (!fs::exists(fs::symlink_status(gitignore))) writeGitignore(gitignore);
    buildDirectoryMade_ = true;
  }
  return buildDirectory_;
}

} // namespace quorvex
