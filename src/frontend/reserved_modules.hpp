#pragma once
// Module names that the products keep for their own modules: a project module of such a name
// would build and then lose its place to the product's own module when it runs.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::builder {

/// What the product keeps the dotted module name `name` for ("the start-up module", ...), or
/// none when a project module may have it. A program serves every package's run-time API module
/// and keeps the package "quorvex" for its top-level modules; a library keeps its names at the
/// top level and directly below its top-level packages.
std::optional<std::string> reservedModuleUse(const std::string& name, bool library);

/// Refuses, before compiling, a source (given relative to the base directory) whose module has
/// a name that the product keeps, naming the module, its file and what the name is kept for.
void checkReservedModuleNames(const std::vector<std::filesystem::path>& sources, bool library);

} // namespace quorvex::builder
