#include "packaging/whl_requirement.hpp"

#include "packaging/whl_text.hpp"

#include "packaging/whl_version.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>

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

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is a release with an optional "v" and epoch ("v1!2.0"), as a prefix before
// ".*" must be.
bool isReleasePrefix(std::string_view text) {
  std::size_t at = 0;
  auto digits = [&] {
    const std::size_t start = at;
    while (at < text.size() && isDigit(text[at])) ++at;
    return at > start;
  };
  if (at < text.size() && (text[at] == 'v' || text[at] == 'V')) ++at;
  if (!digits()) return false;
  if (at < text.size() && text[at] == '!') {
    ++at;
    if (!digits()) return false;
  }
  while (at < text.size() && text[at] == '.') {
    ++at;
    if (!digits()) return false;
  }
  return at == text.size();
}

// Whether `version` may follow `op` in a version specifier.
bool fitsOperator(std::string_view op, const std::string& version) {
  if (op == "===") return true;
  if (version.ends_with(".*"))
    return (op == "==" || op == "!=") &&
           isReleasePrefix(std::string_view(version).substr(0, version.size() - 2));
  const std::optional<std::string> normal = normalizeVersion(version);
  if (!normal) return false;
  // Only (in)equality may name a local version; "~=" needs a release of two parts or more.
  if (op != "==" && op != "!=" && normal->find('+') != std::string::npos) return false;
  if (op != "~=") return true;
  const std::string release = normal->substr(normal->find('!') + 1);
  const auto end = release.find_first_not_of("0123456789.");
  return release.substr(0, end).find('.') != std::string::npos;
}

// A recursive-descent reader of one specifier: it accepts the text whole or throws a Refusal.
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

  [[noreturn]] void fail(const std::string& what) const {
    throw Refusal{what + (atEnd() ? " at the end" : fmt::format(" at column {}", at_ + 1))};
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

  // Letters and digits, with ".", "_" and "-" inside.
  std::string_view identifier() {
    const std::size_t start = at_;
    if (!isAlnum(peek())) return {};
    while (isAlnum(peek()) || peek() == '.' || peek() == '_' || peek() == '-') ++at_;
    while (!isAlnum(text_[at_ - 1])) --at_;
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

  void directReference() {
    directReference_ = true;
    skipSpace();
    const std::size_t start = at_;
    while (!atEnd() && peek() != ' ' && peek() != '\t') ++at_;
    if (at_ == start) fail("expected a URL after '@'");
    skipSpace();
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

  bool atOperator() const {
    return std::any_of(versionOperators.begin(), versionOperators.end(),
                       [&](std::string_view op) { return text_.substr(at_).starts_with(op); });
  }

  // Specifiers separated by commas; installers accept a comma after the last one.
  void versions() {
    if (!atOperator()) return;
    do {
      specifier();
      skipSpace();
      if (!take(",")) return;
      skipSpace();
    } while (atOperator());
  }

  void specifier() {
    const auto op = std::find_if(versionOperators.begin(), versionOperators.end(),
                                 [&](std::string_view candidate) { return take(candidate); });
    if (op == versionOperators.end()) fail("expected a version specifier such as '>=1.0'");
    skipSpace();
    const std::size_t start = at_;
    while (!atEnd() && std::string_view(" \t,;)").find(peek()) == std::string_view::npos) ++at_;
    const std::string version(text_.substr(start, at_ - start));
    if (version.empty()) fail("expected a version after '" + std::string(*op) + "'");
    if (!fitsOperator(*op, version)) {
      at_ = start;
      fail("'" + std::string(*op) + version + "' is not a valid version specifier");
    }
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
  if (!node.is_array()) refuse(pyproject, "'" + key + "' must be an array of strings");
  std::size_t number = 0;
  for (const toml::node& entry : *node.as_array()) {
    ++number;
    if (!entry.is_string())
      refuse(pyproject, fmt::format("entry {} of '{}' must be a string", number, key));
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
    refuse(pyproject, "'project.optional-dependencies' must be a table of arrays");
  for (auto&& [extra, list] : *optional->as_table())
    checkList(pyproject, list, "project.optional-dependencies." + std::string(extra.str()));
}

} // namespace quorvex::whl
