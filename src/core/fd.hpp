#pragma once
// An owned file descriptor: closed exactly once, when its owner goes.

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include <utility>

namespace quorvex::fd {

/// Owns one descriptor (or none, -1) and closes it on destruction; movable, not copyable.
class UniqueFd {
public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  /// Gives up ownership without closing.
  int release() { return std::exchange(fd_, -1); }
  /// Closes the held descriptor and takes `fd` instead.
  void reset(int fd = -1) {
    if (fd_ >= 0) {
#if defined(_WIN32)
      ::_close(fd_);
#else
      ::close(fd_);
#endif
    }
    fd_ = fd;
  }

private:
  int fd_ = -1;
};

} // namespace quorvex::fd
