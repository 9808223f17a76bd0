#include "frontend/console.hpp"

#include <map>
#include <optional>
#include <sstream>
#include <vector>

namespace quorvex::console {

namespace {

const std::map<std::string, int, std::less<>>& attributeCodes() {
  static const std::map<std::string, int, std::less<>> codes{
      {"bold", 1},      {"b", 1},     {"dim", 2},   {"d", 2},     {"italic", 3},
      {"i", 3},         {"underline", 4}, {"u", 4}, {"blink", 5}, {"reverse", 7},
      {"r", 7},         {"strike", 9}, {"s", 9}};
  return codes;
}

// The SGR code of a foreground colour name; backgrounds add 10.
std::optional<int> colourCode(std::string_view name) {
  static const std::vector<std::string_view> names{"black", "red",     "green", "yellow",
                                                   "blue",  "magenta", "cyan",  "white"};
  if (name == "default") return 39;
  std::string_view base = name;
  int offset = 30;
  if (base.starts_with("bright_")) {
    base.remove_prefix(7);
    offset = 90;
  }
  for (std::size_t i = 0; i < names.size(); ++i)
    if (names[i] == base) return offset + static_cast<int>(i);
  return std::nullopt;
}

// The SGR codes of a style text such as "bold green" or "white on red"; none when a word is
// not a style, so that the bracketed text is not markup at all.
std::optional<std::vector<int>> styleCodes(std::string_view style) {
  std::vector<int> codes;
  std::istringstream words{std::string(style)};
  std::string word;
  bool background = false;
  while (words >> word) {
    if (word == "on") {
      background = true;
      continue;
    }
    if (auto colour = colourCode(word)) {
      codes.push_back(*colour + (background ? 10 : 0));
    } else if (auto it = attributeCodes().find(word); it != attributeCodes().end() && !background) {
      codes.push_back(it->second);
    } else {
      return std::nullopt;
    }
    background = false;
  }
  if (codes.empty() || background) return std::nullopt;
  return codes;
}

// A tag begins with "[" and a lower-case letter, "#", "/" or "@", and ends at the next "]"
// with no "[" in between. Returns the text between the brackets.
std::optional<std::string_view> tagAt(std::string_view text, std::size_t pos) {
  if (pos + 1 >= text.size() || text[pos] != '[') return std::nullopt;
  const char first = text[pos + 1];
  if (!((first >= 'a' && first <= 'z') || first == '#' || first == '/' || first == '@'))
    return std::nullopt;
  const auto close = text.find_first_of("[]", pos + 1);
  if (close == std::string_view::npos || text[close] != ']') return std::nullopt;
  return text.substr(pos + 1, close - pos - 1);
}

struct OpenStyle {
  std::string name;
  std::vector<int> codes;
};

class Renderer {
public:
  explicit Renderer(bool ansi) : ansi_(ansi) {}

  void text(std::string_view piece) {
    if (piece.empty()) return;
    std::string codes;
    if (ansi_)
      for (const auto& open : stack_)
        for (int code : open.codes) codes += (codes.empty() ? "" : ";") + std::to_string(code);
    if (codes.empty()) {
      out_ += piece;
    } else {
      out_ += "\x1b[" + codes + "m";
      out_ += piece;
      out_ += "\x1b[0m";
    }
  }

  // Applies a tag; false when the tag is no markup and must stay as text.
  bool tag(std::string_view body) {
    if (body.starts_with('/')) {
      const std::string_view name = body.substr(1);
      for (auto it = stack_.rbegin(); it != stack_.rend(); ++it) {
        if (name.empty() || it->name == name) {
          stack_.erase(std::next(it).base());
          return true;
        }
      }
      return false;
    }
    auto codes = styleCodes(body);
    if (!codes) return false;
    stack_.push_back({std::string(body), std::move(*codes)});
    return true;
  }

  std::string result() { return std::move(out_); }

private:
  bool ansi_;
  std::vector<OpenStyle> stack_;
  std::string out_;
};

} // namespace

std::string renderMarkup(std::string_view text, bool ansi) {
  Renderer renderer(ansi);
  std::size_t plainStart = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const char c = text[pos];
    if (c != '[' && c != '\\') {
      ++pos;
      continue;
    }
    std::size_t slashes = 0;
    while (pos + slashes < text.size() && text[pos + slashes] == '\\') ++slashes;
    const std::size_t bracket = pos + slashes;
    const auto body = tagAt(text, bracket);
    if (!body) {
      pos = bracket + (bracket < text.size() ? 1 : 0);
      continue;
    }
    const std::size_t tagEnd = bracket + body->size() + 2;
    renderer.text(text.substr(plainStart, pos - plainStart));
    // Backslashes pair up; an odd one escapes the tag.
    renderer.text(std::string(slashes / 2, '\\'));
    const bool escaped = slashes % 2 == 1;
    if (escaped || !renderer.tag(*body)) renderer.text(text.substr(bracket, tagEnd - bracket));
    pos = plainStart = tagEnd;
  }
  renderer.text(text.substr(plainStart));
  return renderer.result();
}

} // namespace quorvex::console
