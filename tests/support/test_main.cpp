// Entry of every test program: the tool's code looks for the build interpreter beside its own
// executable, which for a test program is the project's virtual environment.
#include "core/interpreter.hpp"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  quorvex::interpreter::overrideToolExecutable(QUORVEX_VENV "/bin/quorvex");
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
