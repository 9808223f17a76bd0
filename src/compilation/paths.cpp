#include "compilation/paths.hpp"

#include <algorithm>
#include <cctype>
#include <string>

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

} // namespace

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
