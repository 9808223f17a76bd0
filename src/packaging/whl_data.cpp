#include "packaging/whl_data.hpp"

#include <algorithm>
#include <array>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

// `path` below the root without "." parts, in the form it takes inside the wheel.
std::string placeOf(const fs::path& path) {
  fs::path place;
  for (const auto& part : path.lexically_normal())
    if (part != "." && !part.empty()) place /= part;
  return place.generic_string();
}

bool skippedDirectory(const fs::path& directory) {
  const std::string name = directory.filename().string();
  std::error_code ec;
  return name.starts_with(".") || name == "__pycache__" ||
         fs::is_regular_file(directory / "pyvenv.cfg", ec);
}

bool buildOutput(const fs::path& file, const std::set<std::string>& compiled,
                 const std::string& place) {
  static const std::array<std::string, 6> objects = {".pyc", ".pyo", ".o", ".obj", ".so", ".pyd"};
  const std::string suffix = file.extension().string();
  if (std::find(objects.begin(), objects.end(), suffix) != objects.end()) return true;
  if (suffix != ".c" && suffix != ".cpp") return false;
  // Cython's translation of a compiled source, left by an earlier in-place build.
  const std::string stem = place.substr(0, place.size() - suffix.size());
  return compiled.contains(stem + ".py") || compiled.contains(stem + ".pyx");
}

} // namespace

std::vector<DataFile> packageData(const fs::path& base, const std::vector<fs::path>& sources) {
  std::set<std::string> compiled;
  std::set<std::string> packageDirs;
  for (const auto& source : sources) {
    const std::string place = placeOf(source);
    compiled.insert(place);
    if (auto slash = place.find('/'); slash != std::string::npos)
      packageDirs.insert(place.substr(0, slash));
  }
  std::vector<DataFile> files;
  for (const auto& dir : packageDirs) {
    std::error_code ec;
    if (!fs::is_directory(base / dir, ec)) continue;
    for (auto it = fs::recursive_directory_iterator(base / dir); it != fs::end(it); ++it) {
      if (it->is_directory(ec)) {
        if (skippedDirectory(it->path())) it.disable_recursion_pending();
        continue;
      }
      const std::string place = placeOf(it->path().lexically_relative(base));
      if (!it->is_regular_file(ec) || it->path().filename().string().starts_with(".") ||
          compiled.contains(place) || buildOutput(it->path(), compiled, place))
        continue;
      files.push_back({it->path(), place});
    }
  }
  std::sort(files.begin(), files.end(),
            [](const DataFile& a, const DataFile& b) { return a.place < b.place; });
  return files;
}

} // namespace quorvex::whl
