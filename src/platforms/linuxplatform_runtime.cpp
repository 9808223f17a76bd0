// The Python runtime on Linux: the pristine interpreter's shared library, the library's
// copies in executable wheels and the lib-dynload of embedded directories.
#include "platforms/linuxplatform.hpp"

#include "core/fileio.hpp"
#include "core/glob.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

namespace {

log::Logger& logger() { return log::getLogger("quorvex.linuxplatform"); }

std::string shortVersion(const interpreter::Facts& facts) {
  return std::to_string(facts.major) + "." + std::to_string(facts.minor);
}

std::vector<fs::path> sortedMatches(const fs::path& dir, const std::string& pattern) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    auto name = it->path().filename().string();
    if (glob::fnmatch(name, pattern)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<fs::path> paths;
  for (const auto& name : names) paths.push_back(dir / name);
  return paths;
}

// A link counts when its target exists; a directory named like a library is no library.
bool isLibraryFile(const fs::path& path) {
  std::error_code ec;
  auto status = fs::status(path, ec);
  return !ec && fs::exists(status) && !fs::is_directory(status);
}

// Every change to a shipped file's dynamic section goes through here: one patchelf run for
// `files`, which take the same change.
void patchelf(Context& context, const std::string& change, const std::vector<fs::path>& files) {
  std::string command = "patchelf " + change;
  for (const fs::path& file : files) command += " " + utils::quoteWord(file.string());
  utils::system(context, command);
}

} // namespace

fs::path findRuntimeLibrary(const fs::path& pristinePython, const std::string& pythonVersion) {
  auto libDir = pristinePython / "lib";
  auto prefix = "libpython" + pythonVersion;
  std::vector<fs::path> candidates{libDir / (prefix + ".so"), libDir / (prefix + ".so.1.0")};
  for (const auto& pattern : {prefix + ".so*", std::string("libpython*.so*")}) {
    auto found = sortedMatches(libDir, pattern);
    candidates.insert(candidates.end(), found.begin(), found.end());
  }
  auto hit = std::find_if(candidates.begin(), candidates.end(), isLibraryFile);
  if (hit == candidates.end())
    throw fs::filesystem_error("Could not locate libpython shared library under " +
                                   libDir.string(),
                               libDir, std::make_error_code(std::errc::no_such_file_or_directory));
  auto runtimePath = *hit;
  auto name = runtimePath.filename().string();
  if (name.ends_with(".so.1.0")) {
    // Linking wants the plain ".so" name when the installation has one.
    auto soPath = runtimePath.parent_path() / name.substr(0, name.size() - 4);
    if (isLibraryFile(soPath)) runtimePath = soPath;
  }
  return runtimePath;
}

std::string wheelLibraryDir(const std::string& distributionName) {
  return "lib/" + distributionName + ".libs";
}

std::string shippedRunPath(plugin::Shipment shipment, const std::string& distributionName) {
  if (shipment == plugin::Shipment::embeddedDirectory) return embeddedLibRunPath;
  // Installers put a wheel's scripts in "bin" below the data directory, in every scheme.
  return "$ORIGIN/../" + wheelLibraryDir(distributionName);
}

std::vector<plugin::RuntimeLibrary> runtimeLibraryRecords(const std::string& distributionName,
                                                          const std::string& version,
                                                          const fs::path& libraryPath) {
  // Only the soname is loaded; the ".so" name serves linking, which an installed program
  // no longer does.
  return {{distributionName + "-" + version + ".data/data/" + wheelLibraryDir(distributionName) +
               "/" + runtimeSoname(libraryPath),
           fileio::readFile(libraryPath)}};
}

std::string runtimeSoname(const fs::path& libraryPath) {
  auto name = libraryPath.filename().string();
  return name.substr(0, name.find(".so")) + ".so.1.0";
}

fs::path copyDynload(const fs::path& hostDynload, const fs::path& embedDir,
                     const std::string& pythonVersion) {
  auto python = embedDir / "bin" / "python";
  if (!fs::exists(hostDynload)) return python;
  auto target = embedDir / "lib" / ("python" + pythonVersion) / "lib-dynload";
  fs::create_directories(target);
  for (fs::recursive_directory_iterator
           it(hostDynload, fs::directory_options::follow_directory_symlink),
       end;
       it != end; ++it) {
    auto destination = target / it->path().lexically_relative(hostDynload);
    if (fs::is_directory(it->path()))
      fs::create_directories(destination);
    else
      fileio::copyWithMetadata(it->path(), destination);
  }
  return python;
}

std::optional<fs::path> Plugin::getRuntimeLibPath(const fs::path& pristinePython,
                                                  const fs::path&) {
  return findRuntimeLibrary(pristinePython, shortVersion(pluginManager_.context().interpreter()));
}

std::optional<std::vector<plugin::RuntimeLibrary>>
Plugin::getRuntimeLibraries(const std::string& projectName, const std::string& version,
                            const std::optional<fs::path>& runtimeLibPath) {
  if (!runtimeLibPath)
    throw std::runtime_error("Linux platform: no Python runtime library to put in the wheel");
  return runtimeLibraryRecords(projectName, version, *runtimeLibPath);
}

void Plugin::prepareShippedProduct(const fs::path& productPath, plugin::Shipment shipment,
                                   const std::string& distributionName,
                                   const std::optional<fs::path>& runtimeLibPath) {
  std::string change;
  if (!library("prepareShippedProduct")) {
    change = "--set-rpath " + utils::quoteWord(shippedRunPath(shipment, distributionName));
  } else {
    if (!runtimeLibPath)
      throw std::runtime_error("Linux platform: no Python runtime library to unlink from " +
                               productPath.string());
    change = "--remove-rpath --remove-needed " + utils::quoteWord(runtimeSoname(*runtimeLibPath));
  }
  patchelf(pluginManager_.context(), change, {productPath});
}

std::size_t relocateRunPaths(Context& context, const fs::path& embedDir) {
  const fs::path root = fs::absolute(embedDir).lexically_normal();
  // Files of one directory mostly take the same new run path (all of lib-dynload): one
  // patchelf run for each such group, not one per file.
  std::map<std::pair<fs::path, std::string>, std::vector<fs::path>> groups;
  std::size_t count = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    const std::optional<RunPath> runPath = readRunPath(entry.path());
    if (!runPath || std::none_of(runPath->entries.begin(), runPath->entries.end(),
                                 [](const std::string& e) { return fs::path(e).is_absolute(); }))
      continue;
    const fs::path directory = entry.path().parent_path();
    std::string joined;
    for (const std::string& kept : relocatedRunPath(runPath->entries, directory, root))
      joined += (joined.empty() ? "" : ":") + kept;
    const std::string change = joined.empty() ? "--remove-rpath"
                                              : (runPath->legacy ? "--force-rpath " : "") +
                                                    std::string("--set-rpath ") +
                                                    utils::quoteWord(joined);
    groups[{directory, change}].push_back(entry.path());
    ++count;
  }
  for (const auto& [key, files] : groups) patchelf(context, key.second, files);
  return count;
}

std::optional<fs::path> Plugin::ensureDynload(const fs::path& embedDir) {
  auto& context = pluginManager_.context();
  const auto& facts = context.interpreter();
  auto version = shortVersion(facts);
  auto python = copyDynload(
      fs::path(facts.basePrefix) / "lib" / ("python" + version) / "lib-dynload", embedDir, version);
  // A Python built for its own prefix names it in its files' run paths: moved, or on another
  // machine, they would load that prefix's libpython or none.
  if (const std::size_t rewritten = relocateRunPaths(context, embedDir))
    logger().info("Run paths relative to $ORIGIN in {} files of {}", rewritten, embedDir.string());
  return python;
}

} // namespace quorvex::linuxplatform
