#include "core/utf8.hpp"

namespace quorvex::utf8 {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

} // namespace

std::string decodeReplace(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      text += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;  // no overlong forms
      if (lead == 0xED) high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F; // nothing above U+10FFFF
    } else {
      text += replacement;
      ++i;
      continue;
    }
    size_t good = 1;
    while (good < length && i + good < bytes.size()) {
      auto c = static_cast<unsigned char>(bytes[i + good]);
      bool fits = good == 1 ? (c >= low && c <= high) : isContinuation(c);
      if (!fits) break;
      ++good;
    }
    if (good == length)
      text.append(bytes.substr(i, length));
    else
      text += replacement; // one replacement for the maximal invalid part
    i += good;
  }
  return text;
}

std::optional<char32_t> nextCodePoint(std::string_view text, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || at + length > text.size())
    return std::nullopt;
  char32_t point = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[at + k]);
    if (!isContinuation(next)) return std::nullopt;
    point = point << 6 | (next & 0x3F);
  }
  static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < shortest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
    return std::nullopt;
  at += length;
  return point;
}

std::string normaliseLineEnds(std::string_view text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

} // namespace quorvex::utf8
