#pragma once
// The Cython driver (cython_driver.py) and the C of its corrections (cython_driver/*.c), as
// the tool carries them, written into the build directory for the translations to run.

#include "core/context.hpp"

#include <filesystem>
#include <string_view>

namespace quorvex::compiler {

/// The driver's name in the build directory, and that of the directory beside it holding the
/// C files it reads (named like the driver, as in the source tree).
inline constexpr std::string_view cythonDriverFile = "_qvx_cython.py";
inline constexpr std::string_view cythonDriverCDirectory = "_qvx_cython";

/// Writes the driver and its C files into the build directory where missing or different
/// (each file replaced whole) and returns the driver's path.
std::filesystem::path writeCythonDriver(Context& context);

} // namespace quorvex::compiler
