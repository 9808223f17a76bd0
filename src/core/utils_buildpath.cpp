#include "core/utils.hpp"

#include "core/fileio.hpp"

#include <fstream>

namespace fs = std::filesystem;

namespace quorvex::utils {

namespace {

// The build directory of this process, set by the first call.
std::optional<fs::path>& buildPath() {
  static std::optional<fs::path> path;
  return path;
}

void writeGitignore(const fs::path& target) {
  fs::path temporary = fileio::temporarySibling(target);
  fileio::TemporaryFile cleanup(temporary);
  {
    // Text mode: the line break is the platform's own.
    std::ofstream out(temporary);
    out << "*\n!.gitignore";
    out.close();
    if (!out)
      throw fs::filesystem_error("cannot write", temporary,
                                 std::make_error_code(std::errc::io_error));
  }
  fs::rename(temporary, target);
  cleanup.release();
}

} // namespace

fs::path getBuildPath() {
  if (buildPath()) return *buildPath();
  fs::path path = ".quorvex_build";
  fs::create_directories(path);
  fs::path gitignore = path / ".gitignore";
  if (!fs::exists(fs::symlink_status(gitignore))) writeGitignore(gitignore);
  buildPath() = path;
  return path;
}

} // namespace quorvex::utils
