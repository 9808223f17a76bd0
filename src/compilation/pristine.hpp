#pragma once
// The pristine CPython that products link against and ship: found under the build directory's
// "python" directory, or installed there with `uv python install` once.

#include <filesystem>
#include <optional>
#include <string>

namespace quorvex {
class Context;
}

namespace quorvex::pristine {

/// The directory of the pristine Python (a `cpython-*` installation) in the build directory,
/// remembered in `context` once found; installs one with uv when there is none. nullopt when
/// even after installing none is found.
std::optional<std::filesystem::path> getPristinePython(Context& context);

/// The installation to use among the `cpython-*` directories of `basePath`: those built in the
/// build interpreter's mode (free-threaded or not) are preferred; among them (or all) those
/// whose name holds `versionName`; then the first name in plain string order.
std::optional<std::filesystem::path> findPython(const std::filesystem::path& basePath,
                                                const std::string& versionName, bool freeThreaded);

} // namespace quorvex::pristine
