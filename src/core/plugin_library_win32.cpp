#include "core/plugin_library.hpp"

#include <windows.h>

#include <cstdlib>
#include <string_view>

namespace quorvex::plugin {

namespace {

struct OpenedLibrary : SharedLibrary {
  explicit OpenedLibrary(void* handle) : SharedLibrary(handle) {}
};

std::string lastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
    message.pop_back();
  return message;
}

} // namespace

std::unique_ptr<SharedLibrary> SharedLibrary::open(const std::string& name, std::string& error) {
  // A path is opened as it stands; the libraries it needs come from its own directory and
  // the system's, never from the working directory.
  HMODULE handle = LoadLibraryExA(
      name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
  if (!handle) {
    error = name + ": " + lastErrorText();
    return nullptr;
  }
  return std::make_unique<OpenedLibrary>(reinterpret_cast<void*>(handle));
}

SharedLibrary::~SharedLibrary() { FreeLibrary(reinterpret_cast<HMODULE>(handle_)); }

void* SharedLibrary::symbol(const std::string& name) const {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name.c_str()));
}

std::string libraryFileName(const std::string& moduleName) { return moduleName + ".dll"; }

std::vector<std::filesystem::path> userLibraryDirs() {
  std::vector<std::filesystem::path> dirs;
  const char* value = std::getenv("PATH");
  if (!value) return dirs;
  std::string_view rest(value);
  while (!rest.empty()) {
    const auto semicolon = rest.find(';');
    const std::filesystem::path dir(rest.substr(0, semicolon));
    if (dir.is_absolute()) dirs.push_back(dir);
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  return dirs;
}

std::filesystem::path installedLibraryDir(const std::filesystem::path& toolExecutable) {
  return toolExecutable.parent_path();
}

} // namespace quorvex::plugin
