#include "platforms/posixplatform.hpp"

#include "bootstrap/othertemplate.hpp"
#include "core/context.hpp"
#include "core/host.hpp"
#include "core/log.hpp"
#include "platforms/shared.hpp"

#include <stdexcept>

namespace quorvex::posixplatform {

namespace fs = std::filesystem;

Plugin::Plugin(plugin::PluginManager& manager, const char* hostName, const char* name,
               const char* librarySuffix)
    : pluginManager_(manager), name_(name), librarySuffix_(librarySuffix) {
  if (host::platform() != hostName)
    throw std::runtime_error("Unsupported platform");
}

void Plugin::extendBuild(const options::BuildOptions& options) {
  library_ = options.library;
  // The option exists for Windows programs; here the product would be the same without it.
  if (options.no_console)
    log::getLogger("quorvex.builder")
        .warning("--no-console changes nothing on {}: only a Windows program is linked without "
                 "a console window",
                 name_);
}

bool Plugin::library(const char* hook) const {
  return platforms::buildOption(library_, name_, hook);
}

std::optional<plugin::CompileBasics> Plugin::getCompileBasics() {
  return plugin::CompileBasics{.objSuffix = ".o", .exeSuffix = ""};
}

std::optional<std::vector<fs::path>> Plugin::getExtraSources(const fs::path&,
                                                             const std::optional<std::string>&) {
  return std::vector<fs::path>{};
}

void Plugin::makeExecutable(const fs::path& exePath) {
  fs::permissions(exePath, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
}

std::optional<std::string> Plugin::getConfigTemplate() {
  return std::string(othertemplate::configTemplate);
}

std::optional<std::string> Plugin::getExecutableName(const std::string& mainModule) {
  if (!library("getExecutableName"))
    return mainModule;
  auto suffix = pluginManager_.context().interpreter().configVar("EXT_SUFFIX");
  return mainModule + (suffix && !suffix->empty() ? *suffix : librarySuffix_);
}

std::optional<plugin::InstallSelector> Plugin::getInstallSelector() {
  const auto& facts = pluginManager_.context().interpreter();
  return installSelectorFor(facts.major, facts.minor, facts.micro, facts.freeThreaded());
}

plugin::InstallSelector installSelectorFor(int major, int minor, int micro, bool freeThreaded) {
  auto shortName = std::to_string(major) + "." + std::to_string(minor);
  return {freeThreaded ? shortName + "+freethreaded" : shortName,
          shortName + "." + std::to_string(micro)};
}

std::optional<fs::path> Plugin::getExecutablePath(const fs::path& embedDir) {
  return embedDir / "bin";
}

std::optional<fs::path> Plugin::getExePath(const fs::path& path, const std::string& name) {
  return platforms::exePathBeside(path, name);
}

std::optional<fs::path> Plugin::resolveExePath(const fs::path& exePath) {
  return exePath;
}

} // namespace quorvex::posixplatform
