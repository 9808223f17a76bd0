#pragma once
// Dependency specifiers as installers read them: a name, extras, version specifiers or a URL,
// and an environment marker. Checked before a build so that a bad entry is named at once
// instead of failing deep inside the resolver.

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::whl {

/// Why `text` is no dependency specifier ("expected a version after '>='"); none when it is one.
/// Judged as the packaging library's `Requirement` judges it: the grammar, each version
/// specifier, a URL as a run of characters that are no blank, and the quoted strings of the
/// marker as Python reads string literals.
std::optional<std::string> requirementError(std::string_view text);

/// A dependency specifier split at the ";" before its marker.
struct RequirementParts {
  std::string_view head;                  ///< the name, extras and versions or URL
  std::optional<std::string_view> marker; ///< what follows the ";", none without a marker
  bool directReference;                   ///< whether `head` ends in a URL ("name @ url")
};

/// `text` split before its marker; none when it is no dependency specifier.
std::optional<RequirementParts> splitRequirement(std::string_view text);

/// Throws a `std::runtime_error` naming `pyproject`, the key and the entry when an entry of
/// `project.dependencies` or of an extra in `project.optional-dependencies` (in the `[project]`
/// table `project`) is no string or no dependency specifier, or a key has the wrong kind.
void checkDependencies(const std::filesystem::path& pyproject, const toml::table& project);

} // namespace quorvex::whl
