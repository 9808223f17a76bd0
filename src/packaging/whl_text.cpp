#include "packaging/whl_text.hpp"

#include "core/utf8.hpp"
#include "packaging/whl_io.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <tuple>

namespace quorvex::whl {

namespace {

std::string rendered(const toml::node& node) {
  std::ostringstream out;
  node.visit([&out](const auto& value) { out << value; });
  return out.str();
}

// Where the character at `position` begins in `text`: the parser counts lines from 1 and
// columns in code points from 1.
std::optional<std::size_t> offsetOf(std::string_view text, const toml::source_position& position) {
  std::size_t at = 0;
  for (toml::source_index line = 1; line < position.line; ++line) {
    at = text.find('\n', at);
    if (at == std::string_view::npos)
      return std::nullopt;
    ++at;
  }
  for (toml::source_index column = 1; column < position.column; ++column)
    if (at >= text.size() || !utf8::nextCodePoint(text, at))
      return std::nullopt;
  return at;
}

// `node` as the project file spells it ("3.9", "1_000", "[1, 2]"), read back from the file the
// parser was given, where the parsed value would show otherwise ("3.8999999999999999"); none
// when the file no longer holds it there, and for a table made of "[...]" headers, which
// stands in no one place.
std::optional<std::string> writtenText(const toml::node& node) {
  const toml::source_region& where = node.source();
  const toml::table* table = node.as_table();
  if (!where.path || !where.begin || !where.end || (table && !table->is_inline()))
    return std::nullopt;
  std::string file;
  try {
    file = readBytes(*where.path);
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
  const std::optional<std::size_t> begin = offsetOf(file, where.begin);
  const std::optional<std::size_t> end = offsetOf(file, where.end);
  if (!begin || !end || *end < *begin)
    return std::nullopt;
  std::string written = file.substr(*begin, *end - *begin);
  try {
    const toml::table reread = toml::parse("value = " + written);
    if (rendered(*reread.get("value")) == rendered(node))
      return written;
  } catch (const toml::parse_error&) {
  }
  return std::nullopt;
}

} // namespace

std::string textOf(const toml::node& node) {
  if (const auto* text = node.as_string())
    return text->get();
  return writtenText(node).value_or(rendered(node));
}

std::vector<std::pair<std::string, const toml::node*>> inFileOrder(const toml::table& table) {
  std::vector<std::tuple<toml::source_index, toml::source_index, std::string, const toml::node*>>
      placed;
  for (auto&& [key, value] : table)
    placed.emplace_back(key.source().begin.line, key.source().begin.column, std::string(key.str()),
                        &value);
  std::stable_sort(placed.begin(), placed.end());
  std::vector<std::pair<std::string, const toml::node*>> entries;
  for (auto& [line, column, key, value] : placed) entries.emplace_back(std::move(key), value);
  return entries;
}

std::optional<std::size_t> invalidUtf8At(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    char32_t codePoint, minimum;
    if ((byte & 0xE0) == 0xC0) {
      length = 2, codePoint = byte & 0x1F, minimum = 0x80;
    } else if ((byte & 0xF0) == 0xE0) {
      length = 3, codePoint = byte & 0x0F, minimum = 0x800;
    } else if ((byte & 0xF8) == 0xF0) {
      length = 4, codePoint = byte & 0x07, minimum = 0x10000;
    } else {
      return i;
    }
    if (i + length > text.size()) return i;
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return i;
      codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))
      return i;
    i += length;
  }
  return std::nullopt;
}

std::optional<std::size_t> lineBreakAt(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte >= 0x0A && byte <= 0x0D) || (byte >= 0x1C && byte <= 0x1E)) return i;
    const std::string_view rest = text.substr(i);
    if (rest.starts_with("\xC2\x85") || rest.starts_with("\xE2\x80\xA8") ||
        rest.starts_with("\xE2\x80\xA9"))
      return i;
  }
  return std::nullopt;
}

std::size_t lineBreakLength(std::string_view text, std::size_t at) {
  if (text.substr(at).starts_with("\r\n")) return 2;
  return text[at] == '\xC2' ? 2 : text[at] == '\xE2' ? 3 : 1;
}

namespace {

// Whether Python's `repr` escapes the code point `c`: the controls, the blanks but " ", the line
// and paragraph separators, and the invisible format characters (the soft hyphen, zero-width
// and direction marks, the byte-order mark).
bool isUnprintable(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || (c != ' ' && isPythonSpace(c)) || c == 0xAD ||
         c == 0x61C || c == 0x180E || (c >= 0x200B && c <= 0x200F) ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF ||
         (c >= 0xFFF9 && c <= 0xFFFB) || (c >= 0xE000 && c <= 0xF8FF) || c == 0xFFFE || c == 0xFFFF;
}

} // namespace

std::string shown(std::string_view text) {
  // A value of thousands of characters would bury the message that names it.
  constexpr std::size_t longest = 100;
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    if (out.size() >= longest) {
      out += fmt::format("... ({} bytes in all)", text.size());
      break;
    }
    const std::size_t start = at;
    const std::optional<char32_t> c = utf8::nextCodePoint(text, at);
    if (!c) {
      at = start + 1;
      out += fmt::format("\\x{:02x}", static_cast<unsigned char>(text[start]));
    } else if (*c == '\n' || *c == '\r' || *c == '\t') {
      out += *c == '\n' ? "\\n" : *c == '\r' ? "\\r" : "\\t";
    } else if (isUnprintable(*c)) {
      const auto point = static_cast<std::uint32_t>(*c);
      out += point < 0x100 ? fmt::format("\\x{:02x}", point) : fmt::format("\\u{:04x}", point);
    } else {
      out += text.substr(start, at - start);
    }
  }
  return out;
}

std::string trim(std::string_view text) {
  constexpr std::string_view space = " \t\n\r\f\v";
  auto first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  auto last = text.find_last_not_of(space);
  return std::string(text.substr(first, last - first + 1));
}

std::string asciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

bool isPythonSpace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x20) || c == 0x85 || c == 0xA0 ||
         c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view stripPythonSpace(std::string_view text) {
  std::size_t first = text.size(), last = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t start = at;
    const std::optional<char32_t> c = utf8::nextCodePoint(text, at);
    if (!c) at = start + 1;
    if (c && isPythonSpace(*c)) continue;
    if (first == text.size()) first = start;
    last = at;
  }
  return first == text.size() ? std::string_view() : text.substr(first, last - first);
}

std::string kindAndValue(const toml::node& node) {
  const char* kind = "the value";
  switch (node.type()) {
  case toml::node_type::string: return "the string '" + shown(node.as_string()->get()) + "'";
  case toml::node_type::integer: kind = "the integer"; break;
  case toml::node_type::floating_point: kind = "the number"; break;
  case toml::node_type::boolean: kind = "the boolean"; break;
  case toml::node_type::array: kind = "the array"; break;
  case toml::node_type::table: kind = "the table"; break;
  case toml::node_type::date: kind = "the date"; break;
  case toml::node_type::time: kind = "the time"; break;
  case toml::node_type::date_time: kind = "the date-time"; break;
  case toml::node_type::none: break;
  }
  return fmt::format("{} {}", kind, shown(textOf(node)));
}

} // namespace quorvex::whl
