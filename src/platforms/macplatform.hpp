#pragma once
// The macOS platform plug-in: the macOS answers to the platform hooks. Executables link against
// a copy of the pristine Python's runtime library in the build directory, whose install name
// becomes "@rpath/<file>", and find it through run paths relative to "@executable_path";
// libraries link against no Python at all and leave its symbols to the loading interpreter.
// The rules behind the answers are free functions of their inputs, so that they are checked on
// any host.

#include "core/plugin.hpp"
#include "core/process.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::macplatform {

class Plugin : public plugin::Plugin {
public:
  /// Keeps `manager` for the hooks this plug-in asks of all plug-ins. Throws
  /// `std::runtime_error("Unsupported platform")` unless the host is "darwin".
  explicit Plugin(plugin::PluginManager& manager);

  /// Keeps `options.library`, which `getExecutableName` and `getLinkerArgs` read.
  void extendBuild(const options::BuildOptions& options) override;
  /// A fresh compiler of the host's default kind prepared by `configureCompiler`, with the
  /// `getCompileArgs` answer and the `getLinkerArgs` hook of all plug-ins at link time.
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool noInit) override;
  /// ".o" and "".
  std::optional<plugin::CompileBasics> getCompileBasics() override;
  /// Always an empty list.
  std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path& moduleBuildDir,
                  const std::optional<std::string>& productName) override;
  /// Compile arguments for library code only (none); asked by `newCompiler`, not a hook.
  std::vector<std::string> getCompileLibArgs();
  /// `linkerInfoFor` the current build. Throws before `extendBuild`.
  std::optional<plugin::LinkerInfo>
  getLinkerArgs(const std::string& exeName,
                const std::optional<std::filesystem::path>& libraryPath) override;
  /// Adds execute permission for owner, group and others, keeping every other bit.
  void makeExecutable(const std::filesystem::path& exePath) override;
  /// The POSIX start-up configuration block.
  std::optional<std::string> getConfigTemplate() override;
  /// `narrowUniversal2` for the host's machine name.
  std::optional<std::string> fixPlatformName(const std::string& platformName) override;
  /// Copies the wheel into `outputPath` under its own name, replacing a wheel there.
  void auditWheel(const std::optional<std::filesystem::path>& runtimeLibPath,
                  const std::filesystem::path& wheelPath, const std::filesystem::path& outputPath,
                  const std::optional<std::string>& policy) override;
  /// The runtime library under "<project>-<version>.data/scripts/", beside the executable.
  std::optional<std::vector<plugin::RuntimeLibrary>>
  getRuntimeLibraries(const std::string& projectName, const std::string& version,
                      const std::optional<std::filesystem::path>& runtimeLibPath) override;
  /// `embedDir` / "bin" / "python": the copied pristine installation brings it.
  std::optional<std::filesystem::path>
  ensureDynload(const std::filesystem::path& embedDir) override;
  /// ("3.12", "3.12.4"), or ("3.13+freethreaded", "3.13.1") for a free-threaded interpreter.
  std::optional<plugin::InstallSelector> getInstallSelector() override;
  /// `installRuntimeLibrary` of the build interpreter's runtime library file.
  std::optional<std::filesystem::path>
  getRuntimeLibPath(const std::filesystem::path& pristinePython,
                    const std::filesystem::path& buildPath) override;
  /// `mainModule`, followed by the build interpreter's EXT_SUFFIX (or ".dylib") for a library
  /// build. Throws before `extendBuild`.
  std::optional<std::string> getExecutableName(const std::string& mainModule) override;
  /// `embedDir` / "bin".
  std::optional<std::filesystem::path>
  getExecutablePath(const std::filesystem::path& embedDir) override;
  /// The file `name` in the directory that holds `path`, as on Linux.
  std::optional<std::filesystem::path> getExePath(const std::filesystem::path& path,
                                                  const std::string& name) override;
  /// `exePath` unchanged.
  std::optional<std::filesystem::path>
  resolveExePath(const std::filesystem::path& exePath) override;

private:
  /// The `library` option of the current build; throws naming `hook` before `extendBuild`.
  bool library(const char* hook) const;

  plugin::PluginManager& pluginManager_;
  /// Set by `extendBuild` only; empty until the first build.
  std::optional<bool> library_;
};

// ---- Linking ----

/// The linker's name for a runtime library file: the name without its first three characters
/// ("lib"), up to its second ".": "libpython3.12.dylib" gives "python3.12", "libpython3.13t.dylib"
/// "python3.13t". Throws `std::runtime_error` naming the file when it has no ".".
std::string linkName(const std::filesystem::path& libraryPath);

/// How to link one output: a library gets only "-undefined dynamic_lookup"; an executable links
/// `libraryPath` by its directory and link name, with the run paths "@executable_path",
/// "@executable_path/../lib" and "@executable_path/../lib/<exeName>/". All six lists are given.
plugin::LinkerInfo linkerInfoFor(bool library, const std::string& exeName,
                                 const std::filesystem::path& libraryPath);

// ---- Runtime library and wheel tags ----

/// "libpython3.12.dylib", or "libpython3.13t.dylib" for a free-threaded interpreter.
std::string runtimeLibraryFileName(int major, int minor, bool freeThreaded);

/// Runs a program with the tool's own output, environment and working directory, without a
/// time-out, and returns how it ended.
using ToolRunner = std::function<process::Result(const std::vector<std::string>& argv)>;

/// The runner that `install_name_tool` is started with outside tests.
process::Result runTool(const std::vector<std::string>& argv);

/// Copies `pristinePython`/lib/`fileName` to `buildPath`/`fileName` (replacing it whole) and
/// sets the copy's install name to "@rpath/<fileName>" with `install_name_tool -id`. Returns the
/// copy's path. A missing source throws `std::filesystem::filesystem_error` naming it; a tool
/// that cannot be started throws `process::SpawnError` after the copy; a failing tool is logged
/// at WARNING and the copy keeps the install name it had.
std::filesystem::path installRuntimeLibrary(const std::filesystem::path& pristinePython,
                                            const std::filesystem::path& buildPath,
                                            const std::string& fileName,
                                            const ToolRunner& run = runTool);

/// A wheel platform tag for the host `machine`: "universal2" becomes "arm64" on arm64 and
/// aarch64 (any case; "10_15_universal2" becomes "11_0_arm64", the first arm64 release), and
/// "x86_64" on any other machine. A tag without "universal2" comes back unchanged.
std::string narrowUniversal2(const std::string& platformName, const std::string& machine);

} // namespace quorvex::macplatform
