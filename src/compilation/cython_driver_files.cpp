#include "compilation/cython_driver_files.hpp"

#include "core/fileio.hpp"

#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

// The driver: corrections of Cython where it departs from Python, then Cython's own main.
const char cythonDriverBytes[] = {
#include "templates/cython_driver.py.inc"
};
const std::string_view cythonDriverText(cythonDriverBytes, sizeof cythonDriverBytes);

// The corrections' modules and C files, `cythonDriverFiles`, a {name, text} pair each.
#include "cython_driver/files.inc"

void writeIfChanged(const fs::path& path, std::string_view text) {
  std::error_code error;
  if (!fs::exists(path, error) || fileio::readFile(path) != text) fileio::writeFile(path, text);
}

} // namespace

fs::path writeCythonDriver(Context& context) {
  const fs::path directory = context.buildPath() / cythonDriverPackage;
  fs::create_directories(directory);
  for (const auto& [name, text] : cythonDriverFiles) writeIfChanged(directory / name, text);
  // The driver last: it loads the corrections when it starts.
  const fs::path driver = context.buildPath() / cythonDriverFile;
  writeIfChanged(driver, cythonDriverText);
  return driver;
}

} // namespace quorvex::compiler
