#pragma once
// The three phases of one `compile` call, each against a given plug-in manager so that the
// phases can be driven with plug-ins of a test's own: source discovery and the rebuild
// decision, code generation with Cython, and the C compile groups with the link.

#include "core/plugin.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::compiler {

/// The working state that source discovery hands to code generation and linking.
struct SourcePlan {
  /// The build directory joined with the source root's place; relative to the working
  /// directory; exists once discovery has run.
  std::filesystem::path modBuildPath;
  /// The platform's object and executable suffixes.
  std::string objSuffix;
  std::optional<std::string> exeSuffix;
  /// The C inputs: the platform's extra sources, then the C file of every rebuilt module;
  /// code generation appends the shared module, the program bootstrap and the packages.
  std::vector<std::filesystem::path> cSources;
  /// The object file of every module, rebuilt or not, in module order.
  std::vector<std::filesystem::path> objects;
  /// The sources of the rebuilt modules; code generation appends the package bootstraps.
  std::vector<std::filesystem::path> pySources;
  /// Package name ("" for top-level modules) to its module stems, in first-seen order.
  std::vector<std::pair<std::string, std::vector<std::string>>> packageModules;
  /// "package.stem", or the bare stem of a top-level module, for every module.
  std::vector<std::string> qualifiedModules;
  /// The non-empty package names in first-seen order.
  std::vector<std::string> packages;

  /// The stems recorded under `package`; empty when there are none.
  std::vector<std::string> modulesOf(const std::string& package) const;
};

/// Where the files of the source root `resolvedSource` go below the build directory, seen
/// from the working directory `cwd`: the relative path when `cwd` is the root or one of its
/// ancestors ("." when equal), otherwise the root's parent name and its own name.
std::filesystem::path relativeBuildPlace(const std::filesystem::path& cwd,
                                         const std::filesystem::path& resolvedSource);

/// Phase 1: makes the module build directory, asks `getCompileBasics` and `getExtraSources`,
/// expands `sources` below `sourcePath` and decides for each module whether it is rebuilt
/// (always with `force`; otherwise when its object file is missing or not strictly newer).
/// Throws `std::invalid_argument` naming the files when two modules, or a module and a
/// package, share a name.
SourcePlan discoverSources(plugin::PluginManager& manager, const std::filesystem::path& sourcePath,
                           const std::optional<std::string>& exeName,
                           const std::vector<std::filesystem::path>& sources, bool force);

/// Phase 2: the shared-module and embed runs, the bootstrap and header renders, the splice,
/// the package bootstraps and the batch runs over the rebuilt modules (a library build whose
/// source-root ".pxd" files need stubs translates copies). Writes only below `modBuildPath`.
void generateSources(plugin::PluginManager& manager, SourcePlan& plan,
                     const std::filesystem::path& sourcePath,
                     const std::optional<std::string>& mainModule, bool library,
                     const std::optional<std::string>& projectMainModule);

/// The splice of `patchEmbeddedBootstrap`, asking `manager`.
void patchEmbeddedBootstrap(plugin::PluginManager& manager,
                            const std::filesystem::path& bootstrapCPath);

/// Asked once per link for the runtime library the product links against.
using RuntimePathSource = std::function<std::optional<std::filesystem::path>()>;

/// Phase 3: compiles the bootstrap group and the module group (output captured, logged at
/// DEBUG), links the executable or shared library into `targetPath` and lets the platform
/// finish an executable. Returns the product's path.
std::optional<std::filesystem::path>
compileAndLink(plugin::PluginManager& manager, SourcePlan& plan, const std::string& exeName,
               bool library, const std::filesystem::path& targetPath, bool noInit,
               const RuntimePathSource& runtimePath);

/// Where the product of a link goes: `targetPath` / `exeName` for a library, the platform's
/// `resolveExePath` of it for an executable.
std::filesystem::path productPath(plugin::PluginManager& manager, const std::string& exeName,
                                  bool library, const std::filesystem::path& targetPath);

/// A new compiler object from `manager`'s `newCompiler`; throws a `std::runtime_error` naming
/// the hook when no plug-in answers.
std::unique_ptr<utils::PlatformCompiler> requireCompiler(plugin::PluginManager& manager,
                                                         bool noInit);

} // namespace quorvex::compiler
