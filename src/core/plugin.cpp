#include "core/plugin.hpp"

#include "core/plugin_library.hpp"
#include "core/utils.hpp"

#include <stdexcept>

namespace quorvex::plugin {

std::unique_ptr<utils::PlatformCompiler> Plugin::newCompiler(bool /*noInit*/) { return nullptr; }

PluginManager::PluginManager(std::vector<std::unique_ptr<Plugin>> given,
                             const std::vector<std::string>& moduleNames,
                             const BuiltinFactories& builtins,
                             std::vector<std::filesystem::path> extensionDirs)
    : plugins(std::move(given)), extensionDirs_(std::move(extensionDirs)) {
  for (const std::string& name : moduleNames)
    if (auto plugin = _load_plugin_from_module(name, builtins))
      plugins.push_back(std::move(plugin));
}

PluginManager::~PluginManager() = default;

void PluginManager::register_(std::unique_ptr<Plugin> plugin) {
  plugins.push_back(std::move(plugin));
}

Context& PluginManager::context() const {
  if (!context_)
    throw std::logic_error("The plug-in manager serves no run: no Context was made with it");
  return *context_;
}

} // namespace quorvex::plugin
