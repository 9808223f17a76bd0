#pragma once
// The host the tool runs on, as the interpreter names it in `sys.platform`. Platform plug-ins
// refuse foreign hosts through this one function, which tests override to check the answers
// of other hosts' plug-ins on Linux.

#include <optional>
#include <string>

namespace quorvex::host {

/// "linux", "darwin" or "win32" (the compiled-in host), unless overridden.
std::string platform();

/// Whether the host's file system tells names apart by case alone (a fact of the host, not of
/// the target).
bool caseSensitiveFileNames();

/// The host's machine name as the system reports it ("x86_64", "arm64", "AMD64"); empty when
/// the system does not say.
std::string machine();

/// Makes `platform()` answer `name` while the guard lives.
class PlatformOverride {
public:
  explicit PlatformOverride(std::string name);
  ~PlatformOverride();
  PlatformOverride(const PlatformOverride&) = delete;
  PlatformOverride& operator=(const PlatformOverride&) = delete;

private:
  std::optional<std::string> previous_;
};

} // namespace quorvex::host
