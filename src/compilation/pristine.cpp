#include "compilation/pristine.hpp"

#include "compilation/paths.hpp"
#include "core/glob.hpp"
#include "core/host.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::pristine {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.pristine"); }

bool isFreeThreadedBuild(const std::string& name) {
  return name.find("+freethreaded") != std::string::npos;
}

// Keeps the names satisfying `keep`, unless none does.
std::vector<std::string> preferring(std::vector<std::string> names, auto keep) {
  std::vector<std::string> kept;
  std::copy_if(names.begin(), names.end(), std::back_inserter(kept), keep);
  return kept.empty() ? names : kept;
}

} // namespace

std::optional<fs::path> findPython(const fs::path& basePath, const std::string& versionName,
                                   bool freeThreaded) {
  std::vector<std::string> names;
  // Installation names are matched as the host's file system compares names.
  const bool caseSensitive = host::caseSensitiveFileNames();
  std::error_code ec;
  for (fs::directory_iterator it(basePath, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code statError;
    if (glob::fnmatch(name, "cpython-*", caseSensitive) &&
        fs::is_directory(it->path(), statError))
      names.push_back(name);
  }
  if (names.empty()) return std::nullopt;
  // A runtime of the other build mode cannot host the products, whatever its version: "+"
  // sorting before "-" would otherwise pick a free-threaded installation for a normal build.
  names = preferring(
      names, [&](const std::string& name) { return isFreeThreadedBuild(name) == freeThreaded; });
  names = preferring(names, [&](const std::string& name) {
    return name.find(versionName) != std::string::npos;
  });
  return basePath / *std::min_element(names.begin(), names.end());
}

std::optional<fs::path> getPristinePython(Context& context) {
  std::optional<fs::path>& cache = context.pristinePython;
  if (cache) return cache;
  fs::path installDir = compiler::pathlibForm(context.buildPath()) / "python";
  fs::create_directories(installDir);
  auto selector = context.plugins.getInstallSelector();
  if (!selector) throw std::runtime_error("No plug-in answered the hook getInstallSelector");
  const bool freeThreaded = context.interpreter().freeThreaded();

  if (auto found = findPython(installDir, selector->orgVersionName, freeThreaded)) {
    logger().info("{}", "Found existing pristine Python at " + found->string());
    cache = found;
    return cache;
  }
  {
    utils::withEnv installTarget("UV_PYTHON_INSTALL_DIR", installDir.string());
    utils::system(context, "uv python install " + selector->installSelector);
  }
  logger().info("{}", "Installed pristine Python at " + installDir.string());
  cache = findPython(installDir, selector->orgVersionName, freeThreaded);
  logger().info("{}", "Using pristine Python at " + (cache ? cache->string() : "None"));
  return cache;
}

} // namespace quorvex::pristine
