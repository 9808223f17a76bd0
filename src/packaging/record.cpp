#include "packaging/record.hpp"

#include "packaging/whl_archive.hpp"

#include <fmt/format.h>

namespace quorvex::record {

std::string line(const std::string& path, std::string_view data) {
  std::string field;
  if (path.find_first_of(",\"\r\n") == std::string::npos) {
    field = path;
  } else {
    field.push_back('"');
    for (const char c : path) {
      if (c == '"') field.push_back('"');
      field.push_back(c);
    }
    field.push_back('"');
  }
  return fmt::format("{},sha256={},{}", field, whl::recordHash(data), data.size());
}

std::optional<std::string> pathOf(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (text.front() != '"') return std::string(text.substr(0, text.find(',')));
  std::string path;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (text[i] != '"') {
      path += text[i];
    } else if (i + 1 < text.size() && text[i + 1] == '"') {
      path += '"';
      ++i;
    } else {
      return path;
    }
  }
  return std::nullopt;
}

} // namespace quorvex::record
