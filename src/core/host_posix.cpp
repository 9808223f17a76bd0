#include "core/host.hpp"

#include <sys/utsname.h>

namespace quorvex::host {

bool caseSensitiveFileNames() { return true; }

std::string machine() {
  struct utsname name {};
  return ::uname(&name) == 0 ? name.machine : "";
}

} // namespace quorvex::host
