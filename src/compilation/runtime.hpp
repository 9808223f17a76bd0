#pragma once
// The Python runtime library that products link against and ship.

#include <filesystem>
#include <functional>
#include <optional>

namespace quorvex::plugin {
class PluginManager;
}

namespace quorvex::runtime {

/// The platform's `getRuntimeLibPath` answer for the pristine Python and the build directory,
/// asked once per process.
std::optional<std::filesystem::path> getRuntimePath();

/// `getRuntimePath` against `manager`, with `cache` as the remembered answer and `pristine`
/// naming the pristine Python; asks the platform only while `cache` is empty.
std::optional<std::filesystem::path>
getRuntimePath(plugin::PluginManager& manager, std::optional<std::filesystem::path>& cache,
               const std::function<std::optional<std::filesystem::path>()>& pristine);

} // namespace quorvex::runtime
