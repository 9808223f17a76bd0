#pragma once
// The Python runtime library that products link against and ship.

#include <filesystem>
#include <optional>

namespace quorvex {
class Context;
}

namespace quorvex::runtime {

/// The platform's `getRuntimeLibPath` answer for the pristine Python and the build directory,
/// asked once per run and remembered in `context`.
std::optional<std::filesystem::path> getRuntimePath(Context& context);

} // namespace quorvex::runtime
