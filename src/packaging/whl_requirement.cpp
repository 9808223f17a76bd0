#include "packaging/whl_requirement.hpp"

#include "core/utf8.hpp"
#include "packaging/whl_specifier.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

bool isAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The variables an environment marker may name, with the dotted spellings installers still read.
constexpr std::array<std::string_view, 20> markerVariables{
    "python_version",   "python_full_version",   "os_name",
    "os.name",          "sys_platform",          "sys.platform",
    "platform_release", "platform_system",       "platform_version",
    "platform.version", "platform_machine",      "platform.machine",
    "platform_python_implementation",            "platform.python_implementation",
    "python_implementation",                     "implementation_name",
    "implementation_version", "extra",           "extras",
    "dependency_groups"};

// Parentheses in a marker deeper than this are refused, as the packaging library refuses them
// (CPython's parser allows as many): the reader's recursion stays bounded.
constexpr int maxMarkerNesting = 200;

struct Refusal {
  std::string reason;
};

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Where and why Python cannot read a marker's quoted string as a string literal: the packaging
// library hands one that holds a backslash or an unprintable character to ast.literal_eval.
struct LiteralFault {
  std::size_t at; // in the string's body
  std::string reason;
};

std::optional<LiteralFault> literalFault(std::string_view body) {
  // Python reads no source text that holds a NUL, escaped or not.
  if (const auto nul = body.find('\0'); nul != std::string_view::npos)
    return LiteralFault{nul, "a quoted string may not hold a NUL character"};
  for (std::size_t i = 0; i < body.size(); ++i) {
    if (body[i] == '\n' || body[i] == '\r')
      return LiteralFault{i, "a quoted string may not hold a line break"};
    if (body[i] != '\\') continue;
    const std::size_t escape = i++;
    if (i == body.size())
      return LiteralFault{escape, "the backslash escapes the quote that should close the string"};
    const char kind = body[i];
    if (kind == '\r' && i + 1 < body.size() && body[i + 1] == '\n') ++i;
    // Checking a \N{...} name would take Unicode's table of names.
    if (kind == 'N')
      return LiteralFault{escape, "a \\N{...} escape is not read here: write the character itself"};
    const std::size_t digits = kind == 'x' ? 2 : kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
    if (digits == 0) continue;
    const std::string_view hex = body.substr(i + 1, digits);
    if (hex.size() < digits || !std::all_of(hex.begin(), hex.end(), isHexDigit))
      return LiteralFault{escape,
                          fmt::format("a \\{} escape needs {} hexadecimal digits", kind, digits)};
    if (kind == 'U' && std::stoul(std::string(hex), nullptr, 16) > 0x10FFFF)
      return LiteralFault{escape, "a \\U escape may name no character above U+10FFFF"};
    i += digits;
  }
  return std::nullopt;
}

// A recursive-descent reader of one specifier, step for step as the packaging library's
// parser reads one: it accepts the text whole or throws a Refusal.
class Reader {
public:
  explicit Reader(std::string_view text) : text_(text) {}

  void requirement() {
    skipSpace();
    if (identifier().empty()) fail("expected a project name");
    skipSpace();
    if (take("[")) extras();
    skipSpace();
    if (take("@")) return directReference();
    if (take("(")) {
      skipSpace();
      versions();
      skipSpace();
      if (!take(")")) fail("expected ',' or ')' after the version specifiers");
    } else {
      versions();
    }
    skipSpace();
    takeMarker();
    if (!atEnd()) fail("expected a version specifier, ';' or the end");
  }

  // Where the ";" before the marker stands, once read; whether a URL comes before it.
  std::optional<std::size_t> semicolon() const { return semicolon_; }
  bool isDirectReference() const { return directReference_; }

private:
  bool atEnd() const { return at_ == text_.size(); }
  char peek() const { return atEnd() ? '\0' : text_[at_]; }

  // The column counts characters; a character that may not show in a message is named.
  [[noreturn]] void fail(const std::string& what, const std::string& detail = "") const {
    const std::string why = detail.empty() ? "" : ": " + detail;
    if (atEnd()) throw Refusal{what + " at the end" + why};
    const auto column = 1 + std::count_if(text_.begin(), text_.begin() + at_, [](char c) {
                          return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
                        });
    std::size_t next = at_;
    const char32_t point = utf8::nextCodePoint(text_, next).value_or(0xFFFD);
    const std::string named =
        point >= 0x20 && point < 0x7F ? "" : fmt::format(" ({})", codePointName(point));
    throw Refusal{fmt::format("{} at column {}{}{}", what, column, named, why)};
  }

  bool skipSpace() {
    const std::size_t start = at_;
    while (peek() == ' ' || peek() == '\t') ++at_;
    return at_ > start;
  }

  bool take(std::string_view word) {
    if (!text_.substr(at_).starts_with(word)) return false;
    at_ += word.size();
    return true;
  }

  // A word that no letter, digit, "." or "_" continues.
  bool keyword(std::string_view word) {
    skipSpace();
    const std::size_t end = at_ + word.size();
    if (!text_.substr(at_).starts_with(word) ||
        (end < text_.size() && (isAlnum(text_[end]) || text_[end] == '_' || text_[end] == '.')))
      return false;
    at_ = end;
    return true;
  }

  // Letters and digits, with ".", "_" and "-" after the first, ending at a word boundary: a
  // trailing "_" belongs to it, a trailing "." or "-" does not.
  std::string_view identifier() {
    const std::size_t start = at_;
    if (!isAlnum(peek())) return {};
    while (isAlnum(peek()) || peek() == '.' || peek() == '_' || peek() == '-') ++at_;
    while (text_[at_ - 1] == '.' || text_[at_ - 1] == '-') --at_;
    return text_.substr(start, at_ - start);
  }

  void extras() {
    skipSpace();
    if (take("]")) return;
    do {
      skipSpace();
      if (identifier().empty()) fail("expected the name of an extra");
      skipSpace();
    } while (take(","));
    if (!take("]")) fail("expected ',' or ']' after the extras");
  }

  // The URL runs to the first blank, Unicode's included; only spaces and tabs may part it from
  // the marker.
  void directReference() {
    directReference_ = true;
    skipSpace();
    const std::size_t start = at_;
    while (!atEnd() && !blankLength(text_, at_)) ++at_;
    if (at_ == start) fail("expected a URL after '@'");
    if (atEnd()) return;
    if (!skipSpace())
      fail("the URL ends at a blank", "installers read a URL up to the first blank, and only a "
                                      "space or a tab may follow it");
    if (atEnd()) return;
    if (!takeMarker()) fail("expected ';' and a marker after the URL");
    if (!atEnd()) fail("expected the end after the marker");
  }

  // ";" and a marker.
  bool takeMarker() {
    const std::size_t at = at_;
    if (!take(";")) return false;
    semicolon_ = at;
    marker();
    return true;
  }

  // Specifiers separated by commas, with a comma after the last one allowed. As the packaging
  // library does, printable ASCII up to ";", ")" or the end is first read whole as a specifier
  // set; failing that, one specifier at a time (where a "===" version may take in commas),
  // and the set they make is read again.
  void versions() {
    if (atEnd() || specifierList()) return;
    const std::size_t start = at_;
    std::string set;
    while (const std::optional<std::size_t> end = specifierEnd(text_, at_)) {
      const std::size_t begin = at_;
      at_ = *end;
      // Only spaces, tabs, ",", ";" and ")" may follow a version; one that goes on ("1.0+local"
      // after ">=") is shown whole.
      if (!atEnd() && peek() != ' ' && peek() != '\t' && blankLength(text_, at_))
        fail("the version ends at a blank", "only a space or a tab may follow it");
      if (!atEnd() && !blankLength(text_, at_) &&
          std::string_view(",;)").find(peek()) == std::string_view::npos) {
        at_ = begin;
        badSpecifier();
      }
      set += text_.substr(begin, at_ - begin);
      skipSpace();
      if (!take(",")) return checkSet(set, start);
      set += ',';
      skipSpace();
    }
    if (atOperator()) badSpecifier();
    checkSet(set, start);
  }

  bool specifierList() {
    const auto listed = [](char c) {
      return c == '\t' || (c >= 0x20 && c < 0x7F && c != ')' && c != ';');
    };
    std::size_t end = at_;
    while (end < text_.size() && listed(text_[end])) ++end;
    if (end == at_ || (end < text_.size() && text_[end] != ')' && text_[end] != ';'))
      return false;
    const std::string_view list = text_.substr(at_, end - at_);
    const std::optional<std::vector<std::string_view>> specifiers = splitSpecifierSet(list);
    if (!specifiers) return false;
    // The set skips empty pieces; the grammar allows only a comma after the last one.
    const auto commas = static_cast<std::size_t>(std::count(list.begin(), list.end(), ','));
    const std::string_view unpadded = list.substr(0, list.find_last_not_of(" \t") + 1);
    if (specifiers->size() != commas + 1 &&
        !(!specifiers->empty() && specifiers->size() == commas && unpadded.ends_with(',')))
      return false;
    at_ = end;
    return true;
  }

  void checkSet(const std::string& set, std::size_t start) {
    std::string why;
    if (splitSpecifierSet(set, &why)) return;
    at_ = start;
    fail(why);
  }

  bool atOperator() const {
    return std::any_of(versionOperators.begin(), versionOperators.end(),
                       [&](std::string_view op) { return text_.substr(at_).starts_with(op); });
  }

  // An operator that no valid version follows: the message shows the version as far as a
  // blank, ",", ";" or ")".
  [[noreturn]] void badSpecifier() {
    const std::size_t begin = at_;
    const auto op = std::find_if(versionOperators.begin(), versionOperators.end(),
                                 [&](std::string_view candidate) { return take(candidate); });
    while (const std::size_t length = blankLength(text_, at_)) at_ += length;
    const std::size_t start = at_;
    while (!atEnd() && std::string_view(",;)").find(peek()) == std::string_view::npos &&
           !blankLength(text_, at_))
      ++at_;
    const std::string_view version = text_.substr(start, at_ - start);
    at_ = start;
    if (version.empty()) fail("expected a version after '" + std::string(*op) + "'");
    fail("'" + shown(std::string(*op) + std::string(version)) +
             "' is not a valid version specifier",
         specifierHint(std::string(text_.substr(begin, start - begin)) + std::string(version)));
  }

  void marker(int depth = 0) {
    markerAnd(depth);
    while (keyword("or")) markerAnd(depth);
    skipSpace();
  }

  void markerAnd(int depth) {
    markerAtom(depth);
    while (keyword("and")) markerAtom(depth);
  }

  void markerAtom(int depth) {
    skipSpace();
    if (peek() == '(' && depth >= maxMarkerNesting)
      fail(fmt::format("the marker is nested more than {} levels deep", maxMarkerNesting));
    if (take("(")) {
      marker(depth + 1);
      if (!take(")")) fail("expected ')' in the marker");
    } else {
      markerValue();
      markerOperator();
      markerValue();
    }
    skipSpace();
  }

  void markerValue() {
    skipSpace();
    const char quote = peek();
    if (quote == '\'' || quote == '"') {
      const auto end = text_.find(quote, at_ + 1);
      if (end == std::string_view::npos) fail("the quoted string is not closed");
      if (const auto fault = literalFault(text_.substr(at_ + 1, end - at_ - 1))) {
        at_ += 1 + fault->at;
        fail(fault->reason);
      }
      at_ = end + 1;
      return;
    }
    const std::size_t start = at_;
    while (isAlnum(peek()) || peek() == '_' || peek() == '.') ++at_;
    const std::string_view name = text_.substr(start, at_ - start);
    if (std::find(markerVariables.begin(), markerVariables.end(), name) == markerVariables.end()) {
      at_ = start;
      fail("expected a marker variable (such as python_version) or a quoted string");
    }
  }

  void markerOperator() {
    skipSpace();
    if (std::any_of(versionOperators.begin(), versionOperators.end(),
                    [&](std::string_view op) { return take(op); }))
      return;
    if (keyword("in")) return;
    if (keyword("not") && skipSpace() && keyword("in")) return;
    fail("expected a marker operator (such as ==, < or in)");
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::optional<std::size_t> semicolon_;
  bool directReference_ = false;
};

[[noreturn]] void refuse(const fs::path& pyproject, const std::string& what) {
  throw std::runtime_error(pyproject.string() + ": " + what);
}

void checkList(const fs::path& pyproject, const toml::node& node, const std::string& key) {
  if (!node.is_array())
    refuse(pyproject,
           fmt::format("'{}' must be an array of strings, not {}", key, kindAndValue(node)));
  std::size_t number = 0;
  for (const toml::node& entry : *node.as_array()) {
    ++number;
    if (!entry.is_string())
      refuse(pyproject, fmt::format("entry {} of '{}' must be a string, not {}", number, key,
                                    kindAndValue(entry)));
    const std::string& text = entry.as_string()->get();
    if (auto why = requirementError(text))
      refuse(pyproject, fmt::format("entry {} of '{}', '{}', is not a valid requirement: {}",
                                    number, key, shown(text), *why));
  }
}

} // namespace

std::optional<std::string> requirementError(std::string_view text) {
  try {
    Reader(text).requirement();
    return std::nullopt;
  } catch (const Refusal& refusal) {
    return refusal.reason;
  }
}

std::optional<RequirementParts> splitRequirement(std::string_view text) {
  Reader reader(text);
  try {
    reader.requirement();
  } catch (const Refusal&) {
    return std::nullopt;
  }
  RequirementParts parts{text, std::nullopt, reader.isDirectReference()};
  if (const std::optional<std::size_t> at = reader.semicolon()) {
    parts.head = text.substr(0, *at);
    parts.marker = text.substr(*at + 1);
  }
  return parts;
}

void checkDependencies(const fs::path& pyproject, const toml::table& project) {
  if (const toml::node* dependencies = project.get("dependencies"))
    checkList(pyproject, *dependencies, "project.dependencies");
  const toml::node* optional = project.get("optional-dependencies");
  if (!optional) return;
  if (!optional->is_table())
    refuse(pyproject, fmt::format("'project.optional-dependencies' must be a table of arrays, "
                                  "not {}",
                                  kindAndValue(*optional)));
  for (auto&& [extra, list] : *optional->as_table())
    checkList(pyproject, list, "project.optional-dependencies." + shown(extra.str()));
}

} // namespace quorvex::whl
