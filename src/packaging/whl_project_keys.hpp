#pragma once
// The keys the `[project]` table and its people, readme and licence tables may hold, and the
// fields its `dynamic` list leaves to a build back-end. The pyproject.toml standard lists every
// key and lets no tool add one, so another key is a mistake, most often a misspelt key whose
// value nothing would read.

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvex::whl {

/// The key of `known` that `key` most likely misspells: the same but for case and "_" for "-",
/// or one a few edits away (about one edit in four characters); none when none is that close.
std::optional<std::string_view> closestKey(std::string_view key,
                                           std::span<const std::string_view> known);

/// Throws a `std::runtime_error` naming `pyproject`, the key, the table it is in and the nearest
/// known key, if one is close, for a key that the standard does not define in the `[project]`
/// table `project`, in an entry of its `authors` or `maintainers`, or in its `readme` or
/// `license` table. Also refuses, as the standard requires of a back-end, a `dynamic` that is
/// no array of strings or lists `name`, a field it does not define, or a field that `project`
/// also gives.
void checkProjectKeys(const std::filesystem::path& pyproject, const toml::table& project);

/// Judges the fields that the `[project]` table `project` lists as dynamic for a wheel that
/// this tool writes itself, computing none of them: a field that changes what installing the
/// wheel does (dependencies, extras, `requires-python`, and for a `library`, whose wheel
/// carries entry points, the scripts and entry points) is refused, naming it and saying to
/// write it in `[project]`; any other field but the version gets one warning naming it. The
/// version is left to `readProject`, which takes it from `--version`.
void checkDynamicFields(const std::filesystem::path& pyproject, const toml::table& project,
                        bool library);

} // namespace quorvex::whl
