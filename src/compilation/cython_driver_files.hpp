#pragma once
// The Cython driver (cython_driver.py) and the package of its corrections (cython_driver/: a
// Python module for each kind and the C they put into Cython's utility code), as the tool
// carries them, written into the build directory for the translations to run.

#include "core/context.hpp"

#include <filesystem>
#include <string_view>

namespace quorvex::compiler {

/// The driver's name in the build directory, and that of the package beside it holding its
/// corrections (named like the driver, which loads it from there).
inline constexpr std::string_view cythonDriverFile = "_qvx_cython.py";
inline constexpr std::string_view cythonDriverPackage = "_qvx_cython";

/// Writes the driver and its package into the build directory where missing or different
/// (each file replaced whole) and returns the driver's path.
std::filesystem::path writeCythonDriver(Context& context);

} // namespace quorvex::compiler
