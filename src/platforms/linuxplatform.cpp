#include "platforms/linuxplatform.hpp"

#include "bootstrap/othertemplate.hpp"
#include "core/host.hpp"

#include <stdexcept>

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

Plugin::Plugin(plugin::PluginManager& manager) : pluginManager_(manager) {
  if (host::platform() != "linux") throw std::runtime_error("Unsupported platform");
}

void Plugin::extendBuild(const options::BuildOptions& options) { library_ = options.library; }

bool Plugin::library(const char* hook) const {
  // Only a build run tells whether a library is being made; guessing would repair an
  // executable's wheel or name a library like a program.
  if (!library_)
    throw std::runtime_error(std::string("Linux platform: ") + hook +
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

} // namespace quorvex::linuxplatform
