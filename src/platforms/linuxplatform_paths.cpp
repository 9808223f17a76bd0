// Names and places of products and interpreters on Linux.
#include "platforms/linuxplatform.hpp"

#include "core/context.hpp"

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

std::optional<std::string> Plugin::getExecutableName(const std::string& mainModule) {
  if (!library("getExecutableName")) return mainModule;
  auto suffix = pluginManager_.context().interpreter().configVar("EXT_SUFFIX");
  return mainModule + (suffix && !suffix->empty() ? *suffix : std::string(".so"));
}

std::optional<fs::path> Plugin::getExecutablePath(const fs::path& embedDir) {
  return embedDir / "bin";
}

std::optional<fs::path> Plugin::getExePath(const fs::path& path, const std::string& name) {
  return exePathBeside(path, name);
}

fs::path exePathBeside(const fs::path& path, const std::string& name) {
  // "." parts and a trailing separator name no directory of their own: the parent of "bin/"
  // or "bin/." is the directory holding "bin", not "bin" itself.
  fs::path normal;
  for (const auto& part : path)
    if (!part.empty() && part != ".") normal /= part;
  return (normal.has_relative_path() ? normal.parent_path() : normal) / name;
}

std::optional<fs::path> Plugin::resolveExePath(const fs::path& exePath) { return exePath; }

} // namespace quorvex::linuxplatform
