#pragma once
// The bundled example (examples/), copied and built once per run with a wheel beside the
// executable; shared by the tests of the program and of its wheels.

#include "e2e/e2e_support.hpp"

namespace quorvex::e2e {

struct BuiltProject {
  Project project;
  Outcome build;
};

/// The example, built on the first call with `--wheel dist tally '*.py' 'ledger/*.py'`.
BuiltProject& example();

/// The one wheel file in `dir`; fails the test when there is not exactly one.
std::filesystem::path onlyWheel(const std::filesystem::path& dir);

/// Runs check_wheel.py on `wheel` with the build interpreter.
Outcome checkWheel(const std::filesystem::path& wheel);

} // namespace quorvex::e2e
