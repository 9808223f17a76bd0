#pragma once
// The interpreter-dependent half of `configureCompiler`, apart from the interpreter it asks,
// so that other versions and build modes can be checked without such an interpreter.

#include "core/ccompiler.hpp"

#include <functional>
#include <string>

namespace quorvex::utils::detail {

/// The build interpreter facts the common compiler settings depend on.
struct CompilerConfigFacts {
  int major = 0;
  int minor = 0;
  std::string includeDir;
  /// Asked each time the settings test the build mode.
  std::function<bool()> freeThreaded;
};

/// Puts the common macros and the include directory on `compiler` (everything
/// `configureCompiler` does before the `extendCompiler` hook).
void applyCommonSettings(ccompiler::CCompiler& compiler, bool noInit,
                         const CompilerConfigFacts& facts);

} // namespace quorvex::utils::detail
