#include "core/filetimes.hpp"

namespace quorvex::filetimes {

// Windows keeps no separate access time worth carrying over; the modification time is copied.
void copyTimes(const std::filesystem::path& source, const std::filesystem::path& target) {
  std::filesystem::last_write_time(target, std::filesystem::last_write_time(source));
}

} // namespace quorvex::filetimes
