#pragma once
// Shared libraries opened with the host's dynamic loader, for extension plug-ins. Internal to
// the plug-in manager.

#include "core/plugin.hpp"

#include <filesystem>
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

/// The directories that the user names for libraries in the environment (LD_LIBRARY_PATH,
/// DYLD_LIBRARY_PATH on macOS, PATH on Windows), absolute ones only: a relative entry, the
/// empty one included, would mean the working directory.
std::vector<std::filesystem::path> userLibraryDirs();

/// The directory of the tool's own installation that holds its libraries, given the tool's
/// executable: "lib" beside its "bin" on POSIX, its own directory on Windows.
std::filesystem::path installedLibraryDir(const std::filesystem::path& toolExecutable);

} // namespace quorvex::plugin

/// An extension library the manager keeps open for the plug-in it made.
struct quorvex::plugin::PluginManager::LoadedLibrary {
  std::unique_ptr<SharedLibrary> library;
};
