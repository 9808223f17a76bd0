// Loading plug-ins: the tool's own platform plug-ins by their built-in names and the
// extension library "quorvexpro" from the directories the manager is given.
#include "core/plugin.hpp"

#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/plugin_library.hpp"

#include <fmt/format.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::plugin {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.plugin"); }

std::string pythonListText(const std::vector<fs::path>& items) {
  std::vector<std::string> quoted;
  for (const fs::path& item : items) quoted.push_back("'" + item.string() + "'");
  return fmt::format("[{}]", fmt::join(quoted, ", "));
}

void warnLoadFailure(const std::string& moduleName, const std::string& error,
                     const std::vector<fs::path>& searched) {
  logger().warning("Failed to load plugin {}: {} (sys.executable={}, sys.path={})", moduleName,
                   error, interpreter::toolExecutable().string(), pythonListText(searched));
}

// Opens the extension library from the first of `dirs` that holds it, by its whole path: the
// loader's own search of a bare name could take it from the working directory.
std::unique_ptr<SharedLibrary> openExtension(const std::string& moduleName,
                                             const std::vector<fs::path>& dirs,
                                             std::string& error) {
  const std::string fileName = libraryFileName(moduleName);
  for (const fs::path& dir : dirs) {
    const fs::path candidate = dir / fileName;
    std::error_code ignored;
    if (!fs::exists(candidate, ignored)) continue;
    return SharedLibrary::open(candidate.string(), error);
  }
  error = fmt::format("No module named '{}' (no {} in the directories searched)", moduleName,
                      fileName);
  return nullptr;
}

} // namespace

std::unique_ptr<Plugin> PluginManager::_load_plugin_from_module(const std::string& moduleName,
                                                                const BuiltinFactories& builtins) {
  // A name without an entry is a platform module this build does not carry.
  if (moduleName.starts_with(".")) {
    auto found = builtins.find(moduleName);
    if (found == builtins.end()) {
      warnLoadFailure(moduleName,
                      fmt::format("No module named 'quorvex.{}'", moduleName.substr(1)),
                      extensionDirs_);
      return nullptr;
    }
    try {
      return found->second(*this);
    } catch (const std::exception& error) {
      logger().warning("Plugin {} constructor failed: {}", moduleName, error.what());
      return nullptr;
    }
  }

  std::string error;
  std::unique_ptr<SharedLibrary> library = openExtension(moduleName, extensionDirs_, error);
  if (!library) {
    warnLoadFailure(moduleName, error, extensionDirs_);
    return nullptr;
  }

  auto factory = reinterpret_cast<ExtensionFactory>(library->symbol("quorvexpro_plugin"));
  if (!factory) {
    logger().warning("Plugin module {} has no Plugin class", moduleName);
    return nullptr;
  }
  std::unique_ptr<Plugin> plugin;
  try {
    plugin.reset(factory(this));
  } catch (const std::exception& error) {
    logger().warning("Plugin {} constructor failed: {}", moduleName, error.what());
    return nullptr;
  }
  if (!plugin) {
    logger().warning("Plugin {} constructor failed: {}", moduleName, "the factory made no plug-in");
    return nullptr;
  }
  libraries_.push_back(std::make_unique<LoadedLibrary>(LoadedLibrary{std::move(library)}));
  return plugin;
}

std::vector<fs::path> extensionSearchPath(const fs::path& toolExecutable) {
  std::vector<fs::path> dirs = userLibraryDirs();
  dirs.push_back(installedLibraryDir(toolExecutable));
  return dirs;
}

} // namespace quorvex::plugin
