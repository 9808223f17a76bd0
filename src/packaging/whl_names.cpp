#include "packaging/whl_names.hpp"

namespace quorvex::whl {

namespace {

// `text` in lower case with every run of "-", "_" and "." replaced by one `separator`.
std::string folded(const std::string& text, char separator) {
  std::string name;
  bool inSeparatorRun = false;
  for (char c : text) {
    if (c == '-' || c == '_' || c == '.') {
      if (!inSeparatorRun) name += separator;
      inSeparatorRun = true;
      continue;
    }
    inSeparatorRun = false;
    name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return name;
}

} // namespace

std::string distributionName(const std::string& projectName) { return folded(projectName, '_'); }

std::string normalizedName(const std::string& name) { return folded(name, '-'); }

std::string distributionVersion(const std::string& version) {
  std::string escaped = version;
  for (char& c : escaped)
    if (c == '-') c = '_';
  return escaped;
}

} // namespace quorvex::whl
