#include "core/host.hpp"

namespace quorvex::host {

bool caseSensitiveFileNames() { return true; }

} // namespace quorvex::host
