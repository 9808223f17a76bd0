#include "packaging/whl.hpp"

#include "compilation/runtime.hpp"
#include "core/context.hpp"
#include "core/fileio.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"
#include "packaging/whl_archive.hpp"
#include "packaging/whl_io.hpp"
#include "packaging/whl_layout.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_names.hpp"
#include "packaging/whl_project_keys.hpp"

#include <algorithm>
#include <set>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.whl"); }

// The executable's name inside the wheel comes from the project name, not from the file.
std::string executableName(plugin::PluginManager& manager, const std::string& productName) {
  auto path = manager.getExePath(".", productName);
  if (!path) throw std::runtime_error("No platform plug-in answers getExePath");
  return path->filename().string();
}

// Package data at its place below `dataRoot`, leaving out the entries the layout wrote itself.
void writePackageData(WheelArchive& archive, const std::vector<DataFile>& data,
                      const std::string& dataRoot, const std::set<std::string>& generated) {
  for (const auto& file : data) {
    std::string entry = dataRoot + file.place;
    if (generated.contains(entry)) continue;
    std::error_code ec;
    const bool executable =
        (fs::status(file.source, ec).permissions() & fs::perms::owner_exec) != fs::perms::none;
    archive.write_file(entry, readBytes(file.source),
                       executable ? WheelArchive::programMode : WheelArchive::fileMode);
  }
}

// A file name for the library that no finder, and no listing of a package's modules, takes
// for a module: its stem holds a dot. The library is no module of its own; its package's
// "__init__.py" loads its modules by their init functions.
std::string libraryFileName(const std::string& package, const std::string& suffix) {
  return package + ".lib" + suffix;
}

// The library in a private package, whose name no module of the project can have, and at the
// place of every compiled module a file that loads the library the first time any of them is
// imported and runs that module's compiled body. The import system finds these files by itself,
// also while another thread still runs the package that installs the library's finder.
// Namespace packages get no file of their own: the parts of one, each from its own wheel,
// install side by side as their sources would.
void writeModuleLayout(WheelArchive& archive, const Project& project, const std::string& distInfo,
                       const std::string& libraryData, const std::string& suffix,
                       const WheelOptions& options) {
  const std::string privatePackage =
      "_qvx_" + moduleNames(project.name, std::nullopt, std::nullopt).package;
  std::set<std::string> tops;
  std::set<std::string> generated;
  for (const auto& module : options.modules) {
    const std::string top = module.name.substr(0, module.name.find('.'));
    if (top == privatePackage)
      throw std::runtime_error("The top-level module or package '" + top +
                               "' has the name of the directory that holds the library in the "
                               "wheel; rename it");
    std::string place = module.name;
    std::replace(place.begin(), place.end(), '.', '/');
    const std::string entry = place + (module.package ? "/__init__.py" : ".py");
    archive.write_file(entry, moduleStub(privatePackage, module.name));
    generated.insert(entry);
    tops.insert(top);
  }
  const std::string libraryFile = libraryFileName(privatePackage, suffix);
  archive.write_file(privatePackage + "/" + libraryFile, libraryData);
  archive.write_file(privatePackage + "/__init__.py", privatePackageInit(libraryFile));
  // `python -m` on the main module's top package runs its own "__main__.py", shipped as data;
  // without one, a generated one calls the main module's main(). A namespace package gets
  // none: it belongs to no one wheel.
  const std::string main = options.mainModuleName.value_or("");
  const std::string top = main.substr(0, main.find('.'));
  const std::string mainFile = top + "/__main__.py";
  const auto& modules = options.modules;
  const auto isTop = [&](const LibraryModule& module) {
    return module.package && module.name == top;
  };
  if (std::any_of(modules.begin(), modules.end(), isTop) &&
      std::none_of(options.packageData.begin(), options.packageData.end(),
                   [&](const DataFile& file) { return file.place == mainFile; }))
    archive.write_file(mainFile, packageMain(moduleNames(project.name, top, main).importPath));
  writePackageData(archive, options.packageData, "", generated);
  std::string topLevel = privatePackage + "\n";
  for (const auto& name : tops) topLevel += name + "\n";
  archive.write_file(distInfo + "/top_level.txt", topLevel);
}

// Without the sources' names, the modules are served below the project's name made a package,
// which re-exports the main module's names.
void writeWrappedLayout(WheelArchive& archive, const Project& project, const std::string& distInfo,
                        const std::string& libraryData, const std::string& suffix,
                        const WheelOptions& options) {
  const ModuleNames names = moduleNames(project.name, std::nullopt, options.mainModuleName);
  const std::string& name = names.package;
  const std::string libraryFile = libraryFileName(name, suffix);
  archive.write_file(name + "/" + libraryFile, libraryData);
  archive.write_file(name + "/__init__.py", packageInit(libraryFile, names.importPath));
  archive.write_file(name + "/__main__.py", packageMain(names.importPath));
  const std::set<std::string> generated = {name + "/" + libraryFile, name + "/__init__.py",
                                           name + "/__main__.py"};
  writePackageData(archive, options.packageData, name + "/", generated);
  archive.write_file(distInfo + "/top_level.txt", name);
}

void writeLibraryLayout(WheelArchive& archive, const Project& project, const std::string& distInfo,
                        const std::string& libraryData, const std::string& suffix,
                        const WheelOptions& options) {
  if (options.modules.empty())
    return writeWrappedLayout(archive, project, distInfo, libraryData, suffix, options);
  writeModuleLayout(archive, project, distInfo, libraryData, suffix, options);
}

// The distribution's escaped name and version, which prefix the wheel's file name and its
// ".dist-info" and ".data" directories.
struct Distribution {
  std::string name;
  std::string version;
  std::string prefix() const { return name + "-" + version; }
};

// The product's bytes as the wheel ships them: a copy that the platform has made to load its
// libraries from where the wheel installs them.
std::string shippedProductData(Context& context, const fs::path& productPath,
                               const fs::path& wrkPath, const Distribution& distribution) {
  const fileio::TemporaryFile copy(fileio::temporarySibling(wrkPath / productPath.filename()));
  fileio::copyWithMetadata(productPath, copy.path());
  context.plugins.prepareShippedProduct(copy.path(), plugin::Shipment::wheel, distribution.name,
                                        runtime::getRuntimePath(context));
  return readBytes(copy.path());
}

void writeExecutableLayout(WheelArchive& archive, const Distribution& distribution,
                           const std::string& exeName, const std::string& exeData,
                           Context& context) {
  std::string scripts = distribution.prefix() + ".data/scripts/";
  // pip gives an installed script the executable bit only when its entry has one.
  archive.write_file(scripts + exeName, exeData, WheelArchive::programMode);
  // The platform puts its libraries below the same ".data" directory as the executable.
  auto libraries = context.plugins.getRuntimeLibraries(
      distribution.name, distribution.version, runtime::getRuntimePath(context));
  if (!libraries) throw std::runtime_error("No platform plug-in answers getRuntimeLibraries");
  for (const auto& library : *libraries) archive.write_file(library.path, library.data);
}

void warnOfGroupsLoadedElsewhere(const Project& project) {
  for (const auto& [group, loader] : groupsLoadedElsewhere(project))
    logger().warning("{}: the program's wheel carries the entry point group '{}', which {} "
                     "loads from every distribution installed beside it: the group's modules are "
                     "compiled into the program, which alone can import them, so {} fails to "
                     "load them wherever the wheel is installed",
                     project.path.string(), group, loader, loader);
}

} // namespace

fs::path createWheel(Context& context, const fs::path& executablePath, const fs::path& outputPath,
                     const WheelOptions& options) {
  plugin::PluginManager& manager = context.plugins;
  const InterpreterValues interpreter = buildInterpreterValues(context.interpreter());
  fs::path wrkPath = context.buildPath() / "wrk";
  fs::create_directories(wrkPath);

  std::optional<Project> read;
  if (!options.project) {
    fs::path start = options.sourcePath ? *options.sourcePath : fs::current_path();
    auto pyprojectTomlPath = find_active_pyproject(start);
    if (!pyprojectTomlPath)
      throw std::runtime_error("No pyproject.toml found at or above '" + start.string() + "'");
    read = readProject(*pyprojectTomlPath, options.version);
    checkDynamicFields(*pyprojectTomlPath, read->table(), options.library);
  }
  const Project& project = options.project ? *options.project : *read;

  WheelTags tags = wheelTags(interpreter, options.library, manager);
  std::string fullTag = tags.python + "-" + tags.abi + "-" + tags.platform;
  // Installers split the file name at its "-" separators and match the directories inside the
  // wheel against it; the project's own name stays as written in METADATA and the package.
  Distribution distribution{distributionName(project.name), distributionVersion(project.version)};
  std::string wheelName = distribution.prefix() + "-" + fullTag + ".whl";
  fs::path wheelPath = wrkPath / wheelName;

  std::string metadata = metadataText(project);
  std::string wheelInfo = wheelText(fullTag);
  std::string exeData = shippedProductData(context, executablePath, wrkPath, distribution);
  manager.getCompileBasics();
  std::string suffix;
  if (options.library)
    suffix = moduleSuffix(interpreter.extSuffix, executablePath.filename().string());

  std::string exeName = executableName(manager, project.name);
  std::string distInfo = distribution.prefix() + ".dist-info";
  {
    WheelArchive archive(wheelPath);
    if (options.library) {
      writeLibraryLayout(archive, project, distInfo, exeData, suffix, options);
      if (std::string entryPoints = entryPointsText(project); !entryPoints.empty())
        archive.write_file(distInfo + "/entry_points.txt", entryPoints);
    } else {
      writeExecutableLayout(archive, distribution, exeName, exeData, context);
      // The program finds its own plug-ins through importlib.metadata, and imports them from
      // inside itself; its scripts are left out, the program being the command.
      if (std::string entryPoints = programEntryPointsText(project); !entryPoints.empty()) {
        warnOfGroupsLoadedElsewhere(project);
        archive.write_file(distInfo + "/entry_points.txt", entryPoints);
      }
    }
    archive.write_file(distInfo + "/METADATA", metadata);
    archive.write_file(distInfo + "/WHEEL", wheelInfo);
    archive.commit(distInfo + "/RECORD");
  }

  const std::optional<fs::path> placed =
      manager.auditWheel(runtime::getRuntimePath(context), wheelPath, outputPath, options.policy);
  logger().info("Successfully built {}", placed ? placed->string() : wheelPath.string());
  return wheelPath;
}

std::pair<std::string, std::uintmax_t> hash_file(const fs::path& filepath) {
  std::string data = readBytes(filepath);
  return {"sha256=" + recordHash(data), data.size()};
}

} // namespace quorvex::whl
