#pragma once
// What a build refuses before it compiles anything: a missing base directory, patterns that
// leave it, a wheel directory that cannot be made, an unknown policy, a main module that is no
// module of the sources, project modules named like those the product keeps for itself or that
// the program's start-up would shadow, and a product that would take the place of a file the
// build keeps in its build directory.

#include "frontend/cli.hpp"

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace quorvex {
class Context;
}

namespace quorvex::builder {

/// Refuses, before any source is matched, a `--base` that is missing or no directory, a source
/// pattern whose `..` components leave it, a `--wheel` directory that is, or lies below, an
/// existing file or whose name is too long, and an unknown `--policy`; each message names what
/// the user gave.
void checkSourceOptions(const cli::BuildArguments& args);

/// Refuses, before compiling, a main module that is no dotted name of a module among `sources`
/// (a library may also name a package holding them), a module named like one the product keeps
/// for its own, and a program's top-level module named like one of `startupModules()`, which is
/// asked only when a program has a module to check.
void checkBeforeCompiling(const cli::BuildArguments& args,
                          const std::vector<std::filesystem::path>& sources,
                          const std::function<std::set<std::string>()>& startupModules);

/// Refuses, before compiling, a product (`exeName`, placed by the platform's hooks) whose file
/// name is too long to link, or whose place in the build directory `buildPath` is, holds or
/// lies in one that the run writes there (the private Python, the lock, the wheel's work
/// directory, a module's C file, ...) or an existing directory; the message names the place,
/// what it holds and --exe as the way out.
void checkProductPlace(Context& context, const cli::BuildArguments& args,
                       const std::vector<std::filesystem::path>& sources,
                       const std::string& exeName, const std::filesystem::path& buildPath);

/// The dotted module name of a source file given relative to the base directory ("a/b/c.py"
/// gives "a.b.c", "a/__init__.py" gives "a"); none when the path has no such name.
std::optional<std::string> moduleNameOf(const std::filesystem::path& source);

/// The name by which the import system reaches a source file given relative to the base
/// directory: its parts need not be identifiers ("m/0001_initial.py" gives "m.0001_initial"),
/// but none may hold a dot ("m/a.b.py" has none).
std::optional<std::string> importableNameOf(const std::filesystem::path& source);

/// The top-level names of the modules a program's start-up has imported before its own modules
/// can be found, beyond those the build interpreter has loaded when it runs a script: asked of
/// the run's build interpreter, run isolated, with the start-up's own import statements, and
/// those it makes for extension code when `withStartUpCode`.
std::set<std::string> startupModules(Context& context, bool withStartUpCode);

} // namespace quorvex::builder
