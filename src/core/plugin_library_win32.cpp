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
  HMODULE handle = LoadLibraryA(name.c_str());
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

std::vector<std::string> loaderSearchPath() {
  // The program's directory and the system directories come first; PATH is what a user sets.
  std::vector<std::string> dirs;
  const char* value = std::getenv("PATH");
  if (!value) return dirs;
  std::string_view rest(value);
  while (!rest.empty()) {
    const auto semicolon = rest.find(';');
    const std::string_view dir = rest.substr(0, semicolon);
    if (!dir.empty()) dirs.emplace_back(dir);
    if (semicolon == std::string_view::npos) break;
    rest.remove_prefix(semicolon + 1);
  }
  return dirs;
}

} // namespace quorvex::plugin
