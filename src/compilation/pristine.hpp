#pragma once
// The pristine CPython that products link against and ship: found under the build directory's
// "python" directory, or installed there with `uv python install` once.

#include <filesystem>
#include <optional>

namespace quorvex::pristine {

/// The directory of the pristine Python (a `cpython-*` installation), remembered for the
/// process once found; installs one with uv when there is none. nullopt when even after
/// installing none is found.
std::optional<std::filesystem::path> getPristinePython();

} // namespace quorvex::pristine
