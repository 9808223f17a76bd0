#include "core/host.hpp"

namespace quorvex::host {

bool caseSensitiveFileNames() { return false; }

} // namespace quorvex::host
