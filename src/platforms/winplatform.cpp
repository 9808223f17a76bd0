#include "platforms/winplatform.hpp"

#include "bootstrap/wintemplate.hpp"
#include "core/host.hpp"

#include <cstdlib>
#include <stdexcept>

namespace quorvex::winplatform {

Plugin::Plugin(plugin::PluginManager& manager) : pluginManager_(manager) {
  if (host::platform() != "win32")
    throw std::runtime_error("Unsupported platform");
  if (const char* toolchain = std::getenv("QRV_MINGW32"); toolchain && *toolchain)
    toolchain_ = std::filesystem::path(toolchain);
}

void Plugin::extendBuild(const options::BuildOptions& options) {
  noConsole_ = options.no_console;
  library_ = options.library;
}

std::optional<std::string> Plugin::getConfigTemplate() {
  return std::string(wintemplate::configTemplate);
}

} // namespace quorvex::winplatform
