// Compiler objects and link options on macOS.
#include "platforms/macplatform.hpp"

#include "core/ccompiler.hpp"
#include "core/utils.hpp"
#include "platforms/shared.hpp"

#include <stdexcept>

namespace quorvex::macplatform {

namespace fs = std::filesystem;

std::string linkName(const fs::path& libraryPath) {
  auto name = libraryPath.filename().string();
  auto stem = name.substr(std::min<size_t>(3, name.size())); // without "lib"
  auto first = stem.find('.');
  if (first == std::string::npos)
    throw std::runtime_error("macOS platform: cannot name the runtime library " +
                             libraryPath.string() + " to the linker: its name has no version");
  return stem.substr(0, stem.find('.', first + 1));
}

namespace {

std::vector<std::string> minimumMacos(const std::optional<std::string>& deploymentTarget) {
  if (!deploymentTarget)
    return {};
  return {"-mmacosx-version-min=" + *deploymentTarget};
}

} // namespace

plugin::LinkerInfo linkerInfoFor(bool library, const std::string& exeName,
                                 const fs::path& libraryPath,
                                 const std::optional<std::string>& deploymentTarget) {
  // The interpreter that loads a library provides Python's symbols.
  const std::vector<std::string> none;
  std::vector<std::string> libraryArgs = {"-undefined", "dynamic_lookup"};
  // The linker writes the minimum macOS into the binary from the driver's deployment target.
  const std::vector<std::string> minimum = minimumMacos(deploymentTarget);
  libraryArgs.insert(libraryArgs.end(), minimum.begin(), minimum.end());
  plugin::LinkerInfo info{.extraObjects = none,
                          .linkerArgs = minimum,
                          .libraryDirs = none,
                          .libraries = none,
                          .runtimeLibraryDirs = none,
                          .libraryLinkerArgs = libraryArgs};
  if (library) return info;
  auto directory = libraryPath.parent_path();
  info.libraryDirs = {directory.empty() ? "." : directory.string()};
  info.libraries = {linkName(libraryPath)};
  // Beside the program (the build directory, a wheel's scripts), then an embedded directory's
  // lib, then a lib directory of the program's own.
  info.runtimeLibraryDirs = {"@executable_path", "@executable_path/../lib",
                             "@executable_path/../lib/" + exeName + "/"};
  return info;
}

std::unique_ptr<utils::PlatformCompiler> Plugin::newCompiler(bool noInit) {
  auto compiler = ccompiler::new_compiler("unix", pluginManager_.context().interpreter());
  utils::configureCompiler(pluginManager_.context(), *compiler, noInit);
  auto compileArgs = pluginManager_.getCompileArgs().value_or(std::vector<std::string>{});
  // Without it the compiler targets the macOS it runs on, and a binary tagged for an older one
  // would install there and fail to load.
  const std::vector<std::string> minimum = minimumMacos(deploymentTarget(platformTag()));
  compileArgs.insert(compileArgs.end(), minimum.begin(), minimum.end());
  return platforms::linkingCompiler(pluginManager_, std::move(compiler), std::move(compileArgs),
                                    {});
}

std::optional<plugin::LinkerInfo>
Plugin::getLinkerArgs(const std::string& exeName, const std::optional<fs::path>& libraryPath) {
  bool isLibrary = library("getLinkerArgs");
  if (!isLibrary && !libraryPath)
    throw std::runtime_error(name_ + " platform: no Python runtime library to link against");
  return linkerInfoFor(isLibrary, exeName, libraryPath.value_or(fs::path()),
                       deploymentTarget(platformTag()));
}

} // namespace quorvex::macplatform
