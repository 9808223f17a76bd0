#pragma once
// Lines of an installed distribution's RECORD: a CSV row of the file's path relative to
// site-packages, "sha256=" with its digest, and its size.

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::record {

/// The RECORD line of the file at `path` (relative to site-packages, "/"-separated) holding
/// `data`; the path is quoted as CSV when it holds a comma, a quote or a line break.
std::string line(const std::string& path, std::string_view data);

/// The path that the RECORD line `text` names, its CSV quoting undone; none for an empty line
/// or an unclosed quote.
std::optional<std::string> pathOf(std::string_view text);

} // namespace quorvex::record
