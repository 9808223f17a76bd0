#include "core/host.hpp"

#include <cstdlib>

namespace quorvex::host {

bool caseSensitiveFileNames() { return false; }

std::string machine() {
  // A 32-bit process on a 64-bit system sees the native machine in the first variable.
  for (const char* name : {"PROCESSOR_ARCHITEW6432", "PROCESSOR_ARCHITECTURE"})
    if (const char* value = std::getenv(name); value && *value) return value;
  return "";
}

} // namespace quorvex::host
