#include "compilation/pristine.hpp"

#include "compilation/paths.hpp"
#include "core/context.hpp"
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

// The installed standard library's bytecode is stale (the install gives its files new times),
// so every program would compile its imports from source at each start; bytecode checked by
// nothing but its presence stays valid when the installation is copied into an embedded
// directory. Best effort: a failure only costs start-up time.
void compileStandardLibrary(Context& context, const fs::path& installation) {
  static const std::string script =
      "import compileall,py_compile,re,sysconfig;"
      "compileall.compile_dir(sysconfig.get_path('stdlib'),quiet=2,workers=0,"
      "rx=re.compile(r'site-packages|[\\\\/](test|tests|idlelib)[\\\\/]'),"
      "invalidation_mode=py_compile.PycInvalidationMode.UNCHECKED_HASH)";
  auto bin = context.plugins.getExecutablePath(installation);
  auto program = bin ? context.plugins.getExePath(*bin / "python", "python") : std::nullopt;
  if (!program) return;
  try {
    utils::system(context, utils::quoteWord(program->string()) + " -E -s -c " +
                               utils::quoteWord(script));
  } catch (const std::exception& error) {
    logger().warning("Could not compile the pristine Python's standard library: {}",
                     error.what());
  }
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
  if (cache) compileStandardLibrary(context, *cache);
  logger().info("{}", "Using pristine Python at " + (cache ? cache->string() : "None"));
  return cache;
}

} // namespace quorvex::pristine
