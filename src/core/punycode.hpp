#pragma once
// Punycode (RFC 3492), by which Python and Cython give a non-ASCII module name an ASCII
// symbol: CPython looks up "PyInitU_" and the punycode of such a name.

#include <string>
#include <string_view>

namespace quorvex::punycode {

/// Whether `text` holds nothing but ASCII.
bool isAscii(std::string_view text);

/// The punycode of the UTF-8 text `text`, as Python's "punycode" codec gives it: its ASCII
/// characters, then "-" and the encoded others when it had ASCII characters. Throws
/// `std::invalid_argument` for text that is not valid UTF-8.
std::string encode(std::string_view text);

} // namespace quorvex::punycode
