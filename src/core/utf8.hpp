#pragma once
// Turning bytes into text the way Python reads it: invalid UTF-8 replaced, line ends unified.

#include <optional>
#include <string>
#include <string_view>

namespace quorvex::utf8 {

/// `bytes` as UTF-8 text in which every invalid or truncated sequence (each maximal invalid
/// part) is replaced by U+FFFD.
std::string decodeReplace(std::string_view bytes);

/// The code point of the UTF-8 sequence that starts at `text[at]`, advancing `at` past it; none
/// for an invalid, overlong or truncated sequence, a surrogate or a value above U+10FFFF.
std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& at);

/// `text` with every CR LF and lone CR turned into LF, as Python's universal newlines read it.
std::string normaliseLineEnds(std::string_view text);

} // namespace quorvex::utf8
