#include "core/interpreter.hpp"

#include <fmt/format.h>

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <vector>
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace fs = std::filesystem;

namespace quorvex::interpreter {

const char* interpreterFileName() { return "python"; }

fs::path runningExecutable() {
#if defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1, '\0');
  if (_NSGetExecutablePath(buffer.data(), &size) != 0)
    throw std::runtime_error("cannot find the tool's own executable");
  return fs::canonical(buffer.data());
#else
  std::error_code ec;
  fs::path resolved = fs::read_symlink("/proc/self/exe", ec);
  if (ec)
    throw std::runtime_error(
        fmt::format("cannot find the tool's own executable: readlink(/proc/self/exe): {}",
                    ec.message()));
  return resolved;
#endif
}

} // namespace quorvex::interpreter
