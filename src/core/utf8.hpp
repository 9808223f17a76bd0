#pragma once
// Turning bytes into valid UTF-8 text the way Python's "replace" error mode does.

#include <string>
#include <string_view>

namespace quorvex::utf8 {

/// `bytes` as UTF-8 text in which every invalid or truncated sequence (each maximal invalid
/// part) is replaced by U+FFFD.
std::string decodeReplace(std::string_view bytes);

} // namespace quorvex::utf8
