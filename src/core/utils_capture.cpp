#include "core/utils.hpp"

#include "core/fd.hpp"
#include "core/log.hpp"
#include "core/utf8.hpp"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <system_error>
#include <unistd.h>

namespace quorvex::utils {

namespace {

using fd::UniqueFd;

[[noreturn]] void throwErrno(const char* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

UniqueFd duplicate(int descriptor) {
  // Not inherited: children must write into the pipe, not into the saved descriptors.
  int copy = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) throwErrno("dup");
  return UniqueFd(copy);
}

// What the drain thread shares with the capture; kept alive by whichever outlives the other.
struct Drained {
  mutable std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::string text;
};

void drain(UniqueFd readEnd, std::shared_ptr<Drained> drained) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break; // end of file, or a read error that ends the capture quietly
    std::string piece = utf8::decodeReplace(std::string_view(buffer, static_cast<size_t>(n)));
    std::lock_guard lock(drained->mutex);
    drained->text += piece;
  }
  // The read end closes here, on this thread, so it is never closed under a running read.
  readEnd.reset();
  std::lock_guard lock(drained->mutex);
  drained->done = true;
  drained->finished.notify_all();
}

} // namespace

struct capture_output::State {
  std::shared_ptr<Drained> drained = std::make_shared<Drained>();
  UniqueFd oldOut, oldErr;
  int oldLevel = log::NOTSET;
  std::thread drainer;
  bool finished = false;

  void tearDown() {
    if (finished) return;
    finished = true;
    log::root().level = oldLevel;
    std::cout.flush();
    std::cerr.flush();
    std::fflush(stdout);
    std::fflush(stderr);
    bool restored = ::dup2(oldOut.get(), 1) >= 0;
    int restoreErrno = errno;
    restored = (::dup2(oldErr.get(), 2) >= 0) && restored;
    oldOut.reset();
    oldErr.reset();
    if (drainer.joinable()) {
      std::unique_lock lock(drained->mutex);
      bool ended = drained->finished.wait_for(lock, std::chrono::seconds(5),
                                              [this] { return drained->done; });
      lock.unlock();
      // A child that still holds the write end keeps the thread reading; let it go on its own.
      if (ended)
        drainer.join();
      else
        drainer.detach();
    }
    if (!restored) throw std::system_error(restoreErrno, std::generic_category(), "dup2");
  }
};

capture_output::capture_output() : state_(std::make_unique<State>()) {
  int fds[2];
  if (::pipe(fds) != 0) throwErrno("pipe");
  UniqueFd readEnd(fds[0]), writeEnd(fds[1]);
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  state_->oldOut = duplicate(1);
  state_->oldErr = duplicate(2);
  state_->oldLevel = log::root().level;
  log::root().level = log::ERROR;
  try {
    if (::dup2(writeEnd.get(), 1) < 0) throwErrno("dup2");
    if (::dup2(writeEnd.get(), 2) < 0) throwErrno("dup2");
    writeEnd.reset();
    state_->drainer = std::thread(drain, std::move(readEnd), state_->drained);
  } catch (...) {
    state_->tearDown();
    throw;
  }
}

capture_output::~capture_output() {
  try {
    state_->tearDown();
  } catch (...) {
    // Nothing can be reported from a destructor; the descriptors are as restored as they can be.
  }
}

std::string capture_output::getvalue() const {
  std::lock_guard lock(state_->drained->mutex);
  return state_->drained->text;
}

std::string capture_output::finish() {
  state_->tearDown();
  return getvalue();
}

} // namespace quorvex::utils
