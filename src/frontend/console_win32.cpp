#include "frontend/console.hpp"

#include <windows.h>

namespace quorvex::console {

// A Windows console shows ANSI styles only once virtual-terminal processing is on; a console
// that refuses it gets plain text.
bool stdoutIsTerminal() {
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode)) return false;
  return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

} // namespace quorvex::console
