#pragma once
// Version specifier sets such as a project's `requires-python` (">=3.9, !=3.10.*, <4"), judged
// as installers judge them against a Python's version.

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::whl {

/// Why `specifiers` is no version specifier set (the version part of a dependency specifier,
/// without parentheses); none when it is one. An empty set admits every version.
std::optional<std::string> specifierSetError(std::string_view specifiers);

/// Whether the final release `version` ("3.12.1") satisfies every specifier of the valid set
/// `specifiers`, with the ordering and the prefix, compatible-release and arbitrary-equality
/// rules of the version specifier standard.
bool admits(std::string_view specifiers, const std::string& version);

/// Throws a `std::runtime_error` naming `pyproject` and `requires-python` when that key of the
/// `[project]` table `project` is no string or no specifier set, or excludes `pythonVersion`,
/// the final release of the Python that `purpose` ("an embedded directory") is made for; the
/// message names both versions.
void checkRequiresPython(const std::filesystem::path& pyproject, const toml::table& project,
                         const std::string& pythonVersion, const std::string& purpose);

} // namespace quorvex::whl
