#pragma once
// Dependency specifiers as installers read them: a name, extras, version specifiers or a URL,
// and an environment marker. Checked before a build so that a bad entry is named at once
// instead of failing deep inside the resolver.

#include <toml++/toml.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::whl {

/// The operators of a version specifier, longer ones first so that "===" is not read as "==".
inline constexpr std::array<std::string_view, 8> versionOperators{"===", "~=", "==", "!=",
                                                                  "<=",  ">=", "<",  ">"};

/// Why `text` is no dependency specifier ("expected a version after '>='"); none when it is one.
/// Checks the grammar and each version specifier; the URL of a direct reference is only required
/// to be there.
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
