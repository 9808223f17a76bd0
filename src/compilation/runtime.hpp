#pragma once
// The Python runtime library that products link against and ship.

#include <filesystem>
#include <optional>

namespace quorvex::runtime {

/// The platform's `getRuntimeLibPath` answer for the pristine Python and the build directory,
/// asked once per process.
std::optional<std::filesystem::path> getRuntimePath();

} // namespace quorvex::runtime
