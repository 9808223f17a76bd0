#pragma once
// The command line of `quorvex-wheel`, which wraps an executable or a library built before in
// a wheel.

#include <filesystem>
#include <functional>
#include <iosfwd>

namespace quorvex {
class Context;
}

namespace quorvex::whl {

/// What the command line asks for.
struct WheelCommand {
  bool library = false;
  std::filesystem::path executable;
  std::filesystem::path outputPath;
};

/// Parses `argv` and calls `run` with the request. Help goes to `out` (status 0), usage errors
/// to `err` (status 2), an exception of `run` is printed on `err` (status 1).
int wheelMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              const std::function<void(const WheelCommand&)>& run);

/// The real run: hands the library flag to the platform plug-ins as a build would, then makes
/// the wheel from the working directory's project. A library's main module is taken from its
/// file name (the name before the interpreter's extension suffix).
void runWheelCommand(Context& context, const WheelCommand& command);

} // namespace quorvex::whl
