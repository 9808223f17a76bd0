// The file-list text of log lines and order-keeping de-duplication.
#include "compilation/compiler.hpp"

#include <unordered_set>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

// Widths count characters, not the bytes of their UTF-8 encoding.
std::size_t characters(const std::string& text) {
  std::size_t count = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++count;
  return count;
}

std::string withoutTrailingSeparators(std::string line) {
  auto end = line.find_last_not_of(", ");
  return end == std::string::npos ? std::string() : line.substr(0, end + 1);
}

} // namespace

std::string _format_filenames(const std::vector<std::string>& paths, std::size_t width) {
  std::vector<std::string> lines;
  std::string current;
  for (const auto& p : paths) {
    std::string name = fs::path(p).filename().string();
    std::string candidate = current + name + ", ";
    if (characters(candidate) > width && !current.empty()) {
      lines.push_back(withoutTrailingSeparators(current));
      current = name + ", ";
    } else {
      current = candidate;
    }
  }
  if (!current.empty()) lines.push_back(withoutTrailingSeparators(current));
  std::string result;
  for (std::size_t i = 0; i < lines.size(); ++i) result += (i ? "\n" : "") + lines[i];
  return result;
}

std::string _format_filenames(const std::vector<fs::path>& paths, std::size_t width) {
  std::vector<std::string> texts;
  texts.reserve(paths.size());
  for (const auto& p : paths) texts.push_back(p.string());
  return _format_filenames(texts, width);
}

std::vector<std::string> _dedupe_keep_order(const std::vector<std::string>& items) {
  std::unordered_set<std::string> seen;
  std::vector<std::string> out;
  for (const auto& item : items)
    if (seen.insert(item).second) out.push_back(item);
  return out;
}

} // namespace quorvex::compiler
