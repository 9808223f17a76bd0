#include "compilation/source_glob.hpp"

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

#ifdef _WIN32
constexpr bool caseInsensitive = true;
#else
constexpr bool caseInsensitive = false;
#endif

char fold(char c) {
  return caseInsensitive ? static_cast<char>(std::tolower(static_cast<unsigned char>(c))) : c;
}

bool hasWildcard(const std::string& part) {
  return part.find_first_of("*?[") != std::string::npos;
}

// Matches a "[...]" set at pattern[p] against c; `next` receives the index after the set.
// A "[" without a closing "]" is an ordinary character, as in fnmatch.
bool matchSet(const std::string& pattern, std::size_t p, char c, std::size_t& next, bool& isSet) {
  std::size_t i = p + 1;
  bool negate = false;
  if (i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^')) {
    negate = true;
    ++i;
  }
  // A "]" right after the opening bracket belongs to the set.
  std::size_t close = pattern.find(']', (i < pattern.size() && pattern[i] == ']') ? i + 1 : i);
  if (close == std::string::npos) {
    isSet = false;
    return false;
  }
  isSet = true;
  next = close + 1;
  bool found = false;
  for (std::size_t k = i; k < close; ++k) {
    if (k + 2 < close && pattern[k + 1] == '-') {
      if (fold(pattern[k]) <= fold(c) && fold(c) <= fold(pattern[k + 2])) found = true;
      k += 2;
    } else if (fold(pattern[k]) == fold(c)) {
      found = true;
    }
  }
  return found != negate;
}

bool matchFrom(const std::string& pattern, std::size_t p, const std::string& name, std::size_t n) {
  while (p < pattern.size()) {
    char pc = pattern[p];
    if (pc == '*') {
      for (std::size_t k = n; k <= name.size(); ++k)
        if (matchFrom(pattern, p + 1, name, k)) return true;
      return false;
    }
    if (n >= name.size()) return false;
    if (pc == '?') {
      ++p;
      ++n;
      continue;
    }
    if (pc == '[') {
      std::size_t next = 0;
      bool isSet = false;
      bool ok = matchSet(pattern, p, name[n], next, isSet);
      if (isSet) {
        if (!ok) return false;
        p = next;
        ++n;
        continue;
      }
    }
    if (fold(pc) != fold(name[n])) return false;
    ++p;
    ++n;
  }
  return n == name.size();
}

bool isDirectory(const fs::path& p) {
  std::error_code ec;
  return fs::is_directory(p, ec);
}

bool isFileEntry(const fs::path& p) {
  std::error_code ec;
  auto status = fs::status(p, ec);
  return !ec && fs::exists(status) && !fs::is_directory(status);
}

std::vector<std::string> splitPattern(const std::string& pattern) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : pattern) {
    if (c == '/' || (caseInsensitive && c == '\\')) {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

void expand(const fs::path& root, const fs::path& rel, const std::vector<std::string>& parts,
            std::size_t i, std::vector<fs::path>& out) {
  fs::path here = joinPath(root, rel);
  if (i == parts.size()) {
    if (!rel.empty() && isFileEntry(here)) out.push_back(here);
    return;
  }
  const std::string& part = parts[i];
  bool last = i + 1 == parts.size();
  if (part == ".") {
    expand(root, rel, parts, i + 1, out);
    return;
  }
  if (part == "**") {
    expand(root, rel, parts, i + 1, out);
    if (!isDirectory(here)) return;
    std::error_code ec;
    for (fs::directory_iterator it(here, ec), end; !ec && it != end; it.increment(ec)) {
      // Symbolic links are not followed here, so a link loop cannot recurse for ever.
      if (it->is_directory(ec) && !it->is_symlink(ec))
        expand(root, rel / it->path().filename(), parts, i, out);
    }
    return;
  }
  if (!hasWildcard(part)) {
    fs::path next = rel / part;
    if (last || isDirectory(joinPath(root, next))) expand(root, next, parts, i + 1, out);
    return;
  }
  if (!isDirectory(here)) return;
  std::error_code ec;
  for (fs::directory_iterator it(here, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (!matchComponent(part, name)) continue;
    if (last || isDirectory(it->path())) expand(root, rel / name, parts, i + 1, out);
  }
}

} // namespace

bool matchComponent(const std::string& pattern, const std::string& name) {
  return matchFrom(pattern, 0, name, 0);
}

std::vector<fs::path> globFiles(const fs::path& root, const std::string& pattern) {
  if (!pattern.empty() && (pattern.front() == '/' || fs::path(pattern).is_absolute()))
    throw std::invalid_argument("Non-relative patterns are unsupported: " + pattern);
  std::vector<fs::path> out;
  auto parts = splitPattern(pattern);
  if (parts.empty()) return out;
  expand(pathlibForm(root), fs::path(), parts, 0, out);
  return out;
}

bool pathLess(const fs::path& a, const fs::path& b) {
  auto ia = a.begin(), ib = b.begin();
  for (; ia != a.end() && ib != b.end(); ++ia, ++ib) {
    std::string x = ia->string(), y = ib->string();
    if (caseInsensitive) {
      std::transform(x.begin(), x.end(), x.begin(), fold);
      std::transform(y.begin(), y.end(), y.begin(), fold);
    }
    if (x != y) return x < y;
  }
  return ia == a.end() && ib != b.end();
}

fs::path pathlibForm(const fs::path& p) {
  fs::path out;
  for (const auto& part : p) {
    if (part == "." || part.empty()) continue;
    out /= part;
  }
  return out.empty() ? fs::path(".") : out;
}

fs::path joinPath(const fs::path& a, const fs::path& b) {
  if (a.empty() || a == ".") return b.empty() ? fs::path(".") : b;
  if (b.empty() || b == ".") return a;
  return a / b;
}

} // namespace quorvex::compiler
