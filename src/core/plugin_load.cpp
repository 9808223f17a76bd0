// Loading plug-ins: the tool's own platform plug-ins by their built-in names and the
// extension library "quorvexpro" through the dynamic loader.
#include "core/plugin.hpp"

#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/plugin_library.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace quorvex::plugin {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.plugin"); }

// Directories put in front of the library search for extension plug-ins; an entry stays for
// the rest of the process, so later managers find the library there at once.
std::vector<std::string>& addedSearchDirs() {
  static std::vector<std::string> dirs;
  return dirs;
}

std::string pythonListText(const std::vector<std::string>& items) {
  std::vector<std::string> quoted;
  for (const std::string& item : items) quoted.push_back("'" + item + "'");
  return fmt::format("[{}]", fmt::join(quoted, ", "));
}

// What the manager searches for an extension library, as the load warnings show it.
std::vector<std::string> searchPath() {
  std::vector<std::string> dirs = addedSearchDirs();
  for (std::string& dir : loaderSearchPath()) dirs.push_back(std::move(dir));
  return dirs;
}

void warnLoadFailure(const std::string& moduleName, const std::string& error) {
  logger().warning("Failed to load plugin {}: {} (sys.executable={}, sys.path={})", moduleName,
                   error, interpreter::toolExecutable().string(), pythonListText(searchPath()));
}

// Opens the extension library from the added directories, then through the loader's own search.
std::unique_ptr<SharedLibrary> openExtension(const std::string& fileName, std::string& error) {
  for (const std::string& dir : addedSearchDirs()) {
    const fs::path candidate = fs::path(dir) / fileName;
    if (!fs::exists(candidate)) continue;
    if (auto library = SharedLibrary::open(candidate.string(), error)) return library;
    return nullptr;
  }
  return SharedLibrary::open(fileName, error);
}

} // namespace

std::unique_ptr<Plugin> PluginManager::_load_plugin_from_module(const std::string& moduleName,
                                                                const BuiltinFactories& builtins) {
  // A name without an entry is a platform module this build does not carry.
  if (moduleName.starts_with(".")) {
    auto found = builtins.find(moduleName);
    if (found == builtins.end()) {
      warnLoadFailure(moduleName,
                      fmt::format("No module named 'quorvex.{}'", moduleName.substr(1)));
      return nullptr;
    }
    try {
      return found->second(*this);
    } catch (const std::exception& error) {
      logger().warning("Plugin {} constructor failed: {}", moduleName, error.what());
      return nullptr;
    }
  }

  const std::string fileName = libraryFileName(moduleName);
  std::string error;
  std::unique_ptr<SharedLibrary> library = openExtension(fileName, error);
  if (!library) {
    warnLoadFailure(moduleName, error);
    // A project may keep the extension in its own src directory.
    const fs::path srcDir = fs::current_path() / "src";
    const std::string srcText = srcDir.string();
    auto& added = addedSearchDirs();
    if (!fs::is_directory(srcDir) || std::find(added.begin(), added.end(), srcText) != added.end())
      return nullptr;
    added.insert(added.begin(), srcText);
    library = openExtension(fileName, error);
    if (!library) {
      logger().warning("Failed to load plugin {} from src fallback: {}", moduleName, error);
      return nullptr;
    }
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

} // namespace quorvex::plugin
