#include "core/filetimes.hpp"

#include <fcntl.h>
#include <sys/stat.h>

namespace quorvex::filetimes {

void copyTimes(const std::filesystem::path& source, const std::filesystem::path& target) {
  struct stat info {};
  if (::stat(source.c_str(), &info) != 0)
    throw std::filesystem::filesystem_error("stat", source,
                                            std::error_code(errno, std::generic_category()));
#if defined(__APPLE__)
  const struct timespec times[2] = {info.st_atimespec, info.st_mtimespec};
#else
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
#endif
  if (::utimensat(AT_FDCWD, target.c_str(), times, 0) != 0)
    throw std::filesystem::filesystem_error("utimensat", target,
                                            std::error_code(errno, std::generic_category()));
}

} // namespace quorvex::filetimes
