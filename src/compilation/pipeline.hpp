#pragma once
// The three phases of one `compile` call, each against the run's context so that the phases
// can be driven with plug-ins of a test's own: source discovery and the rebuild
// decision, code generation with Cython, and the C compile groups with the link.

#include "core/context.hpp"
#include "core/plugin.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::compiler {

/// The module name of Cython's shared utility module, and the stem of its files.
inline const std::string sharedName = "_qvx_shared";

/// One module of the build. A package's "__init__" file is the module of the package itself.
struct ModuleSource {
  /// The dotted name below the source root: "pkg.sub.mod", "pkg" for pkg/__init__.py.
  std::string name;
  /// The matched file.
  std::filesystem::path source;
  /// The stem of its generated C and object files: the dotted name, with ".__init__" for a
  /// package's own module, so that modules of one stem in different packages never meet.
  std::string fileStem;
  /// Whether it is translated and compiled again.
  bool rebuilt = false;
};

/// The module of `file` below `root` (not yet marked for rebuilding); none for an "__init__"
/// file directly in `root`, which belongs to no package.
std::optional<ModuleSource> moduleOf(const std::filesystem::path& root,
                                     const std::filesystem::path& file);

/// The working state that source discovery hands to code generation and linking.
struct SourcePlan {
  /// The build directory joined with the source root's place; relative to the working
  /// directory; exists once discovery has run.
  std::filesystem::path modBuildPath;
  /// The platform's object and executable suffixes.
  std::string objSuffix;
  std::optional<std::string> exeSuffix;
  /// The C inputs: the platform's extra sources, then the C file of every rebuilt module;
  /// code generation appends the shared module and the bootstrap.
  std::vector<std::filesystem::path> cSources;
  /// The object file of every module, rebuilt or not, in module order.
  std::vector<std::filesystem::path> objects;
  /// Every module in module order.
  std::vector<ModuleSource> modules;
  /// The dotted name of every package (a directory holding a module, at any depth), each
  /// after its parent.
  std::vector<std::string> packages;
};

/// The C symbol that stands for the module `name` in a product: ASCII, distinct for distinct
/// names.
std::string moduleSymbol(const std::string& name);

/// The init function that Cython gives the module `name`: "PyInit_" and its last name part, or
/// for a non-ASCII part, as CPython looks it up, "PyInitU_" and its punycode ("-" made "_").
std::string cythonInitFunction(const std::string& name);

/// Where the files of the source root `resolvedSource` go below the build directory, seen
/// from the working directory `cwd`: the relative path when `cwd` is the root or one of its
/// ancestors ("." when equal), otherwise the root's parent name and its own name.
std::filesystem::path relativeBuildPlace(const std::filesystem::path& cwd,
                                         const std::filesystem::path& resolvedSource);

/// Phase 1: makes the module build directory, asks `getCompileBasics` and `getExtraSources`,
/// expands `sources` below `sourcePath` and decides for each module whether it is rebuilt
/// (always with `force`; otherwise when its object file is missing or not strictly newer).
/// Throws `std::invalid_argument` naming the files when two files give one module name, or a
/// module has the name of a package.
SourcePlan discoverSources(Context& context, const std::filesystem::path& sourcePath,
                           const std::optional<std::string>& exeName,
                           const std::vector<std::filesystem::path>& sources, bool force);

/// Phase 2: the shared-module run, the bootstrap and header renders, then side by side the
/// batches of rebuilt modules, each module under its dotted name, and the bootstrap's run (then
/// the splice for a program); each module's init function is renamed to `moduleSymbol` (a
/// library build whose source-root ".pxd" files need stubs translates copies). A module that
/// fails to translate leaves no C file, and the error names it. Writes only below
/// `modBuildPath`.
void generateSources(Context& context, SourcePlan& plan,
                     const std::filesystem::path& sourcePath,
                     const std::optional<std::string>& mainModule, bool library,
                     const std::optional<std::string>& projectMainModule);

/// Asked once per link for the runtime library the product links against.
using RuntimePathSource = std::function<std::optional<std::filesystem::path>()>;

/// Phase 3: compiles every C file of the bootstrap group and the module group side by side
/// (each file's output kept whole and logged at DEBUG, a progress line per file), links the executable or shared library into `targetPath` and lets the platform
/// finish an executable. Returns the product's path.
std::optional<std::filesystem::path>
compileAndLink(Context& context, SourcePlan& plan, const std::string& exeName,
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
