#include "packaging/whl_specifier.hpp"

#include "packaging/whl_requirement.hpp"
#include "packaging/whl_text.hpp"
#include "packaging/whl_version.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

struct Specifier {
  std::string_view op;
  std::string version;
};

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The set's specifiers as installers split it: at commas, blanks around each dropped, empty
// pieces skipped. Each is checked by the dependency grammar, which knows which versions fit
// which operator; the first bad one is given as the refusal.
std::vector<Specifier> split(std::string_view text, std::string* error) {
  std::vector<Specifier> specifiers;
  for (std::size_t start = 0; start <= text.size();) {
    const auto comma = std::min(text.find(',', start), text.size());
    const std::string_view piece = trimmed(text.substr(start, comma - start));
    start = comma + 1;
    if (piece.empty()) continue;
    const auto op = std::find_if(versionOperators.begin(), versionOperators.end(),
                                 [&](std::string_view name) { return piece.starts_with(name); });
    const std::string version(op == versionOperators.end() ? ""
                                                           : trimmed(piece.substr(op->size())));
    // Without a ";", the grammar cannot read a marker into the version.
    const bool valid = op != versionOperators.end() && !version.empty() &&
                       version.find_first_of(" \t;") == std::string::npos &&
                       !requirementError("python" + std::string(*op) + version);
    if (!valid) {
      if (error)
        *error = "'" + std::string(piece) + "' is not a version specifier such as '>=3.9'";
      return {};
    }
    specifiers.push_back({*op, version});
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

std::optional<std::string> specifierSetError(std::string_view specifiers) {
  std::string error;
  split(specifiers, &error);
  return error.empty() ? std::nullopt : std::optional<std::string>(error);
}

bool admits(std::string_view specifiers, const std::string& version) {
  const Version candidate = parse(version);
  const std::vector<Specifier> set = split(specifiers, nullptr);
  return std::all_of(set.begin(), set.end(), [&](const Specifier& spec) {
    return satisfies(candidate, version, spec);
  });
}

void checkRequiresPython(const fs::path& pyproject, const toml::table& project,
                         const std::string& pythonVersion, const std::string& purpose) {
  const toml::node* node = project.get("requires-python");
  if (!node) return;
  const std::string where = pyproject.string() + ": 'requires-python'";
  if (!node->is_string()) throw std::runtime_error(where + " must be a string");
  const std::string& specifiers = node->as_string()->get();
  if (auto why = specifierSetError(specifiers))
    throw std::runtime_error(where + ", '" + shown(specifiers) +
                             "', is not a version specifier set: " + *why);
  if (!admits(specifiers, pythonVersion))
    throw std::runtime_error(where + " ('" + shown(specifiers) + "') excludes Python " +
                             pythonVersion + ", which the build uses and " + purpose +
                             " would carry; build with a Python that the project admits, or "
                             "change 'requires-python'");
}

} // namespace quorvex::whl
