// The hook methods of the manager: each asks the plug-ins in load order and combines their
// answers by the rule of its kind of answer (see plugin.hpp).
#include "core/plugin.hpp"

#include "core/utils.hpp"

#include <fmt/format.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::plugin {

namespace {

// A single-value hook: a second answer is an error naming the hook.
auto onlyOne(const char* hook) {
  return [hook](auto&, auto&&) {
    throw std::runtime_error(
        fmt::format("The hook {} was answered by more than one plug-in", hook));
  };
}

// A mapping hook with known keys: merged key by key, the later plug-in winning.
constexpr auto merged = [](auto& result, auto&& later) { result.merge(std::move(later)); };

// A list hook: later answers are appended.
constexpr auto appended = [](auto& result, auto&& later) {
  result.insert(result.end(), std::make_move_iterator(later.begin()),
                std::make_move_iterator(later.end()));
};

template <typename T> void replaceIfGiven(std::optional<T>& field, std::optional<T>&& later) {
  if (later) field = std::move(later);
}

} // namespace

void CompileBasics::merge(CompileBasics&& later) {
  replaceIfGiven(objSuffix, std::move(later.objSuffix));
  replaceIfGiven(exeSuffix, std::move(later.exeSuffix));
}

void LinkerInfo::merge(LinkerInfo&& later) {
  for (Strings LinkerInfo::*field :
       {&LinkerInfo::extraObjects, &LinkerInfo::linkerArgs, &LinkerInfo::libraryDirs,
        &LinkerInfo::libraries, &LinkerInfo::runtimeLibraryDirs, &LinkerInfo::libraryLinkerArgs,
        &LinkerInfo::linkerArgsEntangle})
    replaceIfGiven(this->*field, std::move(later.*field));
}

void PluginManager::extendBuildParser(CLI::App& buildParser) {
  for (const auto& plugin : plugins) plugin->extendBuildParser(buildParser);
}

void PluginManager::extendSubParsers(CLI::App& mainParser, options::BuildOptions& options) {
  for (const auto& plugin : plugins) plugin->extendSubParsers(mainParser, options);
}

void PluginManager::extendBuild(const options::BuildOptions& options) {
  for (const auto& plugin : plugins) plugin->extendBuild(options);
}

std::optional<std::string> PluginManager::getExecutableName(const std::string& mainModule) {
  return ask<&Plugin::getExecutableName>(onlyOne("getExecutableName"), mainModule);
}

std::optional<InstallSelector> PluginManager::getInstallSelector() {
  return ask<&Plugin::getInstallSelector>(onlyOne("getInstallSelector"));
}

std::optional<CompileBasics> PluginManager::getCompileBasics() {
  return ask<&Plugin::getCompileBasics>(merged);
}

std::optional<std::vector<fs::path>>
PluginManager::getExtraSources(const fs::path& moduleBuildDir,
                               const std::optional<std::string>& productName) {
  return ask<&Plugin::getExtraSources>(appended, moduleBuildDir, productName);
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
  return ask<&Plugin::getExePath>(onlyOne("getExePath"), path, name);
}

std::optional<std::string> PluginManager::getConfigTemplate() {
  return ask<&Plugin::getConfigTemplate>(onlyOne("getConfigTemplate"));
}

std::unique_ptr<utils::PlatformCompiler> PluginManager::newCompiler(bool noInit) {
  return ask<&Plugin::newCompiler>(onlyOne("newCompiler"), noInit);
}

void PluginManager::extendCompiler(ccompiler::CCompiler& compiler) {
  for (const auto& plugin : plugins) plugin->extendCompiler(compiler);
}

std::optional<std::vector<std::string>> PluginManager::getCompileArgs() {
  return ask<&Plugin::getCompileArgs>(appended);
}

std::optional<fs::path> PluginManager::getRuntimeLibPath(const fs::path& pristinePython,
                                                         const fs::path& buildPath) {
  return ask<&Plugin::getRuntimeLibPath>(onlyOne("getRuntimeLibPath"), pristinePython, buildPath);
}

std::optional<LinkerInfo>
PluginManager::getLinkerArgs(const std::string& exeName,
                             const std::optional<fs::path>& libraryPath) {
  return ask<&Plugin::getLinkerArgs>(merged, exeName, libraryPath);
}

std::optional<fs::path> PluginManager::resolveExePath(const fs::path& exePath) {
  return ask<&Plugin::resolveExePath>(onlyOne("resolveExePath"), exePath);
}

void PluginManager::appendExecutable(const fs::path& exePath, const fs::path& zipPath) {
  for (const auto& plugin : plugins) plugin->appendExecutable(exePath, zipPath);
}

void PluginManager::makeExecutable(const fs::path& exePath) {
  for (const auto& plugin : plugins) plugin->makeExecutable(exePath);
}

std::optional<std::string> PluginManager::fixPlatformName(const std::string& platformName) {
  return ask<&Plugin::fixPlatformName>(onlyOne("fixPlatformName"), platformName);
}

std::optional<std::vector<RuntimeLibrary>>
PluginManager::getRuntimeLibraries(const std::string& projectName, const std::string& version,
                                   const std::optional<fs::path>& runtimeLibPath) {
  // A sequence of records belongs to one plug-in: two would ship the runtime twice.
  return ask<&Plugin::getRuntimeLibraries>(onlyOne("getRuntimeLibraries"), projectName, version,
                                           runtimeLibPath);
}

std::optional<fs::path> PluginManager::auditWheel(const std::optional<fs::path>& runtimeLibPath,
                                                  const fs::path& wheelPath,
                                                  const fs::path& outputPath,
                                                  const std::optional<std::string>& policy) {
  // One wheel is placed: a second answer would name a second product.
  return ask<&Plugin::auditWheel>(onlyOne("auditWheel"), runtimeLibPath, wheelPath, outputPath,
                                  policy);
}

void PluginManager::prepareShippedProduct(const fs::path& productPath, Shipment shipment,
                                          const std::string& distributionName,
                                          const std::optional<fs::path>& runtimeLibPath) {
  for (const auto& plugin : plugins)
    plugin->prepareShippedProduct(productPath, shipment, distributionName, runtimeLibPath);
}

std::optional<fs::path> PluginManager::ensureDynload(const fs::path& embedDir) {
  return ask<&Plugin::ensureDynload>(onlyOne("ensureDynload"), embedDir);
}

std::optional<fs::path> PluginManager::getExecutablePath(const fs::path& embedDir) {
  return ask<&Plugin::getExecutablePath>(onlyOne("getExecutablePath"), embedDir);
}

} // namespace quorvex::plugin
