#pragma once
// The embedded directory: a private copy of the pristine Python with the project's
// dependencies installed by uv, and the program or the library's wheel in it.

#include "packaging/whl_metadata.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex {
class Context;
}

namespace quorvex::embed {

/// The project's dependencies exported for the embedded directory: the requirements file and
/// the directory of the project file, where uv installs them from.
struct Requirements {
  std::filesystem::path file;
  std::filesystem::path projectPath;
};

struct EmbedOptions {
  /// The dependencies exported before (`resolveRequirements`); exported by `embed` when absent.
  std::optional<Requirements> requirements = {};
  std::optional<std::filesystem::path> exePath = {};
  std::optional<std::filesystem::path> whlPath = {};
  std::optional<std::filesystem::path> sourcePath = {};
  /// The project as the run read it: with a program, its metadata is installed beside it.
  std::optional<whl::Project> project = {};
};

/// The file that every embedded directory made by the tool holds. Only a directory with it
/// (or an empty one) is ever deleted to make room for a new embedded directory.
inline constexpr const char* markerName = ".quorvex-embedded";

/// Makes `targetPath` anew as an embedded directory: deletes it, copies the pristine Python
/// into it (its links that stay inside it kept as relative links), installs the project's
/// dependencies with their bytecode (`exportRequirements` from `sourcePath`, the working
/// directory when not given) with `uv pip install` run in the project's directory, then copies
/// `exePath` into the platform's executable directory (made ready by the platform's
/// `prepareShippedProduct`) with the `project`'s metadata
/// (`installProjectMetadata`) and installs `whlPath`, each when given, and last makes every
/// script of its own Python run from wherever the directory is moved (`relocateScripts`) and
/// deletes, with a warning, those of them whose module that Python lacks
/// (`removeScriptsWithoutModules`).
/// Refuses, before touching anything, a target that `checkTarget` rejects. Paths
/// that the command splitter would break apart are quoted on the uv command lines. A failing
/// command throws the "Command failed: " error of `utils::system`; on any failure the half-made
/// directory is removed. A stop signal while it works (`process::StopDeferral`) stops the
/// running child and the copy, removes the directory, and then ends the tool by the signal.
void embed(Context& context, const std::filesystem::path& targetPath,
           const EmbedOptions& options = {});

/// Installs the metadata of `project` into `sitePackages` as an installer would, so that
/// `importlib.metadata` finds its version and entry points: a "<name>-<version>.dist-info"
/// directory (the name and version escaped as in a wheel) with METADATA and entry_points.txt
/// as the project's wheel carries them (none without entry points), INSTALLER, and RECORD
/// listing those files and the `installed` files of the project, each by its path relative to
/// `sitePackages`. Throws `std::filesystem::filesystem_error` naming a file it cannot write.
void installProjectMetadata(const whl::Project& project,
                            const std::filesystem::path& sitePackages,
                            const std::vector<std::filesystem::path>& installed);

/// Rewrites each script in `scriptsPath` whose head runs `python` by an absolute path: its
/// place in the directory, or another path to the same program, such as the installation it
/// was copied from (the same bytes as `python`, or as `copiedFrom` when given: the program
/// `python` was copied from before the platform changed it; as installers write heads:
/// "#!/path/bin/python3.12", or for a path that must be quoted "#!/bin/sh" and
/// "'''exec' '/path/bin/python3.12' ..."), so that it runs the
/// Python of the same name beside its own real place instead, wherever the directory lies.
/// Updates the lines of the RECORD files in `sitePackages` that name a rewritten script.
/// Links, other files and scripts for other interpreters stay as they are. Returns the
/// scripts rewritten, in name order.
std::vector<std::filesystem::path>
relocateScripts(const std::filesystem::path& scriptsPath, const std::filesystem::path& python,
                const std::filesystem::path& sitePackages,
                const std::optional<std::filesystem::path>& copiedFrom = {});

/// The top-level modules that the script `text` imports in the block of import statements
/// that follows its Python head, as installers write console scripts: "import re, sys" and
/// "from pip._internal.cli.main import main" give "re", "sys" and "pip". Blank and comment
/// lines in the block are passed over; the first other line ends it; relative imports name no
/// module. Empty for a text without a head that `relocateScripts` reads.
std::vector<std::string> leadingImports(std::string_view text);

/// Those of the top-level module `names` that the Python program `python`, run isolated from
/// the user's environment through the context's command runner, cannot find. Throws
/// `std::runtime_error` naming `python` when it cannot answer.
std::vector<std::string> missingModules(Context& context, const std::filesystem::path& python,
                                        const std::vector<std::string>& names);

/// Deletes each of `scripts` whose `leadingImports` name a module that `python` cannot find
/// (`missingModules`): a script that could only fail; with it, the links beside it that lead to
/// it. Returns what it deleted, in the order of `scripts` (a script's links before it), each
/// with the first missing module that the script imports.
std::vector<std::pair<std::filesystem::path, std::string>>
removeScriptsWithoutModules(Context& context, const std::vector<std::filesystem::path>& scripts,
                            const std::filesystem::path& python);

/// Writes the locked dependencies of the project whose "pyproject.toml" is found at or above
/// `sourcePath` to `requirementsPath` with `uv export`, editable ones as plain paths, writing
/// nothing in the project: its "uv.lock" as it is when it still fits the project file;
/// otherwise the dependencies resolved in a copy of the project file (and of the old lock) in
/// the build directory's "uv-project", with the copy's relative paths of sources, find-links
/// and indexes made absolute, and a warning when the project's lock is out of date. Returns the
/// project file's directory. Throws `std::runtime_error` when no project file is found, and
/// the "Command failed: " error of `utils::system` with uv's message; when the copy's
/// resolution fails for a project with `dynamic` fields, which uv learns only by building the
/// project in its own directory, the error adds that `uv lock` in the project is needed.
std::filesystem::path exportRequirements(Context& context,
                                         const std::filesystem::path& sourcePath,
                                         const std::filesystem::path& requirementsPath);

/// Exports the dependencies of the project at or above `sourcePath` (`exportRequirements`) to
/// "requirements.txt" in the build directory, so that a build can learn that they cannot be
/// resolved before it compiles anything.
Requirements resolveRequirements(Context& context, const std::filesystem::path& sourcePath);

/// The text of the project file `pyproject` for a copy of it in another directory: the paths
/// that uv reads relative to the project (`tool.uv.sources` paths, `find-links`, index URLs)
/// made absolute against its directory; URLs and absolute paths kept. The file as it is when it
/// has no `[tool.uv]` table.
std::string projectFileForCopy(const std::filesystem::path& pyproject);

/// Throws `std::runtime_error` naming `targetPath` when deleting it could destroy work that is
/// not the tool's: when it is or contains the working directory, the build directory
/// `buildPath` or `sourcePath`, when it lies in the build directory's "python" directory, when
/// it exists and
/// is not a directory, or when it is a non-empty directory without the marker file.
void checkTarget(const std::filesystem::path& targetPath,
                 const std::optional<std::filesystem::path>& sourcePath,
                 const std::filesystem::path& buildPath);

/// Changes the working directory to `target` while the guard lives and back to the former one
/// when it goes, also during unwinding. A failing change throws and leaves it unchanged.
class chdir {
public:
  explicit chdir(const std::filesystem::path& target);
  ~chdir();
  chdir(const chdir&) = delete;
  chdir& operator=(const chdir&) = delete;

private:
  std::filesystem::path cwd_;
};

} // namespace quorvex::embed
