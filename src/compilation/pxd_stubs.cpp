#include "compilation/pxd_stubs.hpp"

#include "compilation/paths.hpp"
#include "compilation/textfile.hpp"

#include <sstream>
#include <string_view>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

std::string strip(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

// Files Cython may read besides the sources: declarations, includes, and the package markers
// from which it derives a module's full name.
bool neededBesideSources(const fs::path& path) {
  std::string ext = path.extension().string();
  return ext == ".pxd" || ext == ".pxi" || path.stem() == "__init__";
}

bool skippedDirectory(const fs::path& dir) {
  std::string name = dir.filename().string();
  return name.starts_with(".") || name == "__pycache__" || fs::exists(dir / "pyvenv.cfg");
}

void copyInto(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// The names of a line "from _qvx_bootstrap cimport NAMES" (blanks between the words, at least
// one blank and one more character after "cimport"); none for any other line. Read by hand: a
// regular expression recurses once per character and overflows the stack on a long line.
std::optional<std::string> cimportedNames(std::string_view line) {
  for (std::string_view word : {"from", "_qvx_bootstrap", "cimport"}) {
    if (!line.starts_with(word)) return std::nullopt;
    line.remove_prefix(word.size());
    if (line.empty() || !isBlank(line.front())) return std::nullopt;
    const auto next = line.find_first_not_of(" \t\n\v\f\r");
    // After "cimport" the names are what follows the blanks, or the last blank if only blanks do.
    if (word == "cimport") {
      if (line.size() < 2) return std::nullopt;
      return std::string(line.substr(next == std::string_view::npos ? line.size() - 1 : next));
    }
    line.remove_prefix(next == std::string_view::npos ? line.size() : next);
  }
  return std::nullopt;
}

} // namespace

std::optional<std::string> pxdStubText(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::optional<std::string> names = cimportedNames(line);
    if (!names) continue;
    std::string stub = "# library build - patched by quorvex (no cimport from _qvx_bootstrap)\n";
    std::size_t start = 0;
    while (true) {
      std::size_t comma = names->find(',', start);
      stub += "cdef object " + strip(names->substr(start, comma - start)) + "\n";
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return stub;
  }
  return std::nullopt;
}

std::optional<std::vector<fs::path>> stubbedCopies(const fs::path& sourcePath,
                                                   const std::vector<fs::path>& sources,
                                                   const fs::path& copyRoot) {
  std::vector<std::pair<fs::path, std::string>> stubs;
  for (const auto& entry : fs::directory_iterator(sourcePath)) {
    if (entry.path().extension() != ".pxd" || entry.is_directory()) continue;
    if (auto stub = pxdStubText(readText(entry.path())))
      stubs.emplace_back(entry.path().filename(), *stub);
  }
  if (stubs.empty()) return std::nullopt;

  fs::remove_all(copyRoot);
  fs::create_directories(copyRoot);
  for (auto it = fs::recursive_directory_iterator(sourcePath); it != fs::end(it); ++it) {
    if (it->is_directory() && skippedDirectory(it->path())) it.disable_recursion_pending();
    else if (it->is_regular_file() && neededBesideSources(it->path()))
      copyInto(it->path(), copyRoot / it->path().lexically_relative(sourcePath));
  }
  std::vector<fs::path> copies;
  for (const auto& source : sources) {
    fs::path relative = pathlibForm(source.lexically_relative(pathlibForm(sourcePath)));
    if (relative.empty() || *relative.begin() == "..") {
      copies.push_back(source);
      continue;
    }
    copyInto(source, copyRoot / relative);
    copies.push_back(copyRoot / relative);
  }
  for (const auto& [name, stub] : stubs) writeText(copyRoot / name, stub);
  return copies;
}

} // namespace quorvex::compiler
