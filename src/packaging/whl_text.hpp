#pragma once
// Text helpers of the wheel metadata: values of the project file as text, UTF-8 and line-break
// checks.

#include <toml++/toml.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex::whl {

/// A string value as written; any other value as the project file spells it ("3.9", not the
/// parsed "3.8999999999999999"), read back from the file it was parsed from, or in its TOML
/// text form when the file does not hold it there.
std::string textOf(const toml::node& node);

/// The byte offset of the first invalid UTF-8 sequence in `text` (overlong forms, surrogates
/// and code points above U+10FFFF included), or none when the whole text is valid.
std::optional<std::size_t> invalidUtf8At(std::string_view text);

/// The byte offset of the first character of the UTF-8 text `text` at which Python's
/// `str.splitlines` ends a line (LF, CR, VT, FF, FS, GS, RS, NEL, U+2028, U+2029), or none.
/// Readers of METADATA split it so: such a character in a value starts a header of its own.
std::optional<std::size_t> lineBreakAt(std::string_view text);

/// The length in bytes of the line break at `text[at]` (a CR LF counts as one break).
std::size_t lineBreakLength(std::string_view text, std::size_t at);

/// `text` for a message: the characters Python's `repr` escapes (controls, the line breaks of
/// `lineBreakAt`, blanks other than " ", invisible format characters) escaped as it shows them
/// ("\\n", "\\x1c", "\\xa0", "\\u2028"), everything else as it is; a long text is cut after
/// some 100 bytes, with its length.
std::string shown(std::string_view text);

/// The entries of `table` in the order of the file (a parsed table is sorted by key).
std::vector<std::pair<std::string, const toml::node*>> inFileOrder(const toml::table& table);

/// `text` without leading and trailing white space.
std::string trim(std::string_view text);

/// `text` with its ASCII capitals in lower case, as MIME types and file suffixes are compared.
std::string asciiLower(std::string_view text);

/// Whether Python's `str.isspace` holds for the code point `c` (ASCII blanks, the separators
/// FS to US, NEL, the no-break and other Unicode spaces, the line and paragraph separators).
bool isPythonSpace(char32_t c);

/// The UTF-8 text `text` without the leading and trailing characters of `isPythonSpace`, as
/// Python's `str.strip` leaves it.
std::string_view stripPythonSpace(std::string_view text);

/// The kind of a TOML value and the value as a message shows it ("the integer 1", "the array
/// ["a", "b"]"), spelt as `textOf` gives it, cut and escaped by `shown`.
std::string kindAndValue(const toml::node& node);

} // namespace quorvex::whl
