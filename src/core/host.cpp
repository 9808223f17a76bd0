#include "core/host.hpp"

#include <utility>

namespace quorvex::host {

namespace {

std::string compiledHost() {
#if defined(_WIN32)
  return "win32";
#elif defined(__APPLE__)
  return "darwin";
#else
  return "linux";
#endif
}

// The test seam's state: the name that `platform()` answers instead of the compiled-in host.
std::optional<std::string>& overridden() {
  static std::optional<std::string> name;
  return name;
}

} // namespace

std::string platform() { return overridden() ? *overridden() : compiledHost(); }

PlatformOverride::PlatformOverride(std::string name) : previous_(overridden()) {
  overridden() = std::move(name);
}

PlatformOverride::~PlatformOverride() { overridden() = previous_; }

} // namespace quorvex::host
