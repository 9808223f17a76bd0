#pragma once
// The keys the `[project]` table and its people, readme and licence tables may hold, and the
// fields its `dynamic` list leaves to a build back-end. The pyproject.toml standard lists every
// key and lets no tool add one. Another key is most often a misspelt one whose value nothing
// would read, and is refused; but projects also carry keys over from other tools and from
// earlier metadata (`homepage`, hatchling's `include`), which their own back-ends pass over: a
// key of `[project]` that is no near miss of a defined one is only warned of.

#include <toml++/toml.h>

#include <array>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvex::whl {

/// The fields of `[project]` that METADATA 2.1, which the wheel carries, has no header for:
/// their kind is checked, and nothing of them is written.
inline constexpr std::array<std::string_view, 3> unwrittenFields{"license-files", "import-names",
                                                                 "import-namespaces"};

/// Throws a `std::runtime_error` for the keys that the standard does not define in the
/// `[project]` table `project` and that misspell one it does (`closestKey`), and for any key it
/// does not define in an entry of `authors` or `maintainers` or in the `readme` or `license`
/// table: one line per key, naming `pyproject`, the key, its table and the key meant. The other
/// keys of `[project]` it does not define get one warning naming them all, with a word on those
/// that hold URLs. Also refuses, as the standard requires of a back-end, a `dynamic` that is no
/// array of strings or lists `name`, a field it does not define, or a field that `project` also
/// gives.
void checkProjectKeys(const std::filesystem::path& pyproject, const toml::table& project);

/// Judges the fields that the `[project]` table `project` lists as dynamic for a wheel that
/// this tool writes itself, computing none of them: a field that changes what installing the
/// wheel does (dependencies, extras, `requires-python`, entry points, and for a `library`,
/// whose wheel carries them, the scripts) is refused, naming it and saying to
/// write it in `[project]`; any other field but the version gets one warning naming it and
/// saying whether writing it in `[project]` would bring it into the wheel. The version is left
/// to `readProject`, which takes it from `--version`.
void checkDynamicFields(const std::filesystem::path& pyproject, const toml::table& project,
                        bool library);

} // namespace quorvex::whl
