#include "compilation/textfile.hpp"

#include <cerrno>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

std::error_code lastError() {
  return std::error_code(errno ? errno : EIO, std::generic_category());
}

fs::path temporarySibling(const fs::path& path) {
  std::random_device seed;
  std::mt19937_64 generator(seed());
  std::ostringstream name;
  name << "." << path.filename().string() << ".tmp" << std::hex << generator();
  return path.parent_path() / name.str();
}

} // namespace

std::string readText(const fs::path& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw fs::filesystem_error("cannot read", path, lastError());
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw fs::filesystem_error("cannot read", path, lastError());
  return text.str();
}

void writeText(const fs::path& path, const std::string& text) {
  // A symbolic link keeps being one: the file it points at gets the new text.
  std::error_code ec;
  fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path) : path;
  fs::path temporary = temporarySibling(target);
  try {
    errno = 0;
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) throw fs::filesystem_error("cannot write", path, lastError());
    out << text;
    out.close();
    if (!out) throw fs::filesystem_error("cannot write", path, lastError());
    auto former = fs::status(target, ec);
    if (!ec && fs::exists(former)) fs::permissions(temporary, former.permissions());
    fs::rename(temporary, target);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
}

void removeFile(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
  if (ec && ec != std::errc::no_such_file_or_directory)
    throw fs::filesystem_error("cannot remove", path, ec);
}

} // namespace quorvex::compiler
