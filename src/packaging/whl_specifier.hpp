#pragma once
// Version specifiers (">=3.9", "~=1.4.2", "=== foo") and sets of them such as a project's
// `requires-python` (">=3.9, !=3.10.*, <4"), read as the packaging library reads them and
// judged as installers judge them against a Python's version.

#include <toml++/toml.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::whl {

/// The operators of a version specifier, longer ones first so that "===" is not read as "==".
inline constexpr std::array<std::string_view, 8> versionOperators{"===", "~=", "==", "!=",
                                                                  "<=",  ">=", "<",  ">"};

/// The length in bytes of the character at `text[at]` when Python takes it for a blank
/// (`isPythonSpace`: `str.isspace`, the `\s` of its patterns), else 0.
std::size_t blankLength(std::string_view text, std::size_t at);

/// Where the version specifier that begins at `text[at]` ends, read as the packaging library's
/// pattern reads one: an operator, blanks, then a version of the form that operator takes ("~="
/// a release of two parts or more, only "==" and "!=" a local label or ".*"; "===" anything up
/// to a blank, ";" or ")"); none when no specifier begins there.
std::optional<std::size_t> specifierEnd(std::string_view text, std::size_t at);

/// The specifiers of the set `specifiers` as the packaging library's `SpecifierSet` splits it:
/// at commas, blanks around each dropped, empty pieces skipped; none when a piece is no version
/// specifier, with the reason in `why`. An empty set admits every version.
std::optional<std::vector<std::string_view>> splitSpecifierSet(std::string_view specifiers,
                                                               std::string* why = nullptr);

/// What the reader of the refused specifier `specifier` may miss: that "~=" needs a release of
/// two parts or more, that only "==" and "!=" take a local label or ".*", or which blank ends
/// its version; empty when there is nothing of the kind.
std::string specifierHint(std::string_view specifier);

/// "U+00A0" for the character `point`.
std::string codePointName(char32_t point);

/// Why `specifiers` is no version specifier set (the version part of a dependency specifier,
/// without parentheses); none when it is one.
std::optional<std::string> specifierSetError(std::string_view specifiers);

/// Whether the final release `version` ("3.12.1") satisfies every specifier of the valid set
/// `specifiers`, with the ordering and the prefix, compatible-release and arbitrary-equality
/// rules of the version specifier standard.
bool admits(std::string_view specifiers, const std::string& version);

/// Throws a `std::runtime_error` naming `pyproject`, `requires-python` and its value when that
/// key of the `[project]` table `project` is no string or no specifier set: installers refuse
/// the metadata of such a project.
void checkRequiresPython(const std::filesystem::path& pyproject, const toml::table& project);

/// As above, and also when the set excludes `pythonVersion`, the final release of the Python
/// that `purpose` ("an embedded directory") is made for; the message names both versions.
void checkRequiresPython(const std::filesystem::path& pyproject, const toml::table& project,
                         const std::string& pythonVersion, const std::string& purpose);

} // namespace quorvex::whl
