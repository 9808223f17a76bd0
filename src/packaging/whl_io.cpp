#include "packaging/whl_io.hpp"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <system_error>

namespace quorvex::whl {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void failRead(const std::filesystem::path& path, int error) {
  throw std::runtime_error("Cannot read '" + path.string() +
                           "': " + std::generic_category().message(error));
}

} // namespace

std::string readBytes(const std::filesystem::path& path) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.string().c_str(), "rb"));
  if (!file) failRead(path, errno);
  std::string data;
  char buffer[65536];
  for (;;) {
    std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get());
    data.append(buffer, count);
    if (count < sizeof buffer) {
      // A directory opens on POSIX and fails on the first read.
      if (std::ferror(file.get())) failRead(path, errno ? errno : EIO);
      break;
    }
  }
  return data;
}

} // namespace quorvex::whl
