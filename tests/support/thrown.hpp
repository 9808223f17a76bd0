#pragma once
// The message of what a step throws, so that a test compares whole error texts.

#include <exception>
#include <string>

namespace quorvex::testing {

/// The `what()` of the exception `step` throws, or "no error" when it returns.
template <typename Step> std::string thrownMessage(Step&& step) {
  try {
    step();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "no error";
}

} // namespace quorvex::testing
