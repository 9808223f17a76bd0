#pragma once
// Which known key a written key misspells: the mistakes people make in a project file's keys
// (case, "_" for "-", a letter or two, a singular for a plural, the words in another order), told
// apart from keys that are no mistake but another tool's.

#include <optional>
#include <span>
#include <string_view>

namespace quorvex::whl {

/// The key of `known` that `key` most likely misspells: the same but for case and "_" for "-",
/// a singular for a plural or its words in another order, and then at most two edits away
/// (about one edit in four characters); none when none is that close.
std::optional<std::string_view> closestKey(std::string_view key,
                                           std::span<const std::string_view> known);

} // namespace quorvex::whl
