#pragma once
// The tool's code looks for the build interpreter beside its own executable; for a test
// program that is the project's virtual environment, where the tool is installed.

#include "core/context.hpp"

namespace quorvex::testing {

inline constexpr const char* installedTool = QUORVEX_VENV "/bin/quorvex";

/// The build interpreter's facts, queried once per test program.
inline const interpreter::Facts& buildFacts() {
  static const interpreter::Facts facts = interpreter::query(installedTool);
  return facts;
}

} // namespace quorvex::testing
