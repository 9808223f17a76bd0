#include "packaging/whl_version.hpp"

#include <regex>
#include <string_view>

namespace quorvex::whl {

namespace {

bool isAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A run of digits as the integer text it stands for: leading zeros dropped, "0" kept.
std::string number(const std::string& digits) {
  const auto first = digits.find_first_not_of('0');
  return first == std::string::npos ? "0" : digits.substr(first);
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

} // namespace

bool isValidProjectName(const std::string& name) {
  if (name.empty() || !isAlnum(name.front()) || !isAlnum(name.back())) return false;
  for (char c : name)
    if (!isAlnum(c) && c != '.' && c != '_' && c != '-') return false;
  return true;
}

std::optional<std::string> normalizeVersion(const std::string& version) {
  // The version scheme's public and local parts, with the spellings installers accept.
  static const std::regex scheme(
      R"(\s*v?(?:([0-9]+)!)?([0-9]+(?:\.[0-9]+)*))"
      R"((?:[-_.]?(alpha|beta|preview|pre|rc|a|b|c)[-_.]?([0-9]+)?)?)"
      R"((?:-([0-9]+)|[-_.]?(post|rev|r)[-_.]?([0-9]+)?)?)"
      R"((?:[-_.]?(dev)[-_.]?([0-9]+)?)?)"
      R"((?:\+([a-z0-9]+(?:[-_.][a-z0-9]+)*))?\s*)",
      std::regex::icase | std::regex::ECMAScript);
  std::smatch m;
  if (!std::regex_match(version, m, scheme)) return std::nullopt;

  std::string out;
  if (m[1].matched && number(m[1]) != "0") out += number(m[1]) + "!";
  std::string release = m[2];
  std::string::size_type start = 0;
  for (;;) {
    const auto dot = release.find('.', start);
    out += number(release.substr(start, dot - start));
    if (dot == std::string::npos) break;
    out += '.';
    start = dot + 1;
  }
  if (m[3].matched) {
    const std::string label = lower(m[3]);
    const std::string_view letter = label == "alpha" ? "a"
                                    : label == "beta" ? "b"
                                    : (label == "c" || label == "pre" || label == "preview")
                                        ? "rc"
                                        : std::string_view(label);
    out += std::string(letter) + (m[4].matched ? number(m[4]) : "0");
  }
  if (m[5].matched) out += ".post" + number(m[5]);
  else if (m[6].matched) out += ".post" + (m[7].matched ? number(m[7]) : "0");
  if (m[8].matched) out += ".dev" + (m[9].matched ? number(m[9]) : "0");
  if (m[10].matched) {
    out += '+';
    std::string local = lower(m[10]);
    std::string::size_type begin = 0;
    for (;;) {
      const auto end = local.find_first_of("-_.", begin);
      const std::string part = local.substr(begin, end - begin);
      const bool digits = part.find_first_not_of("0123456789") == std::string::npos;
      out += digits ? number(part) : part;
      if (end == std::string::npos) break;
      out += '.';
      begin = end + 1;
    }
  }
  return out;
}

} // namespace quorvex::whl
