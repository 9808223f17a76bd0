#pragma once
// The base of the Linux and macOS plug-ins: the answers both POSIX targets give alike (object
// and program suffixes, execute bits, the POSIX start-up block, product names and places, the
// interpreter selector).

#include "core/plugin.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::posixplatform {

class Plugin : public plugin::Plugin {
public:
  /// Keeps `options.library`, which the `library` check reads; warns that `no_console`
  /// changes nothing on this platform.
  void extendBuild(const options::BuildOptions& options) override;
  /// ".o" and "".
  std::optional<plugin::CompileBasics> getCompileBasics() override;
  /// Always a new empty list: no extra C sources.
  std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path& moduleBuildDir,
                  const std::optional<std::string>& productName) override;
  /// Adds execute permission for owner, group and others, keeping every other bit.
  void makeExecutable(const std::filesystem::path& exePath) override;
  /// The POSIX start-up configuration block.
  std::optional<std::string> getConfigTemplate() override;
  /// `mainModule`, followed by the build interpreter's EXT_SUFFIX (or the platform's library
  /// suffix) for a library build. Throws when `extendBuild` has not run.
  std::optional<std::string> getExecutableName(const std::string& mainModule) override;
  /// `installSelectorFor` the build interpreter.
  std::optional<plugin::InstallSelector> getInstallSelector() override;
  /// `embedDir` / "bin".
  std::optional<std::filesystem::path>
  getExecutablePath(const std::filesystem::path& embedDir) override;
  /// `platforms::exePathBeside`.
  std::optional<std::filesystem::path> getExePath(const std::filesystem::path& path,
                                                  const std::string& name) override;
  /// `exePath` unchanged.
  std::optional<std::filesystem::path>
  resolveExePath(const std::filesystem::path& exePath) override;

protected:
  /// Keeps `manager` for the hooks the plug-in asks of all plug-ins. Throws
  /// `std::runtime_error("Unsupported platform")` unless the host is `hostName`. `name` starts
  /// the plug-in's messages; `librarySuffix` ends library names when EXT_SUFFIX is unknown.
  Plugin(plugin::PluginManager& manager, const char* hostName, const char* name,
         const char* librarySuffix);

  /// The `library` option of the current build; throws naming `hook` before `extendBuild`.
  bool library(const char* hook) const;

  plugin::PluginManager& pluginManager_;
  const std::string name_;

private:
  const std::string librarySuffix_;
  /// Set by `extendBuild` only; empty until the first build.
  std::optional<bool> library_;
};

/// ("3.12", "3.12.4"), or ("3.13+freethreaded", "3.13.1") for a free-threaded interpreter.
plugin::InstallSelector installSelectorFor(int major, int minor, int micro, bool freeThreaded);

} // namespace quorvex::posixplatform
