#pragma once
// Turning bytes into text the way Python reads it: invalid UTF-8 replaced, line ends unified.

#include <string>
#include <string_view>

namespace quorvex::utf8 {

/// `bytes` as UTF-8 text in which every invalid or truncated sequence (each maximal invalid
/// part) is replaced by U+FFFD.
std::string decodeReplace(std::string_view bytes);

/// `text` with every CR LF and lone CR turned into LF, as Python's universal newlines read it.
std::string normaliseLineEnds(std::string_view text);

} // namespace quorvex::utf8
