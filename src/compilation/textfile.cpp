#include "compilation/textfile.hpp"

#include "core/fileio.hpp"

#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::compiler {

std::string readText(const fs::path& path) { return fileio::readFile(path); }

void writeText(const fs::path& path, const std::string& text) { fileio::writeFile(path, text); }

void removeFile(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory)
    throw fs::filesystem_error("cannot remove", path, ec);
}

} // namespace quorvex::compiler
