#pragma once
// One build at a time in a build directory: two runs writing the same generated files and
// objects would mix them into a product that compiles but does not work. The lock is a lock
// file in the build directory, held for the whole run; the operating system drops it when the
// process ends, however it ends.

#include <cstdint>
#include <filesystem>

namespace quorvex::builder {

class BuildLock {
public:
  /// Takes the lock on `buildPath`, first saying so when another run holds it and waiting
  /// until that run ends. Throws naming the lock file when it cannot be opened or locked.
  explicit BuildLock(const std::filesystem::path& buildPath);
  ~BuildLock();
  BuildLock(const BuildLock&) = delete;
  BuildLock& operator=(const BuildLock&) = delete;

private:
  std::intptr_t handle_; // a descriptor on POSIX, a HANDLE on Windows
};

} // namespace quorvex::builder
