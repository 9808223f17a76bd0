#pragma once
// The `build` sub-command: turns the parsed options into one compilation, an optional wheel
// and an optional embedded directory.

#include "frontend/cli.hpp"

#include "compilation/compiler.hpp"
#include "packaging/embed.hpp"
#include "packaging/whl.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace quorvex::builder {

/// "**/*" followed by `pattern` without its first two characters when it begins with "**.",
/// so that "**.py" means every ".py" file at any depth; any other pattern unchanged.
std::string _normalize_source_pattern(const std::string& pattern);

/// The source files that `patterns` match below `sourceDirectory`, relative to it, pattern by
/// pattern in match order with duplicates kept; a library build leaves out every file named
/// "__main__.py". Wildcards and `**` never enter a build directory (".quorvex_build") or a
/// virtual environment (a directory holding "pyvenv.cfg"). When some file matched, logs a
/// warning naming each pattern that matched none. Throws `std::invalid_argument` for a pattern
/// the matcher rejects.
std::vector<std::filesystem::path> matchSources(const std::filesystem::path& sourceDirectory,
                                                const std::vector<std::string>& patterns,
                                                bool library);

/// The "No sources matched in " message for `sourceDirectory` and the patterns as given.
std::string noSourcesMessage(const std::filesystem::path& sourceDirectory,
                             const std::vector<std::string>& patterns);

/// Throws `std::runtime_error` when the project file that `--wheel` (name, version and every
/// value of METADATA) or `--embed` (dependencies; a library's wheel) needs is missing or
/// unusable, naming it; for `--embed` also when its `requires-python` excludes
/// `pythonVersion`, the build's Python. Returns the project as read for a wheel, which the
/// wheel is then made from; none when the run makes no wheel.
std::optional<whl::Project> checkPackagingInputs(const cli::BuildArguments& args,
                                                 const std::string& pythonVersion);

/// One build run with `context`: asks `extendBuild` and `getExecutableName`, matches the source
/// patterns (throwing `std::invalid_argument` with the "No sources matched in " message when none
/// match, before anything is made) without entering build directories or virtual environments,
/// refuses bad inputs (`checkSourceOptions`, `checkBeforeCompiling`, `checkPackagingInputs`) and
/// an unsafe `--embed` target before compiling, makes sure the pristine Python exists, compiles
/// into the build directory, then makes the wheel (`--wheel`) and fills the embedded directory
/// (`--embed`; a library embeds its wheel). Each step's failure passes out unchanged.
void build(Context& context, const cli::BuildArguments& args);

} // namespace quorvex::builder
