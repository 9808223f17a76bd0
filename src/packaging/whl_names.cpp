#include "packaging/whl_names.hpp"

namespace quorvex::whl {

std::string distributionName(const std::string& projectName) {
  std::string name;
  bool inSeparatorRun = false;
  for (char c : projectName) {
    if (c == '-' || c == '_' || c == '.') {
      if (!inSeparatorRun) name += '_';
      inSeparatorRun = true;
      continue;
    }
    inSeparatorRun = false;
    name += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return name;
}

std::string distributionVersion(const std::string& version) {
  std::string escaped = version;
  for (char& c : escaped)
    if (c == '-') c = '_';
  return escaped;
}

} // namespace quorvex::whl
