#pragma once
// What every platform plug-in does alike: refusing a hook that needs the build options before a
// build run has given them, and wrapping its compiler so that links ask all plug-ins.

#include "core/plugin.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::platforms {

/// `value`; throws `std::runtime_error` "<platformName> platform: <hook> needs the build
/// options, but extendBuild was not called" when it is unset.
bool buildOption(const std::optional<bool>& value, const std::string& platformName,
                 const char* hook);

/// `compiler` with `compileArgs`, `compileLibArgs` for library code and, at link time, the
/// `getLinkerArgs` hook of all of `manager`'s plug-ins.
std::unique_ptr<utils::PlatformCompiler>
linkingCompiler(plugin::PluginManager& manager, std::unique_ptr<ccompiler::CCompiler> compiler,
                std::vector<std::string> compileArgs, std::vector<std::string> compileLibArgs);

/// The file `name` in the directory that holds `path` ("." parts and a trailing separator
/// name no directory); nothing is checked.
std::filesystem::path exePathBeside(const std::filesystem::path& path, const std::string& name);

/// Copies the wheel `wheelPath` into `outputPath` under its own name, replacing a wheel there,
/// and returns the copy's path.
std::filesystem::path placeWheelUnchanged(const std::filesystem::path& wheelPath,
                                          const std::filesystem::path& outputPath);

} // namespace quorvex::platforms
