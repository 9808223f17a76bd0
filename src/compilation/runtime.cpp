#include "compilation/runtime.hpp"

#include "compilation/pristine.hpp"
#include "core/context.hpp"
#include "core/plugin.hpp"

namespace fs = std::filesystem;

namespace quorvex::runtime {

std::optional<fs::path> getRuntimePath(Context& context) {
  std::optional<fs::path>& cache = context.runtimeLibrary;
  if (cache) return cache;
  auto python = pristine::getPristinePython(context);
  // The hook takes a path; a missing pristine Python is passed on as an empty one.
  cache = context.plugins.getRuntimeLibPath(python.value_or(fs::path()), context.buildPath());
  return cache;
}

} // namespace quorvex::runtime
