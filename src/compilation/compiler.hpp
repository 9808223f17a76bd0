#pragma once
// The compilation pipeline: source discovery and the rebuild decision, the Cython runs, the
// template renders, the splice of the platform's start-up configuration, and the C compile and
// link of one executable or one shared library.

#include "core/utils.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::compiler {

struct CompileOptions {
  bool force = true;
  bool noConsole = false;
  bool library = false;
  std::optional<std::filesystem::path> targetPath;
  bool noInit = false;
  std::optional<std::string> projectMainModule;
};

/// Compiles `sources` (paths relative to `sourcePath`) and links the executable or library
/// `exeName` into `options.targetPath`; returns the product's path.
std::optional<std::filesystem::path> compile(Context& context,
                                             const std::filesystem::path& sourcePath,
                                             const std::optional<std::string>& exeName,
                                             const std::optional<std::string>& mainModule,
                                             const std::vector<std::filesystem::path>& sources,
                                             const CompileOptions& options = {});

/// Runs one Cython command line through `utils::pythonCall`, the working directory kept off the
/// module search path ("-P", or "-I" before Python 3.11): the build directory's Cython driver
/// "_qvx_cython.py" (written first, with its C files), "-3 --lenient -X annotation_typing=False
/// -X autotestdict=False", "-X freethreading_compatible=True" on a free-threaded interpreter, then `args` joined with
/// blanks; on POSIX an argument holding a blank, quote or backslash is single-quoted. A failing
/// run throws the "Command failed: " error of `utils::system`.
void cythonCall(Context& context, const std::vector<std::string>& args);
/// The command text that `cythonCall(context, args)` hands to `utils::pythonCall`. After a
/// "--modules" word in `args` the driver takes several modules, each from its "--module-name"
/// on ("--module-name NAME --output-file C SOURCE"), the options before the word holding for all.
std::string cythonCommand(Context& context, const std::vector<std::string>& args);

/// The bootstrap template's extensions that `manager`'s plug-ins answer ("pxd", "code",
/// "features", "exports"), each an empty mapping unless answered; an answer that is no mapping
/// is an error.
nlohmann::json templateExtensions(plugin::PluginManager& manager);
/// Whether `extensions` put code into the start-up (code snippets or export expressions), which
/// then imports the modules offered to that code.
bool hasStartUpCode(const nlohmann::json& extensions);

/// Replaces the first "PyConfig_InitPythonConfig(&config);" in the generated C file
/// `bootstrapCPath` by `manager`'s `getConfigTemplate` answer and writes the file back whole;
/// without the marker the file is rewritten unchanged and the hook is not asked.
void patchEmbeddedBootstrap(plugin::PluginManager& manager,
                            const std::filesystem::path& bootstrapCPath);

/// Gives the start-up module's code in the generated C file `bootstrapCPath` the file name of
/// the import system's frames, "<frozen importlib._bootstrap>": the tracebacks of a failed
/// import then leave out its loader's entries, as they leave out the import system's own.
void nameBootstrapLikeTheImportSystem(const std::filesystem::path& bootstrapCPath);

/// Makes the generated shared module `sharedCPath` take collections.abc.Sequence from
/// "_collections_abc", already loaded, instead of importing the "collections" package; a file
/// without the code this expects is left as it is.
void patchSharedModule(const std::filesystem::path& sharedCPath);

/// The file names of `paths` (no directories), separated by ", " and wrapped into lines of at
/// most `width` characters; a name longer than that stands alone on its line. "" for none.
std::string _format_filenames(const std::vector<std::string>& paths, std::size_t width = 72);
std::string _format_filenames(const std::vector<std::filesystem::path>& paths,
                              std::size_t width = 72);

/// A place in the build directory that the build writes, relative to the build directory, and
/// what it holds ("the C file of module app").
struct BuildEntry {
  std::filesystem::path path;
  std::string what;
};

/// The places `compile` writes in the build directory for `sources` (paths below
/// `sourcePath`), as seen from the working directory: the Cython driver, the private Python,
/// the module build directory and in it the shared module's, the start-up module's and each
/// module's files, the header and a library's stubbed copies.
std::vector<BuildEntry> compileEntries(Context& context, const std::filesystem::path& sourcePath,
                                       const std::vector<std::filesystem::path>& sources);

/// The first occurrence of each item, in the order of first occurrence.
std::vector<std::string> _dedupe_keep_order(const std::vector<std::string>& items);

} // namespace quorvex::compiler
