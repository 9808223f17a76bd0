// Phase 1 of `compile`: the module build directory, the platform's suffixes and extra
// sources, the matched modules in module order and the rebuild decision.
#include "compilation/paths.hpp"
#include "compilation/pipeline.hpp"

#include "core/glob.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

bool isAncestorOrSelf(const fs::path& ancestor, const fs::path& path) {
  auto a = ancestor.begin(), p = path.begin();
  for (; a != ancestor.end(); ++a, ++p) {
    if (a->empty()) continue; // a trailing separator
    if (p == path.end() || *a != *p) return false;
  }
  return true;
}

// The object file of a module is up to date only when strictly newer than its source.
bool needsRebuild(const fs::path& objPath, const fs::path& source) {
  std::error_code ec;
  if (!fs::exists(objPath, ec)) return true;
  return fs::last_write_time(objPath) <= fs::last_write_time(source);
}

// Generated C files and object files are named by module stem alone, all in one directory, and
// a package bootstrap by the package's name: two modules of one name, or a module named like a
// package, would overwrite each other's files and leave a product missing one of them.
void requireUniqueNames(const std::vector<std::pair<std::string, fs::path>>& modules,
                        const std::vector<std::string>& packages) {
  std::map<std::string, fs::path> seen;
  for (const auto& [name, file] : modules)
    if (auto [at, added] = seen.emplace(name, file); !added)
      throw std::invalid_argument("Two modules named " + name + ": " + at->second.string() +
                                  " and " + file.string() +
                                  " (module names must be unique across packages)");
  for (const auto& package : packages)
    if (auto at = seen.find(package); at != seen.end())
      throw std::invalid_argument("The module " + at->second.string() +
                                  " has the name of the package " + package +
                                  " (module names must differ from package names)");
}

std::vector<std::string>& modulesFor(SourcePlan& plan, const std::string& package) {
  for (auto& [name, modules] : plan.packageModules)
    if (name == package) return modules;
  return plan.packageModules.emplace_back(package, std::vector<std::string>{}).second;
}

// The files below `root` that `pattern` names, each joined with `root`. Directories are no
// sources; a pattern naming the root itself (the build passes "." for a "**" source pattern)
// or a missing file yields nothing.
std::vector<fs::path> sourceFiles(const fs::path& root, const std::string& pattern) {
  if (!pattern.empty() && (pattern.front() == '/' || fs::path(pattern).is_absolute()))
    throw std::invalid_argument("Non-relative patterns are unsupported: " + pattern);
  std::vector<fs::path> files;
  if (pathlibForm(pattern) == ".") return files;
  for (const auto& match : glob::glob(root, pattern)) {
    fs::path file = joinPath(root, match);
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (!ec && fs::exists(status) && !fs::is_directory(status)) files.push_back(std::move(file));
  }
  return files;
}

} // namespace

std::vector<std::string> SourcePlan::modulesOf(const std::string& package) const {
  for (const auto& [name, modules] : packageModules)
    if (name == package) return modules;
  return {};
}

fs::path relativeBuildPlace(const fs::path& cwd, const fs::path& resolvedSource) {
  if (isAncestorOrSelf(cwd, resolvedSource))
    return pathlibForm(resolvedSource.lexically_relative(cwd));
  fs::path source = pathlibForm(resolvedSource);
  fs::path parentName = source.parent_path().filename();
  if (parentName.empty() || parentName == source.root_path()) return source.filename();
  return parentName / source.filename();
}

SourcePlan discoverSources(plugin::PluginManager& manager, const fs::path& sourcePath,
                           const std::optional<std::string>& exeName,
                           const std::vector<fs::path>& sources, bool force) {
  SourcePlan plan;
  fs::path cwd = fs::current_path();
  fs::path resolvedSource = fs::canonical(fs::absolute(sourcePath));
  fs::path relPath = relativeBuildPlace(cwd, resolvedSource);
  plan.modBuildPath = joinPath(pathlibForm(utils::getBuildPath()), relPath);
  fs::create_directories(plan.modBuildPath);

  auto basics = manager.getCompileBasics();
  if (!basics) throw std::runtime_error("No plug-in answered the hook getCompileBasics");
  if (!basics->objSuffix)
    throw std::runtime_error("The answer of the hook getCompileBasics has no objSuffix");
  plan.objSuffix = *basics->objSuffix;
  plan.exeSuffix = basics->exeSuffix;

  auto extra = manager.getExtraSources(plan.modBuildPath, exeName);
  if (!extra) throw std::runtime_error("No plug-in answered the hook getExtraSources");
  plan.cSources = *extra;

  fs::path root = pathlibForm(sourcePath);
  std::set<fs::path> sourceSet;
  for (const auto& pattern : sources)
    for (auto& file : sourceFiles(root, pattern.generic_string())) sourceSet.insert(file);
  std::vector<fs::path> matched(sourceSet.begin(), sourceSet.end());
  std::sort(matched.begin(), matched.end(), pathLess);

  std::vector<std::pair<std::string, fs::path>> moduleFiles;
  for (const auto& filePath : matched) {
    std::string modName = filePath.stem().string();
    if (modName == "__init__") continue;
    moduleFiles.emplace_back(modName, filePath);
    std::string package =
        pathlibForm(filePath.parent_path()) == root ? "" : filePath.parent_path().stem().string();
    fs::path objPath = plan.modBuildPath / (modName + plan.objSuffix);
    bool dirty = force || needsRebuild(objPath, filePath);
    modulesFor(plan, package).push_back(modName);
    plan.qualifiedModules.push_back(package.empty() ? modName : package + "." + modName);
    if (dirty) {
      plan.pySources.push_back(filePath);
      plan.cSources.push_back(plan.modBuildPath / (modName + ".c"));
    }
    plan.objects.push_back(objPath);
  }

  for (const auto& [name, modules] : plan.packageModules)
    if (!name.empty() && !modules.empty()) plan.packages.push_back(name);
  requireUniqueNames(moduleFiles, plan.packages);
  return plan;
}

} // namespace quorvex::compiler
