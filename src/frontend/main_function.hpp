#pragma once
// A program imports its main module and then calls its main(): a main module whose source
// binds no `main` runs its body and then stops with an error, unless that body ends the
// program itself, so the build warns of it.

#include "frontend/cli.hpp"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvex {
class Context;
}

namespace quorvex::builder {

/// What a reading of a module's source says of its module-level name `main`.
enum class MainBinding { bound, unbound, unknown };

/// Asks the run's build interpreter whether the module-level code of the Python source `file`
/// binds `main` (a def or class, an assignment, an import, a `global main`); `unknown` when a
/// star import or a module `__getattr__` could bind it, or when the source cannot be read.
MainBinding mainBindingOf(Context& context, const std::filesystem::path& file);

/// The `[project.scripts]` entries of `pyproject` that start a function of `mainModule`, as
/// `name = "module:function"`, in name order; none when the file has no such entries or cannot
/// be read.
std::vector<std::pair<std::string, std::string>>
scriptsOfModule(const std::optional<std::filesystem::path>& pyproject,
                const std::string& mainModule);

/// The warning for a main module without main(), naming the functions that `scripts` start
/// instead, if any.
std::string missingMainWarning(const std::string& mainModule,
                               const std::vector<std::pair<std::string, std::string>>& scripts);

/// Warns, for a program build, when the main module's source among `sources` binds no `main`.
void warnOfMissingMain(Context& context, const cli::BuildArguments& args,
                       const std::vector<std::filesystem::path>& sources);

} // namespace quorvex::builder
