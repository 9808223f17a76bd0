#include "platforms/macplatform.hpp"

#include "bootstrap/othertemplate.hpp"
#include "core/host.hpp"
#include "core/context.hpp"
#include "platforms/linuxplatform.hpp"

#include <stdexcept>

namespace quorvex::macplatform {

namespace fs = std::filesystem;

Plugin::Plugin(plugin::PluginManager& manager) : pluginManager_(manager) {
  if (host::platform() != "darwin") throw std::runtime_error("Unsupported platform");
}

void Plugin::extendBuild(const options::BuildOptions& options) { library_ = options.library; }

bool Plugin::library(const char* hook) const {
  // Only a build run tells whether a library is being made; guessing would link a library
  // against the runtime or name it like a program.
  if (!library_)
    throw std::runtime_error(std::string("macOS platform: ") + hook +
                             " needs the build options, but extendBuild was not called");
  return *library_;
}

void Plugin::makeExecutable(const fs::path& exePath) {
  fs::permissions(exePath, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
}

std::optional<std::string> Plugin::getConfigTemplate() {
  return std::string(othertemplate::configTemplate);
}

std::optional<std::string> Plugin::getExecutableName(const std::string& mainModule) {
  if (!library("getExecutableName")) return mainModule;
  auto suffix = pluginManager_.context().interpreter().configVar("EXT_SUFFIX");
  return mainModule + (suffix && !suffix->empty() ? *suffix : std::string(".dylib"));
}

std::optional<fs::path> Plugin::getExecutablePath(const fs::path& embedDir) {
  return embedDir / "bin";
}

std::optional<fs::path> Plugin::getExePath(const fs::path& path, const std::string& name) {
  // Both are POSIX hosts: the Linux rule is the macOS one.
  return linuxplatform::exePathBeside(path, name);
}

std::optional<fs::path> Plugin::resolveExePath(const fs::path& exePath) { return exePath; }

std::optional<fs::path> Plugin::ensureDynload(const fs::path& embedDir) {
  return embedDir / "bin" / "python";
}

} // namespace quorvex::macplatform
