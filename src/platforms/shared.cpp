#include "platforms/shared.hpp"

#include "core/ccompiler.hpp"
#include "core/fileio.hpp"
#include "core/utils.hpp"

#include <stdexcept>

namespace quorvex::platforms {

bool buildOption(const std::optional<bool>& value, const std::string& platformName,
                 const char* hook) {
  // Only a build run tells a library from a program (and a console from a window); guessing
  // would link, name or repair a product as the other kind.
  if (!value)
    throw std::runtime_error(platformName + " platform: " + hook +
                             " needs the build options, but extendBuild was not called");
  return *value;
}

std::unique_ptr<utils::PlatformCompiler>
linkingCompiler(plugin::PluginManager& manager, std::unique_ptr<ccompiler::CCompiler> compiler,
                std::vector<std::string> compileArgs, std::vector<std::string> compileLibArgs) {
  return std::make_unique<utils::PlatformCompiler>(
      std::move(compiler), std::move(compileArgs), std::move(compileLibArgs),
      [&manager](const std::string& outputName,
                 const std::optional<std::filesystem::path>& libraryPath) {
        return manager.getLinkerArgs(outputName, libraryPath);
      });
}

std::filesystem::path exePathBeside(const std::filesystem::path& path, const std::string& name) {
  // "." parts and a trailing separator name no directory of their own: the parent of "bin/"
  // or "bin/." is the directory holding "bin", not "bin" itself.
  std::filesystem::path normal;
  for (const auto& part : path)
    if (!part.empty() && part != ".")
      normal /= part;
  return (normal.has_relative_path() ? normal.parent_path() : normal) / name;
}

std::filesystem::path placeWheelUnchanged(const std::filesystem::path& wheelPath,
                                          const std::filesystem::path& outputPath) {
  const std::filesystem::path placed = outputPath / wheelPath.filename();
  fileio::copyWithMetadata(wheelPath, placed);
  return placed;
}

} // namespace quorvex::platforms
