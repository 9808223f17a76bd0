#include "core/utils.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quorvex::utils {
namespace {

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(WithEnvTest, VariablesAreRestoredAlsoWhenTheBodyThrows) {
  ::unsetenv("QVX_TEST_VAR");
  {
    withEnv guard("QVX_TEST_VAR", "inside");
    EXPECT_EQ(env("QVX_TEST_VAR"), "inside");
  }
  EXPECT_EQ(env("QVX_TEST_VAR"), std::nullopt);
  try {
    withEnv guard("QVX_TEST_VAR", "inside");
    throw std::runtime_error("body failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(env("QVX_TEST_VAR"), std::nullopt);

  // An empty variable stays set and nested scopes unwind in order.
  ::setenv("QVX_TEST_VAR", "", 1);
  {
    withEnv outer("QVX_TEST_VAR", "one");
    {
      withEnv inner("QVX_TEST_VAR", "two");
      EXPECT_EQ(env("QVX_TEST_VAR"), "two");
    }
    EXPECT_EQ(env("QVX_TEST_VAR"), "one");
  }
  EXPECT_EQ(env("QVX_TEST_VAR"), "");
  ::unsetenv("QVX_TEST_VAR");
}

} // namespace
} // namespace quorvex::utils
