#include "packaging/whl_version.hpp"

#include <array>
#include <string_view>

namespace quorvex::whl {

namespace {

bool isAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// What installers take for blanks around a version (ASCII's share of Python's `\s`).
bool isBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r') || (c >= '\x1c' && c <= '\x1f');
}

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Python's int() refuses longer digit strings, so installers cannot read such a version.
constexpr std::size_t maxDigits = 4300;

// A run of digits as the integer text it stands for: leading zeros dropped, "0" kept.
std::string number(std::string_view digits) {
  const auto first = digits.find_first_not_of('0');
  return std::string(first == std::string_view::npos ? "0" : digits.substr(first));
}

// Reads a version left to right without backtracking: each optional part is taken whole or
// not at all, as the packaging library's possessive pattern takes it. A loop, not a regular
// expression: the standard library's matcher recurses once per character and overflows the
// stack on a version of some ten thousand parts.
class VersionReader {
public:
  explicit VersionReader(std::string_view text) : text_(text) {}

  std::optional<std::string> normalized() {
    while (isBlank(peek())) ++at_;
    if (lowered(peek()) == 'v') ++at_;
    epoch();
    if (!release()) return std::nullopt;
    preRelease();
    postRelease();
    devRelease();
    local();
    while (isBlank(peek())) ++at_;
    if (at_ != text_.size() || tooLong_) return std::nullopt;
    return out_;
  }

private:
  char peek(std::size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }

  std::string_view digits() {
    const std::size_t start = at_;
    while (isDigit(peek())) ++at_;
    const std::string_view run = text_.substr(start, at_ - start);
    tooLong_ = tooLong_ || run.size() > maxDigits;
    return run;
  }

  void separator() {
    if (peek() == '.' || peek() == '_' || peek() == '-') ++at_;
  }

  // The first of `words` that the text continues with, ignoring case; `words` lists a word
  // before its own prefixes.
  template <std::size_t N>
  std::string_view word(const std::array<std::string_view, N>& words) {
    for (std::string_view candidate : words) {
      if (text_.size() - at_ < candidate.size()) continue;
      bool same = true;
      for (std::size_t i = 0; same && i < candidate.size(); ++i)
        same = lowered(text_[at_ + i]) == candidate[i];
      if (!same) continue;
      at_ += candidate.size();
      return candidate;
    }
    return {};
  }

  void epoch() {
    const std::size_t start = at_;
    const std::string_view value = digits();
    if (!value.empty() && peek() == '!') {
      ++at_;
      if (number(value) != "0") out_ += number(value) + "!";
      return;
    }
    at_ = start;
  }

  bool release() {
    const std::string_view first = digits();
    if (first.empty()) return false;
    out_ += number(first);
    while (peek() == '.' && isDigit(peek(1))) {
      ++at_;
      out_ += "." + number(digits());
    }
    return true;
  }

  // A label and its optional number, with a separator before each; `letter` gives the label's
  // normal spelling. Nothing is taken when no label follows.
  template <std::size_t N>
  bool labelled(const std::array<std::string_view, N>& labels,
                std::string_view (*letter)(std::string_view), std::string_view before) {
    const std::size_t start = at_;
    separator();
    const std::string_view label = word(labels);
    if (label.empty()) {
      at_ = start;
      return false;
    }
    separator();
    const std::string_view value = digits();
    out_ += std::string(before) + std::string(letter(label)) +
            (value.empty() ? "0" : number(value));
    return true;
  }

  void preRelease() {
    static constexpr std::array<std::string_view, 8> labels{"alpha",   "a",   "beta", "b",
                                                            "preview", "pre", "c",    "rc"};
    labelled(labels, [](std::string_view label) -> std::string_view {
      if (label == "alpha") return "a";
      if (label == "beta") return "b";
      if (label == "c" || label == "pre" || label == "preview") return "rc";
      return label;
    }, "");
  }

  void postRelease() {
    if (peek() == '-' && isDigit(peek(1))) {
      ++at_;
      out_ += ".post" + number(digits());
      return;
    }
    static constexpr std::array<std::string_view, 3> labels{"post", "rev", "r"};
    labelled(labels, [](std::string_view) -> std::string_view { return "post"; }, ".");
  }

  void devRelease() {
    static constexpr std::array<std::string_view, 1> labels{"dev"};
    labelled(labels, [](std::string_view) -> std::string_view { return "dev"; }, ".");
  }

  // "+" and letter-or-digit segments joined by separators, each made lower case, a segment of
  // digits read as a number.
  void local() {
    if (peek() != '+' || !isAlnum(peek(1))) return;
    ++at_;
    out_ += '+';
    for (;;) {
      const std::size_t start = at_;
      while (isAlnum(peek())) ++at_;
      const std::string_view segment = text_.substr(start, at_ - start);
      if (segment.find_first_not_of("0123456789") == std::string_view::npos) {
        tooLong_ = tooLong_ || segment.size() > maxDigits;
        out_ += number(segment);
      } else {
        for (char c : segment) out_ += lowered(c);
      }
      const char next = peek();
      if ((next != '.' && next != '_' && next != '-') || !isAlnum(peek(1))) return;
      ++at_;
      out_ += '.';
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string out_;
  bool tooLong_ = false;
};

} // namespace

bool isValidProjectName(const std::string& name) {
  if (name.empty() || !isAlnum(name.front()) || !isAlnum(name.back())) return false;
  for (char c : name)
    if (!isAlnum(c) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

std::optional<std::string> normalizeVersion(const std::string& version) {
  return VersionReader(version).normalized();
}

} // namespace quorvex::whl
