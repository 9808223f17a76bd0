#include "frontend/build_lock.hpp"

#include "core/log.hpp"

#include <system_error>
#include <windows.h>

namespace quorvex::builder {

BuildLock::BuildLock(const std::filesystem::path& buildPath) {
  std::filesystem::create_directories(buildPath);
  const std::filesystem::path lockPath = buildPath / "build.lock";
  HANDLE file = ::CreateFileW(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(),
                            "Cannot lock the build directory through " + lockPath.string());
  OVERLAPPED whole{};
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    log::getLogger("quorvex.builder")
        .warning("Waiting for another build in {} to finish", buildPath.string());
    if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole)) {
      DWORD err = ::GetLastError();
      ::CloseHandle(file);
      throw std::system_error(static_cast<int>(err), std::system_category(),
                              "Cannot lock the build directory through " + lockPath.string());
    }
  }
  handle_ = reinterpret_cast<intptr_t>(file);
}

BuildLock::~BuildLock() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

} // namespace quorvex::builder
