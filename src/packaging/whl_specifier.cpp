#include "packaging/whl_specifier.hpp"

#include "core/utf8.hpp"
#include "packaging/whl_text.hpp"
#include "packaging/whl_version.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char lowered(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The packaging library's specifier pattern, read left to right. Its quantifiers are
// possessive, so each part is taken whole or not at all and nothing is ever given back: one
// pass decides. Letters compare without case, ASCII only.
class SpecifierPattern {
public:
  SpecifierPattern(std::string_view text, std::size_t at) : text_(text), at_(at) {}

  std::optional<std::size_t> end() {
    const auto op = std::find_if(versionOperators.begin(), versionOperators.end(),
                                 [&](std::string_view name) { return take(name); });
    if (op == versionOperators.end()) return std::nullopt;
    skipBlanks();
    if (*op == "===") return arbitrary() ? std::optional(at_) : std::nullopt;
    const bool equality = *op == "==" || *op == "!=";
    if (!release(*op == "~=" ? 2 : 1)) return std::nullopt;
    if (equality && take(".*")) return at_;
    preRelease();
    postRelease();
    devRelease();
    if (equality) local();
    return at_;
  }

private:
  char peek(std::size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }

  bool take(std::string_view word) {
    if (text_.size() - at_ < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
      if (lowered(text_[at_ + i]) != word[i]) return false;
    at_ += word.size();
    return true;
  }

  void skipBlanks() {
    while (const std::size_t length = blankLength(text_, at_)) at_ += length;
  }

  bool digits() {
    const std::size_t start = at_;
    while (isDigit(peek())) ++at_;
    return at_ > start;
  }

  void separator() {
    if (peek() == '-' || peek() == '_' || peek() == '.') ++at_;
  }

  // Anything but a blank, ";" or ")", at least once.
  bool arbitrary() {
    const std::size_t start = at_;
    while (at_ < text_.size() && peek() != ';' && peek() != ')' && !blankLength(text_, at_))
      ++at_;
    return at_ > start;
  }

  // [v][N!]N(.N)*, with at least `parts` parts.
  bool release(int parts) {
    take("v");
    const std::size_t start = at_;
    if (!(digits() && take("!"))) at_ = start;
    if (!digits()) return false;
    int count = 1;
    while (peek() == '.' && isDigit(peek(1))) {
      ++at_;
      digits();
      ++count;
    }
    return count >= parts;
  }

  // An optional separator, the first of `labels` that follows, an optional separator and
  // digits; nothing is taken when no label follows.
  template <std::size_t N> void labelled(const std::array<std::string_view, N>& labels) {
    const std::size_t start = at_;
    separator();
    if (std::none_of(labels.begin(), labels.end(), [&](std::string_view l) { return take(l); })) {
      at_ = start;
      return;
    }
    separator();
    digits();
  }

  void preRelease() {
    static constexpr std::array<std::string_view, 8> labels{"alpha", "beta", "preview", "pre",
                                                            "a",     "b",    "c",       "rc"};
    labelled(labels);
  }

  void postRelease() {
    if (peek() == '-' && isDigit(peek(1))) {
      ++at_;
      digits();
      return;
    }
    static constexpr std::array<std::string_view, 3> labels{"post", "rev", "r"};
    labelled(labels);
  }

  void devRelease() {
    static constexpr std::array<std::string_view, 1> labels{"dev"};
    labelled(labels);
  }

  bool alnums() {
    const std::size_t start = at_;
    while (isDigit(peek()) || (lowered(peek()) >= 'a' && lowered(peek()) <= 'z')) ++at_;
    return at_ > start;
  }

  // "+" and letter-or-digit runs joined by separators.
  void local() {
    const std::size_t start = at_;
    if (!take("+") || !alnums()) {
      at_ = start;
      return;
    }
    for (;;) {
      const std::size_t segment = at_;
      if (peek() != '-' && peek() != '_' && peek() != '.') return;
      ++at_;
      if (!alnums()) {
        at_ = segment;
        return;
      }
    }
  }

  std::string_view text_;
  std::size_t at_;
};

std::string_view operatorOf(std::string_view specifier) {
  const auto op = std::find_if(versionOperators.begin(), versionOperators.end(),
                               [&](std::string_view name) { return specifier.starts_with(name); });
  return op == versionOperators.end() ? std::string_view() : *op;
}

bool isSpecifier(std::string_view text) {
  return !text.empty() && specifierEnd(text, 0) == text.size();
}

struct Specifier {
  std::string_view op;
  std::string version;
};

// The set's specifiers with their operators and versions, blanks dropped.
std::vector<Specifier> split(std::string_view text) {
  std::vector<Specifier> specifiers;
  for (std::string_view piece : splitSpecifierSet(text).value_or(std::vector<std::string_view>())) {
    const std::string_view op = operatorOf(piece);
    specifiers.push_back({op, std::string(stripPythonSpace(piece.substr(op.size())))});
  }
  return specifiers;
}

// Digit runs without leading zeros, compared as the numbers they stand for, however long.
int compareNumbers(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : a == b ? 0 : 1;
}

bool isDigits(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// A version in its normal form, split into the parts that order it.
struct Version {
  std::string epoch = "0";
  std::vector<std::string> release;
  int phase = 4; // 0: a development release before any pre-release, 1-3: a, b, rc; 4: final
  std::string pre = "0";
  std::optional<std::string> post;
  std::optional<std::string> dev;
  std::vector<std::string> local;

  bool preRelease() const { return phase < 4; }
};

std::vector<std::string> splitAt(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const auto at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// Reads `normalizeVersion`'s output: [N!]N(.N)*[{a|b|rc}N][.postN][.devN][+local].
Version parse(const std::string& version) {
  const std::string normal = normalizeVersion(version).value_or("0");
  Version out;
  std::string rest = normal;
  if (const auto plus = rest.find('+'); plus != std::string::npos) {
    out.local = splitAt(rest.substr(plus + 1), '.');
    rest.erase(plus);
  }
  if (const auto bang = rest.find('!'); bang != std::string::npos) {
    out.epoch = rest.substr(0, bang);
    rest.erase(0, bang + 1);
  }
  if (const auto at = rest.find(".dev"); at != std::string::npos) {
    out.dev = rest.substr(at + 4);
    rest.erase(at);
  }
  if (const auto at = rest.find(".post"); at != std::string::npos) {
    out.post = rest.substr(at + 5);
    rest.erase(at);
  }
  const auto label = rest.find_first_of("abr");
  if (label != std::string::npos) {
    const std::size_t digits = rest[label] == 'r' ? label + 2 : label + 1;
    out.phase = rest[label] == 'a' ? 1 : rest[label] == 'b' ? 2 : 3;
    out.pre = rest.substr(digits);
    rest.erase(label);
  } else if (out.dev && !out.post) {
    out.phase = 0;
  }
  out.release = splitAt(rest, '.');
  // Trailing zeros do not count: 3.12 and 3.12.0 are the same version.
  while (out.release.size() > 1 && out.release.back() == "0") out.release.pop_back();
  return out;
}

int compareOptional(const std::optional<std::string>& a, const std::optional<std::string>& b,
                    bool missingSortsFirst) {
  if (a && b) return compareNumbers(*a, *b);
  if (!a && !b) return 0;
  return (!a == missingSortsFirst) ? -1 : 1;
}

int compareLocal(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    // A numeric segment sorts after an alphanumeric one.
    const bool aNumber = isDigits(a[i]), bNumber = isDigits(b[i]);
    const int order = aNumber != bNumber ? (aNumber ? 1 : -1)
                      : aNumber          ? compareNumbers(a[i], b[i])
                                         : a[i].compare(b[i]);
    if (order != 0) return order < 0 ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int compare(const Version& a, const Version& b) {
  if (int order = compareNumbers(a.epoch, b.epoch)) return order;
  for (std::size_t i = 0; i < a.release.size() && i < b.release.size(); ++i)
    if (int order = compareNumbers(a.release[i], b.release[i])) return order;
  if (a.release.size() != b.release.size()) return a.release.size() < b.release.size() ? -1 : 1;
  if (a.phase != b.phase) return a.phase < b.phase ? -1 : 1;
  if (int order = compareNumbers(a.pre, b.pre)) return order;
  // No post-release sorts first; no development release sorts last.
  if (int order = compareOptional(a.post, b.post, true)) return order;
  if (int order = compareOptional(a.dev, b.dev, false)) return order;
  return compareLocal(a.local, b.local);
}

// "==3.12.*": the same epoch and the release's leading parts, the candidate padded with zeros.
bool matchesPrefix(const Version& candidate, const std::string& prefixText) {
  std::string normal = normalizeVersion(prefixText).value_or("0");
  std::string epoch = "0";
  if (const auto bang = normal.find('!'); bang != std::string::npos) {
    epoch = normal.substr(0, bang);
    normal.erase(0, bang + 1);
  }
  const std::vector<std::string> wanted = splitAt(normal, '.');
  std::vector<std::string> release = candidate.release;
  release.resize(std::max(release.size(), wanted.size()), "0");
  return candidate.epoch == epoch && std::equal(wanted.begin(), wanted.end(), release.begin());
}

bool satisfies(const Version& candidate, const std::string& candidateText, const Specifier& spec) {
  if (spec.op == "===") {
    std::string a = candidateText, b = spec.version;
    for (std::string* text : {&a, &b})
      std::transform(text->begin(), text->end(), text->begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return a == b;
  }
  if (spec.version.ends_with(".*")) {
    const bool matches =
        matchesPrefix(candidate, spec.version.substr(0, spec.version.size() - 2));
    return spec.op == "==" ? matches : !matches;
  }
  const Version bound = parse(spec.version);
  Version publicPart = candidate;
  // A specifier without a local label compares public versions only.
  if (bound.local.empty()) publicPart.local.clear();
  const int order = compare(publicPart, bound);
  if (spec.op == "==") return order == 0;
  if (spec.op == "!=") return order != 0;
  if (spec.op == "<=") return order <= 0;
  if (spec.op == ">=") return order >= 0;
  if (spec.op == "<") return order < 0;
  if (spec.op == ">") return order > 0;
  // "~=2.2.1": at least 2.2.1 and within 2.2.*.
  std::string prefix = normalizeVersion(spec.version).value_or("0");
  prefix = prefix.substr(0, prefix.find_first_not_of("0123456789.!"));
  while (prefix.ends_with(".")) prefix.pop_back();
  return order >= 0 && matchesPrefix(candidate, prefix.substr(0, prefix.rfind('.')));
}

} // namespace

std::size_t blankLength(std::string_view text, std::size_t at) {
  if (at >= text.size()) return 0;
  std::size_t next = at;
  const std::optional<char32_t> point = utf8::nextCodePoint(text, next);
  if (!point) return 0;
  return isPythonSpace(*point) ? next - at : 0;
}

std::optional<std::size_t> specifierEnd(std::string_view text, std::size_t at) {
  return SpecifierPattern(text, at).end();
}

std::string codePointName(char32_t point) {
  return fmt::format("U+{:04X}", static_cast<std::uint32_t>(point));
}

std::string specifierHint(std::string_view piece) {
  const std::string_view op = operatorOf(piece);
  if (op.empty()) return "";
  const std::string version(stripPythonSpace(piece.substr(op.size())));
  const auto validWith = [&](std::string_view other) {
    return isSpecifier(std::string(other) + version);
  };
  if (op == "~=" && validWith(">="))
    return "'~=' needs a release of at least two parts, such as '~=1.0'";
  if (op != "==" && op != "!=" && op != "===" && validWith("==") && !validWith(">="))
    return version.ends_with(".*") ? "only '==' and '!=' take a '.*' prefix"
                                   : "only '==' and '!=' take a local version label";
  // A space shows; other blanks inside a version are named.
  for (std::size_t at = 0; at < version.size(); ++at)
    if (blankLength(version, at) && version[at] != ' ')
      return codePointName(*utf8::nextCodePoint(version, at)) + ", a blank, ends a version";
  return "";
}

std::optional<std::vector<std::string_view>> splitSpecifierSet(std::string_view text,
                                                               std::string* why) {
  std::vector<std::string_view> specifiers;
  for (std::size_t start = 0; start <= text.size();) {
    const auto comma = std::min(text.find(',', start), text.size());
    const std::string_view piece = stripPythonSpace(text.substr(start, comma - start));
    start = comma + 1;
    if (piece.empty()) continue;
    if (!isSpecifier(piece)) {
      if (why) {
        const std::string hint = specifierHint(piece);
        *why = "'" + shown(piece) + "' is not a version specifier such as '>=3.9'" +
               (hint.empty() ? "" : ": " + hint);
      }
      return std::nullopt;
    }
    specifiers.push_back(piece);
  }
  return specifiers;
}

std::optional<std::string> specifierSetError(std::string_view specifiers) {
  std::string why;
  if (splitSpecifierSet(specifiers, &why)) return std::nullopt;
  return why;
}

bool admits(std::string_view specifiers, const std::string& version) {
  const Version candidate = parse(version);
  const std::vector<Specifier> set = split(specifiers);
  return std::all_of(set.begin(), set.end(), [&](const Specifier& spec) {
    return satisfies(candidate, version, spec);
  });
}

void checkRequiresPython(const fs::path& pyproject, const toml::table& project) {
  const toml::node* node = project.get("requires-python");
  if (!node) return;
  const std::string where = pyproject.string() + ": 'project.requires-python'";
  if (!node->is_string())
    throw std::runtime_error(where + " must be a string such as '>=3.9', not " +
                             kindAndValue(*node));
  const std::string& specifiers = node->as_string()->get();
  if (auto why = specifierSetError(specifiers))
    throw std::runtime_error(where + ", '" + shown(specifiers) +
                             "', is not a version specifier set: " + *why);
}

void checkRequiresPython(const fs::path& pyproject, const toml::table& project,
                         const std::string& pythonVersion, const std::string& purpose) {
  checkRequiresPython(pyproject, project);
  const auto* specifiers = project.get_as<std::string>("requires-python");
  if (specifiers && !admits(specifiers->get(), pythonVersion))
    throw std::runtime_error(pyproject.string() + ": 'project.requires-python' ('" +
                             shown(specifiers->get()) + "') excludes Python " + pythonVersion +
                             ", which the build uses and " + purpose +
                             " would carry; build with a Python that the project admits, or "
                             "change 'requires-python'");
}

} // namespace quorvex::whl
