#include "core/fileio.hpp"

#include "core/filetimes.hpp"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::fileio {

namespace {

std::error_code lastError() {
  return std::error_code(errno ? errno : EIO, std::generic_category());
}

} // namespace

TemporaryFile::~TemporaryFile() {
  if (path_.empty()) return;
  std::error_code ignored;
  fs::remove(path_, ignored);
}

fs::path temporarySibling(const fs::path& target) {
  // A random number per process and a counter: unique among the threads of one process and,
  // with 64 random bits, among processes.
  static const unsigned long long salt = [] {
    std::random_device seed;
    return (static_cast<unsigned long long>(seed()) << 32) ^ seed();
  }();
  static std::atomic<unsigned long long> counter{0};
  std::ostringstream name;
  name << "." << target.filename().string() << ".tmp-" << std::hex << salt << "-" << ++counter;
  return target.parent_path() / name.str();
}

std::string readFile(const fs::path& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) throw fs::filesystem_error("cannot read", path, lastError());
  std::ostringstream data;
  data << in.rdbuf();
  if (in.bad()) throw fs::filesystem_error("cannot read", path, lastError());
  return data.str();
}

void writeFile(const fs::path& path, std::string_view data) {
  std::error_code ec;
  const fs::path target = fs::is_symlink(path, ec) ? fs::canonical(path) : path;
  TemporaryFile temporary(temporarySibling(target));
  {
    errno = 0;
    std::ofstream out(temporary.path(), std::ios::binary | std::ios::trunc);
    if (!out) throw fs::filesystem_error("cannot write", path, lastError());
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) throw fs::filesystem_error("cannot write", path, lastError());
  }
  const fs::file_status former = fs::status(target, ec);
  if (!ec && fs::exists(former)) fs::permissions(temporary.path(), former.permissions());
  fs::rename(temporary.path(), target);
  temporary.release();
}

void copyWithMetadata(const fs::path& from, const fs::path& to) {
  TemporaryFile temporary(temporarySibling(to));
  fs::copy_file(from, temporary.path(), fs::copy_options::overwrite_existing);
  fs::permissions(temporary.path(), fs::status(from).permissions(), fs::perm_options::replace);
  filetimes::copyTimes(from, temporary.path());
  fs::rename(temporary.path(), to);
  temporary.release();
}

} // namespace quorvex::fileio
