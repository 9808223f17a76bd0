#pragma once
// The Windows platform plug-in: the Windows answers to the platform hooks (the llvm-mingw
// clang or MSVC compiler with the fall-back from one to the other, console or windowed
// programs, ".exe" programs with an appended archive, ".pyd" libraries, the runtime DLLs and
// the interpreter selector). The rules behind the answers are free functions of their inputs,
// so they can be checked on any host.

#include "core/ccompiler.hpp"
#include "core/plugin.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::winplatform {

class Plugin : public plugin::Plugin {
public:
  /// Keeps `manager` and the toolchain directory named by QRV_MINGW32 (read only here).
  /// Throws `std::runtime_error("Unsupported platform")` unless the host is "win32".
  explicit Plugin(plugin::PluginManager& manager);

  /// Keeps `options.no_console` and `options.library`.
  void extendBuild(const options::BuildOptions& options) override;
  /// `chooseCompiler` for the driver `findMingwCompiler` finds now, the build interpreter's
  /// "libs" directory when it exists, `configureCompiler`, link-time optimisation for the
  /// chosen toolchain and the `getLinkerArgs` hook of all plug-ins at link time.
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool noInit) override;
  /// ".o" after a `newCompiler` that chose MinGW, ".obj" otherwise; ".exe".
  std::optional<plugin::CompileBasics> getCompileBasics() override;
  /// `resourceScript` as a one-element list when something exists there, else an empty list.
  std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path& moduleBuildDir,
                  const std::optional<std::string>& productName) override;
  /// `linkerInfoFor` the toolchain of the latest `newCompiler` and the build interpreter's
  /// `usesStableAbi`. Throws before `extendBuild`.
  std::optional<plugin::LinkerInfo>
  getLinkerArgs(const std::string& exeName,
                const std::optional<std::filesystem::path>& libraryPath) override;
  /// Appends the whole archive `zipPath`, when it exists, to the executable.
  void appendExecutable(const std::filesystem::path& exePath,
                        const std::filesystem::path& zipPath) override;
  /// The Windows start-up configuration block.
  std::optional<std::string> getConfigTemplate() override;
  /// The platform tag unchanged.
  std::optional<std::string> fixPlatformName(const std::string& platformName) override;
  /// A copy of the wheel, under its own name, in `outputPath`; nothing is repaired.
  std::optional<std::filesystem::path>
  auditWheel(const std::optional<std::filesystem::path>& runtimeLibPath,
             const std::filesystem::path& wheelPath, const std::filesystem::path& outputPath,
             const std::optional<std::string>& policy) override;
  /// `runtimeDllRecords` of the build interpreter's base installation.
  std::optional<std::vector<plugin::RuntimeLibrary>>
  getRuntimeLibraries(const std::string& projectName, const std::string& version,
                      const std::optional<std::filesystem::path>& runtimeLibPath) override;
  /// `embedDir` / "python.exe".
  std::optional<std::filesystem::path>
  ensureDynload(const std::filesystem::path& embedDir) override;
  /// `installSelectorFor` the build interpreter.
  std::optional<plugin::InstallSelector> getInstallSelector() override;
  /// `pristinePython` / `runtimeDllName`; nothing is checked.
  std::optional<std::filesystem::path>
  getRuntimeLibPath(const std::filesystem::path& pristinePython,
                    const std::filesystem::path& buildPath) override;
  /// `mainModule` followed by ".pyd" for a library build, ".exe" otherwise. Throws before
  /// `extendBuild`.
  std::optional<std::string> getExecutableName(const std::string& mainModule) override;
  /// `embedDir` itself: the program sits beside the interpreter.
  std::optional<std::filesystem::path>
  getExecutablePath(const std::filesystem::path& embedDir) override;
  /// `withExeSuffix` of `platforms::exePathBeside`.
  std::optional<std::filesystem::path> getExePath(const std::filesystem::path& path,
                                                  const std::string& name) override;
  /// `resolveExe` of the path.
  std::optional<std::filesystem::path>
  resolveExePath(const std::filesystem::path& exePath) override;

private:
  plugin::PluginManager& pluginManager_;
  std::optional<std::filesystem::path> toolchain_;
  bool useMingw_ = false;
  std::optional<bool> noConsole_;
  std::optional<bool> library_;
};

// ---- Toolchain choice ----

/// "aarch64-w64-mingw32-clang.exe" when the platform string holds "arm64" in any case,
/// "x86_64-w64-mingw32-clang.exe" otherwise.
std::string mingwDriverName(const std::string& platformString);

/// The llvm-mingw driver for `platformString`: in `toolchain`/bin when it is a file there,
/// else the first one along `searchPath` (the PATH text); written with forward slashes.
std::optional<std::string> findMingwCompiler(const std::optional<std::filesystem::path>& toolchain,
                                             const std::string& platformString,
                                             const std::string& searchPath);

/// Makes a raw compiler object of a kind ("mingw32" or "msvc").
using CompilerFactory =
    std::function<std::unique_ptr<ccompiler::CCompiler>(const std::string& kind)>;

/// The compiler object for the driver `mingwCc` (none: MSVC). With a driver, CC, CXX and
/// LDSHARED name it (quoted when it holds a blank) and an INFO line says so; should its object fail
/// to be made, one WARNING line, and MSVC. Without one (or after the fall-back) the three variables
/// are removed.
struct CompilerChoice {
  std::unique_ptr<ccompiler::CCompiler> compiler;
  bool useMingw = false;
};
CompilerChoice chooseCompiler(const std::optional<std::string>& mingwCc,
                              const CompilerFactory& make);

/// The link information of the four link shapes: MinGW or MSVC, each for executables (console
/// or windowed, `noConsole`) and for extension libraries, against python<major><minor>; a
/// library built against the stable ABI (`stableAbi`) against python3 instead.
plugin::LinkerInfo linkerInfoFor(bool useMingw, bool noConsole, int major, int minor,
                                 bool stableAbi);

/// The resource script compiled into the product `productName`: in `moduleBuildDir`, named
/// after the product with its suffix replaced by ".rc".
std::filesystem::path resourceScript(const std::filesystem::path& moduleBuildDir,
                                     const std::string& productName);

// ---- Products, runtime and interpreter selector ----

/// `path` with the suffix of its last component (from its last dot, unless that dot is the
/// first or last character) replaced by ".exe", or ".exe" appended. Throws
/// `std::invalid_argument` for a path without a file name.
std::filesystem::path withExeSuffix(const std::filesystem::path& path);

/// `exePath` when it exists, else its `withExeSuffix` sibling when that exists, else `exePath`.
std::filesystem::path resolveExe(const std::filesystem::path& exePath);

/// ("cpython-3.12-windows-x86_64-none", "3.12.7"); "+freethreaded" after the version and
/// "aarch64" for a platform string that holds "arm64" in any case.
plugin::InstallSelector installSelectorFor(int major, int minor, int micro, bool freeThreaded,
                                           const std::string& platformString);

/// "python312.dll" for 3.12, also for a free-threaded interpreter.
std::string runtimeDllName(int major, int minor);

/// The executable wheel's copies of the "python*.dll" files directly in `baseDir`, sorted by
/// name so that wheels are reproducible, under "<project>-<version>.data/scripts/". None when
/// `baseDir` does not exist.
std::vector<plugin::RuntimeLibrary> runtimeDllRecords(const std::filesystem::path& baseDir,
                                                      const std::string& projectName,
                                                      const std::string& version);

} // namespace quorvex::winplatform
