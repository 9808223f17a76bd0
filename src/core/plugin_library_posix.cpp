#include "core/plugin_library.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <string_view>

#ifdef __linux__
#include <link.h>
#endif

namespace quorvex::plugin {

namespace {

// The constructor is protected so that only `open` makes a library object.
struct OpenedLibrary : SharedLibrary {
  explicit OpenedLibrary(void* handle) : SharedLibrary(handle) {}
};

void appendPathList(std::vector<std::string>& dirs, const char* variable) {
  const char* value = std::getenv(variable);
  if (!value) return;
  std::string_view rest(value);
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    if (!dir.empty()) dirs.emplace_back(dir);
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

std::vector<std::string> loaderSearchPath() {
  std::vector<std::string> dirs;
#ifdef __linux__
  // glibc reports the exact search list of the running program (LD_LIBRARY_PATH, run paths,
  // the cache's system directories).
  if (void* self = dlopen(nullptr, RTLD_NOW)) {
    Dl_serinfo size;
    if (dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0) {
      std::vector<unsigned char> buffer(size.dls_size);
      auto* info = reinterpret_cast<Dl_serinfo*>(buffer.data());
      *info = size;
      if (dlinfo(self, RTLD_DI_SERINFOSIZE, info) == 0 && dlinfo(self, RTLD_DI_SERINFO, info) == 0)
        for (unsigned i = 0; i < info->dls_cnt; ++i)
          dirs.emplace_back(info->dls_serpath[i].dls_name);
    }
    dlclose(self);
  }
  if (!dirs.empty()) return dirs;
#endif
  appendPathList(dirs, "LD_LIBRARY_PATH");
  appendPathList(dirs, "DYLD_LIBRARY_PATH");
  return dirs;
}

} // namespace quorvex::plugin
