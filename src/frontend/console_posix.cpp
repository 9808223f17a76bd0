#include "frontend/console.hpp"

#include <unistd.h>

namespace quorvex::console {

bool stdoutIsTerminal() { return ::isatty(STDOUT_FILENO) == 1; }

} // namespace quorvex::console
