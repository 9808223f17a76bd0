#pragma once
// The macOS platform plug-in: the macOS answers to the platform hooks. Executables link against
// the pristine Python's runtime library, whose install name becomes "@rpath/<file>", through a
// link to it in the build directory, and find it through run paths relative to
// "@executable_path"; libraries link against no Python at all and leave its symbols to the
// loading interpreter. The rules behind the answers are free functions of their inputs, so that
// they are checked on any host.

#include "core/process.hpp"
#include "platforms/posixplatform.hpp"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::macplatform {

class Plugin : public posixplatform::Plugin {
public:
  /// Throws `std::runtime_error("Unsupported platform")` unless the host is "darwin". Library
  /// builds are named with ".dylib" when EXT_SUFFIX is unknown.
  explicit Plugin(plugin::PluginManager& manager)
      : posixplatform::Plugin(manager, "darwin", "macOS", ".dylib") {}

  /// A fresh compiler of the host's default kind prepared by `configureCompiler`, with the
  /// `getCompileArgs` answer and the deployment target of `platformTag`
  /// ("-mmacosx-version-min"), nothing more for library code and the `getLinkerArgs` hook of
  /// all plug-ins at link time.
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool noInit) override;
  /// `linkerInfoFor` the current build with the deployment target of `platformTag`. Throws
  /// before `extendBuild`.
  std::optional<plugin::LinkerInfo>
  getLinkerArgs(const std::string& exeName,
                const std::optional<std::filesystem::path>& libraryPath) override;
  /// `wheelPlatformTag` for the host's machine name.
  std::optional<std::string> fixPlatformName(const std::string& platformName) override;
  /// The wheel platform tag of the build interpreter's platform on this host, whose
  /// `deploymentTarget` the products are compiled and linked for: tag and binaries agree.
  std::string platformTag();
  /// Copies the wheel into `outputPath` under its own name, replacing a wheel there.
  std::optional<std::filesystem::path>
  auditWheel(const std::optional<std::filesystem::path>& runtimeLibPath,
             const std::filesystem::path& wheelPath, const std::filesystem::path& outputPath,
             const std::optional<std::string>& policy) override;
  /// The runtime library under "<project>-<version>.data/scripts/", beside the executable.
  std::optional<std::vector<plugin::RuntimeLibrary>>
  getRuntimeLibraries(const std::string& projectName, const std::string& version,
                      const std::optional<std::filesystem::path>& runtimeLibPath) override;
  /// `embedDir` / "bin" / "python": the copied pristine installation brings it.
  std::optional<std::filesystem::path>
  ensureDynload(const std::filesystem::path& embedDir) override;
  /// `installRuntimeLibrary` of the build interpreter's runtime library file.
  std::optional<std::filesystem::path>
  getRuntimeLibPath(const std::filesystem::path& pristinePython,
                    const std::filesystem::path& buildPath) override;
};

// ---- Linking ----

/// The linker's name for a runtime library file: the name without its first three characters
/// ("lib"), up to its second ".": "libpython3.12.dylib" gives "python3.12", "libpython3.13t.dylib"
/// "python3.13t". Throws `std::runtime_error` naming the file when it has no ".".
std::string linkName(const std::filesystem::path& libraryPath);

/// How to link one output: a library gets only "-undefined dynamic_lookup"; an executable links
/// `libraryPath` by its directory and link name, with the run paths "@executable_path",
/// "@executable_path/../lib" and "@executable_path/../lib/<exeName>/". With a
/// `deploymentTarget`, both link as "-mmacosx-version-min=<target>" says, so that the binary
/// records it as its minimum macOS. All six lists are given.
plugin::LinkerInfo linkerInfoFor(bool library, const std::string& exeName,
                                 const std::filesystem::path& libraryPath,
                                 const std::optional<std::string>& deploymentTarget = {});

// ---- Runtime library and wheel tags ----

/// "libpython3.12.dylib", or "libpython3.13t.dylib" for a free-threaded interpreter.
std::string runtimeLibraryFileName(int major, int minor, bool freeThreaded);

/// Runs a program with the tool's own output, environment and working directory, without a
/// time-out, and returns how it ended.
using ToolRunner = std::function<process::Result(const std::vector<std::string>& argv)>;

/// The runner that `install_name_tool` is started with outside tests.
process::Result runTool(const std::vector<std::string>& argv);

/// Makes `buildPath`/`fileName` (replacing what is there) a relative link to
/// `pristinePython`/lib/`fileName` and sets that library's install name to "@rpath/<fileName>"
/// with `install_name_tool -id`, so that a program in the build directory loads the library
/// of the installation that is its home. Returns the link's path. A missing library throws
/// `std::filesystem::filesystem_error` naming it; a tool that cannot be started throws
/// `process::SpawnError` after the link is made; a failing tool is logged at WARNING and the
/// library keeps the install name it had.
std::filesystem::path installRuntimeLibrary(const std::filesystem::path& pristinePython,
                                            const std::filesystem::path& buildPath,
                                            const std::string& fileName,
                                            const ToolRunner& run = runTool);

/// The wheel platform tag that installers take on the host `machine` for the platform name
/// "macosx_<major>_<minor>_<architecture>": "universal2" becomes "arm64" on arm64 and aarch64
/// (any case) and "x86_64" on any other machine; an arm64 tag is at least "11_0", the first
/// arm64 release ("macosx_10_9_universal2" gives "macosx_11_0_arm64" there); from 11 on the
/// minor version is 0, the only one installers accept ("macosx_14_2_arm64" gives
/// "macosx_14_0_arm64"). Other architectures keep their minimum; a name of another form comes
/// back unchanged.
std::string wheelPlatformTag(const std::string& platformName, const std::string& machine);

/// The oldest macOS that a platform tag "macosx_<major>_<minor>_<architecture>" admits, as
/// the deployment target reads it: "11.0" for "macosx_11_0_arm64". None for another form.
std::optional<std::string> deploymentTarget(const std::string& platformTag);

} // namespace quorvex::macplatform
