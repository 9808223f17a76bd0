#include "compilation/runtime.hpp"

#include "compilation/pristine.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"

namespace fs = std::filesystem;

namespace quorvex::runtime {

namespace {

// Module state: the platform's first answer, kept for the process.
std::optional<fs::path> runtimePath;

} // namespace

std::optional<fs::path> getRuntimePath(plugin::PluginManager& manager,
                                       std::optional<fs::path>& cache,
                                       const std::function<std::optional<fs::path>()>& pristine) {
  if (cache) return cache;
  auto python = pristine();
  fs::path buildPath = utils::getBuildPath();
  // The hook takes a path; a missing pristine Python is passed on as an empty one.
  cache = manager.getRuntimeLibPath(python.value_or(fs::path()), buildPath);
  return cache;
}

std::optional<fs::path> getRuntimePath() {
  return getRuntimePath(plugin::pluginManager(), runtimePath,
                        [] { return pristine::getPristinePython(); });
}

} // namespace quorvex::runtime
