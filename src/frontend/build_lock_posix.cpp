#include "frontend/build_lock.hpp"

#include "core/log.hpp"

#include <cerrno>
#include <system_error>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace quorvex::builder {

namespace {

int lockOrWait(int fd, const std::filesystem::path& buildPath) {
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return 0;
  if (errno != EWOULDBLOCK) return -1;
  log::getLogger("quorvex.builder")
      .warning("Waiting for another build in {} to finish", buildPath.string());
  int result;
  while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  return result;
}

} // namespace

BuildLock::BuildLock(const std::filesystem::path& buildPath) {
  std::filesystem::create_directories(buildPath);
  const std::filesystem::path lockPath = buildPath / "build.lock";
  // Close-on-exec: a child outliving the tool must not keep the next build waiting.
  int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0 || lockOrWait(fd, buildPath) != 0) {
    int err = errno;
    if (fd >= 0) ::close(fd);
    throw std::system_error(err, std::generic_category(),
                            "Cannot lock the build directory through " + lockPath.string());
  }
  handle_ = fd;
}

BuildLock::~BuildLock() { ::close(static_cast<int>(handle_)); }

} // namespace quorvex::builder
