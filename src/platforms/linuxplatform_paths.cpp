// Names and places of products and interpreters on Linux.
#include "platforms/linuxplatform.hpp"

#include "core/interpreter.hpp"

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

std::optional<std::string> Plugin::getExecutableName(const std::string& mainModule) {
  if (!library("getExecutableName")) return mainModule;
  auto suffix = interpreter::facts().configVar("EXT_SUFFIX");
  return mainModule + (suffix && !suffix->empty() ? *suffix : std::string(".so"));
}

std::optional<fs::path> Plugin::getExecutablePath(const fs::path& embedDir) {
  return embedDir / "bin";
}

std::optional<fs::path> Plugin::getExePath(const fs::path& path, const std::string& name) {
  return path.parent_path() / name;
}

std::optional<fs::path> Plugin::resolveExePath(const fs::path& exePath) { return exePath; }

} // namespace quorvex::linuxplatform
