#include "packaging/embed.hpp"

#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::embed {

chdir::chdir(const fs::path& target) : cwd_(fs::current_path()) { fs::current_path(target); }

chdir::~chdir() {
  // A destructor must not throw; a directory that vanished meanwhile leaves us where we are.
  std::error_code ignored;
  fs::current_path(cwd_, ignored);
}

} // namespace quorvex::embed
