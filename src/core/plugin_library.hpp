#pragma once
// Shared libraries opened with the host's dynamic loader, for extension plug-ins. Internal to
// the plug-in manager.

#include "core/plugin.hpp"

#include <memory>
#include <string>
#include <vector>

namespace quorvex::plugin {

/// An open shared library, closed when its owner goes.
class SharedLibrary {
public:
  /// Opens `name`: a bare file name goes through the loader's search path, a path is opened
  /// as it stands. Returns null and sets `error` to the loader's message on failure.
  static std::unique_ptr<SharedLibrary> open(const std::string& name, std::string& error);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  /// The address of an exported symbol, or null when the library has none of that name.
  void* symbol(const std::string& name) const;

protected:
  explicit SharedLibrary(void* handle) : handle_(handle) {}

private:
  void* handle_;
};

/// The file name of the extension library of a module name: "libNAME.so", "libNAME.dylib" or
/// "NAME.dll".
std::string libraryFileName(const std::string& moduleName);

/// The directories the dynamic loader searches for a bare library name, as far as the host
/// tells them.
std::vector<std::string> loaderSearchPath();

} // namespace quorvex::plugin

/// An extension library the manager keeps open for the plug-in it made.
struct quorvex::plugin::PluginManager::LoadedLibrary {
  std::unique_ptr<SharedLibrary> library;
};
