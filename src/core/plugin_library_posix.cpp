#include "core/plugin_library.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <string_view>

namespace quorvex::plugin {

namespace {

// The constructor is protected so that only `open` makes a library object.
struct OpenedLibrary : SharedLibrary {
  explicit OpenedLibrary(void* handle) : SharedLibrary(handle) {}
};

// The absolute entries of the path list in `variable`.
void appendAbsoluteDirs(std::vector<std::filesystem::path>& dirs, const char* variable) {
  const char* value = std::getenv(variable);
  if (!value) return;
  std::string_view rest(value);
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::filesystem::path dir(rest.substr(0, colon));
    if (dir.is_absolute()) dirs.push_back(dir);
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
}

} // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& name, std::string& error) {
  void* handle = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* message = dlerror();
    error = message ? message : name + ": cannot be opened";
    return nullptr;
  }
  return std::make_unique<OpenedLibrary>(handle);
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::symbol(const std::string& name) const { return dlsym(handle_, name.c_str()); }

std::string libraryFileName(const std::string& moduleName) {
#ifdef __APPLE__
  return "lib" + moduleName + ".dylib";
#else
  return "lib" + moduleName + ".so";
#endif
}

std::vector<std::filesystem::path> userLibraryDirs() {
  std::vector<std::filesystem::path> dirs;
#ifdef __APPLE__
  appendAbsoluteDirs(dirs, "DYLD_LIBRARY_PATH");
#else
  appendAbsoluteDirs(dirs, "LD_LIBRARY_PATH");
#endif
  return dirs;
}

std::filesystem::path installedLibraryDir(const std::filesystem::path& toolExecutable) {
  return (toolExecutable.parent_path().parent_path() / "lib").lexically_normal();
}

} // namespace quorvex::plugin
