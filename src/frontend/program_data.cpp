#include "frontend/program_data.hpp"

#include "core/log.hpp"
#include "packaging/whl_data.hpp"

#include <array>
#include <string>

namespace quorvex::builder {

namespace fs = std::filesystem;

namespace {

// Files that Python reads as code or its tools as declarations: not data a program misses.
bool isPythonSource(const fs::path& file) {
  static constexpr std::array<const char*, 5> suffixes{".py", ".pyw", ".pyi", ".pyx", ".pxd"};
  const std::string suffix = file.extension().string();
  for (const char* known : suffixes)
    if (suffix == known) return true;
  return file.filename() == "py.typed";
}

} // namespace

void warnOfProgramData(const fs::path& base, const std::vector<fs::path>& sources) {
  std::vector<std::string> places;
  for (const whl::DataFile& file : whl::packageData(base, sources))
    if (!isPythonSource(file.place)) places.push_back(file.place);
  if (places.empty()) return;
  constexpr std::size_t shown = 5;
  std::string list;
  for (std::size_t i = 0; i < places.size() && i < shown; ++i)
    list += (i ? ", " : "") + places[i];
  if (places.size() > shown) list += ", ...";
  log::getLogger("quorvex.builder")
      .warning("A program does not carry the data files of its packages ({} file{}: {}); code "
               "that opens them beside a module, or through importlib.resources or "
               "pkgutil.get_data, finds none. A library wheel (--library --wheel) ships them",
               places.size(), places.size() == 1 ? "" : "s", list);
}

} // namespace quorvex::builder
