#include "core/interpreter.hpp"

#include <windows.h>

#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::interpreter {

const char* interpreterFileName() { return "python.exe"; }

fs::path runningExecutable() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) throw std::runtime_error("cannot find the tool's own executable");
    if (length < buffer.size()) return fs::path(std::wstring(buffer.data(), length));
    buffer.resize(buffer.size() * 2);
  }
}

} // namespace quorvex::interpreter
