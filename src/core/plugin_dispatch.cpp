// The hook methods of the manager: each asks the plug-ins in load order and combines their
// answers by the kind of answer the hook has.
#include "core/plugin.hpp"

#include "core/utils.hpp"

#include <fmt/format.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::plugin {

namespace {

using Plugins = std::vector<std::unique_ptr<Plugin>>;

[[noreturn]] void answeredTwice(const char* hook) {
  throw std::runtime_error(
      fmt::format("The hook {} was answered by more than one plug-in", hook));
}

// A hook whose answer cannot be combined: at most one plug-in may answer it.
template <typename T, typename Ask>
std::optional<T> single(const Plugins& plugins, const char* hook, Ask ask) {
  std::optional<T> result;
  for (const auto& plugin : plugins) {
    std::optional<T> answer = ask(*plugin);
    if (!answer) continue;
    if (result) answeredTwice(hook);
    result = std::move(answer);
  }
  return result;
}

// A mapping hook: later answers are merged in key by key, the later plug-in winning.
template <typename Map, typename Ask>
std::optional<Map> mapping(const Plugins& plugins, Ask ask) {
  std::optional<Map> result;
  for (const auto& plugin : plugins) {
    std::optional<Map> answer = ask(*plugin);
    if (!answer) continue;
    if (!result) {
      result = std::move(answer);
      continue;
    }
    for (auto& [key, value] : *answer) result->insert_or_assign(key, std::move(value));
  }
  return result;
}

// A list hook: later answers are appended.
template <typename List, typename Ask>
std::optional<List> list(const Plugins& plugins, Ask ask) {
  std::optional<List> result;
  for (const auto& plugin : plugins) {
    std::optional<List> answer = ask(*plugin);
    if (!answer) continue;
    if (!result) {
      result = std::move(answer);
      continue;
    }
    result->insert(result->end(), std::make_move_iterator(answer->begin()),
                   std::make_move_iterator(answer->end()));
  }
  return result;
}

// A hook whose answer is ignored: every plug-in is told.
template <typename Tell> void each(const Plugins& plugins, Tell tell) {
  for (const auto& plugin : plugins) tell(*plugin);
}

} // namespace

void PluginManager::extendBuildParser(CLI::App& buildParser) {
  each(plugins, [&](Plugin& p) { p.extendBuildParser(buildParser); });
}

void PluginManager::extendSubParsers(CLI::App& mainParser, cli::BuildArguments& args) {
  each(plugins, [&](Plugin& p) { p.extendSubParsers(mainParser, args); });
}

void PluginManager::extendBuild(const cli::BuildArguments& args) {
  each(plugins, [&](Plugin& p) { p.extendBuild(args); });
}

std::optional<std::string> PluginManager::getExecutableName(const std::string& mainModule) {
  return single<std::string>(plugins, "getExecutableName",
                             [&](Plugin& p) { return p.getExecutableName(mainModule); });
}

std::optional<InstallSelector> PluginManager::getInstallSelector() {
  return single<InstallSelector>(plugins, "getInstallSelector",
                                 [](Plugin& p) { return p.getInstallSelector(); });
}

std::optional<CompileBasics> PluginManager::getCompileBasics() {
  return mapping<CompileBasics>(plugins, [](Plugin& p) { return p.getCompileBasics(); });
}

std::optional<std::vector<fs::path>>
PluginManager::getExtraSources(const fs::path& moduleBuildDir,
                               const std::optional<std::string>& productName) {
  return list<std::vector<fs::path>>(
      plugins, [&](Plugin& p) { return p.getExtraSources(moduleBuildDir, productName); });
}

std::optional<TemplateExtensions> PluginManager::extendTemplate() {
  std::optional<TemplateExtensions> result;
  for (const auto& plugin : plugins) {
    std::optional<TemplateExtensions> answer = plugin->extendTemplate();
    // JSON null is how a JSON answer says None.
    if (!answer || answer->is_null()) continue;
    if (!result) {
      result = std::move(answer);
    } else if (result->is_object() && answer->is_object()) {
      // Key by key: a later plug-in's "code" replaces an earlier one's whole.
      result->update(*answer);
    } else {
      throw std::runtime_error(
          "The hook extendTemplate was answered by more than one plug-in with answers that do "
          "not merge");
    }
  }
  return result;
}

std::optional<fs::path> PluginManager::getExePath(const fs::path& path, const std::string& name) {
  return single<fs::path>(plugins, "getExePath",
                          [&](Plugin& p) { return p.getExePath(path, name); });
}

std::optional<std::string> PluginManager::getConfigTemplate() {
  return single<std::string>(plugins, "getConfigTemplate",
                             [](Plugin& p) { return p.getConfigTemplate(); });
}

std::unique_ptr<utils::PlatformCompiler> PluginManager::newCompiler(bool noInit) {
  std::unique_ptr<utils::PlatformCompiler> result;
  for (const auto& plugin : plugins) {
    std::unique_ptr<utils::PlatformCompiler> answer = plugin->newCompiler(noInit);
    if (!answer) continue;
    if (result) answeredTwice("newCompiler");
    result = std::move(answer);
  }
  return result;
}

void PluginManager::extendCompiler(ccompiler::CCompiler& compiler) {
  each(plugins, [&](Plugin& p) { p.extendCompiler(compiler); });
}

std::optional<std::vector<std::string>> PluginManager::getCompileArgs() {
  return list<std::vector<std::string>>(plugins, [](Plugin& p) { return p.getCompileArgs(); });
}

std::optional<fs::path> PluginManager::getRuntimeLibPath(const fs::path& pristinePython,
                                                         const fs::path& buildPath) {
  return single<fs::path>(plugins, "getRuntimeLibPath", [&](Plugin& p) {
    return p.getRuntimeLibPath(pristinePython, buildPath);
  });
}

std::optional<LinkerInfo>
PluginManager::getLinkerArgs(const std::string& exeName,
                             const std::optional<fs::path>& libraryPath) {
  return mapping<LinkerInfo>(plugins,
                             [&](Plugin& p) { return p.getLinkerArgs(exeName, libraryPath); });
}

std::optional<fs::path> PluginManager::resolveExePath(const fs::path& exePath) {
  return single<fs::path>(plugins, "resolveExePath",
                          [&](Plugin& p) { return p.resolveExePath(exePath); });
}

void PluginManager::appendExecutable(const fs::path& exePath, const fs::path& zipPath) {
  each(plugins, [&](Plugin& p) { p.appendExecutable(exePath, zipPath); });
}

void PluginManager::makeExecutable(const fs::path& exePath) {
  each(plugins, [&](Plugin& p) { p.makeExecutable(exePath); });
}

std::optional<std::string> PluginManager::fixPlatformName(const std::string& platformName) {
  return single<std::string>(plugins, "fixPlatformName",
                             [&](Plugin& p) { return p.fixPlatformName(platformName); });
}

std::optional<std::vector<RuntimeLibrary>>
PluginManager::getRuntimeLibraries(const std::string& projectName, const std::string& version,
                                   const std::optional<fs::path>& runtimeLibPath) {
  // A sequence of records belongs to one plug-in: two would ship the runtime twice.
  return single<std::vector<RuntimeLibrary>>(plugins, "getRuntimeLibraries", [&](Plugin& p) {
    return p.getRuntimeLibraries(projectName, version, runtimeLibPath);
  });
}

void PluginManager::auditWheel(const std::optional<fs::path>& runtimeLibPath,
                               const fs::path& wheelPath, const fs::path& outputPath,
                               const std::optional<std::string>& policy) {
  each(plugins, [&](Plugin& p) { p.auditWheel(runtimeLibPath, wheelPath, outputPath, policy); });
}

std::optional<fs::path> PluginManager::ensureDynload(const fs::path& embedDir) {
  return single<fs::path>(plugins, "ensureDynload",
                          [&](Plugin& p) { return p.ensureDynload(embedDir); });
}

std::optional<fs::path> PluginManager::getExecutablePath(const fs::path& embedDir) {
  return single<fs::path>(plugins, "getExecutablePath",
                          [&](Plugin& p) { return p.getExecutablePath(embedDir); });
}

} // namespace quorvex::plugin
