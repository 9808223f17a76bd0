// Versions and dependency specifiers far longer or deeper than anyone writes: judged as the
// packaging library judges them, never by overflowing the stack.
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_requirement.hpp"
#include "packaging/whl_version.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::whl {
namespace {

std::string repeated(const std::string& part, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += part;
  return text;
}

std::string nested(std::size_t depth) {
  return "six; " + repeated("(", depth) + "python_version > '3'" + repeated(")", depth);
}

TEST(LongVersions, AreNormalisedOrRefusedAsThePackagingLibraryDoes) {
  const std::string release = "1" + repeated(".0", 20000);
  EXPECT_EQ(normalizeVersion(release), release);
  EXPECT_EQ(normalizeVersion(" V" + release + "-RC.1_post-2.dev+Ubuntu" + repeated(".007", 5000)),
            release + "rc1.post2.dev0+ubuntu" + repeated(".7", 5000));
  EXPECT_EQ(normalizeVersion(repeated("0", 4299) + "1"), "1");
  // Python's int() refuses a number of more digits, and with it every installer.
  EXPECT_EQ(normalizeVersion(repeated("1", 4301)), std::nullopt);
  EXPECT_EQ(normalizeVersion("1.0+" + repeated("1", 4301)), std::nullopt);
  EXPECT_EQ(normalizeVersion(release + "+" + repeated("a.", 20000)), std::nullopt);
  EXPECT_EQ(normalizeVersion(repeated(" ", 50000) + "1.0" + repeated("\x1c", 50000)), "1.0");

  EXPECT_EQ(requirementError("six>=" + release), std::nullopt);
  EXPECT_EQ(requirementError("six==" + release + ".*"), std::nullopt);
  EXPECT_EQ(requirementError("six==v1!" + release + ".*"), std::nullopt);
  EXPECT_EQ(requirementError("six==" + release + "a1.*"),
            "'==" + release.substr(0, 98) + "... (40007 bytes in all)' is not a valid version "
            "specifier at column 6");
  EXPECT_EQ(requirementError(repeated("n", 40000) + "[" + repeated("e,", 20000) + "e]>=1; " +
                             repeated("os_name == 'nt' and ", 20000) + "extra == 'x'"),
            std::nullopt);
}

TEST(LongVersions, TooLongForTheWheelsFileNameAreRefusedNamingTheirOrigin) {
  testing::TempDir dir;
  testing::writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = \"1" +
                                           repeated(".0", 20000) + "\"\n");
  EXPECT_EQ(testing::thrownMessage([] { readProject("pyproject.toml", std::nullopt); }),
            "pyproject.toml: the name 'demo' and the version '1" + repeated(".0", 49) +
                ".... (40001 bytes in all)' (from 'version' in [project]) have 40006 characters "
                "together, more than "
                "the 150 that leave room for the tags in the wheel's file name (at most 255 "
                "bytes)");
  const std::string longest = repeated("1.", 72) + "1"; // "demo-" and 145 characters
  EXPECT_EQ(readProject("pyproject.toml", longest).version, longest);
  EXPECT_NE(testing::thrownMessage([&] { readProject("pyproject.toml", longest + "1"); })
                .find("(from --version) have 151 characters together"),
            std::string::npos);
}

TEST(DeepMarkers, AreRefusedBeyondTheNestingThePackagingLibraryAllows) {
  EXPECT_EQ(requirementError(nested(200)), std::nullopt);
  EXPECT_EQ(requirementError(nested(201)),
            "the marker is nested more than 200 levels deep at column 206");
  EXPECT_EQ(requirementError(nested(100000)),
            "the marker is nested more than 200 levels deep at column 206");
  EXPECT_EQ(requirementError("six; " + repeated("(", 100000)),
            "the marker is nested more than 200 levels deep at column 206");

  // The message names the entry without repeating all of it.
  testing::TempDir dir;
  testing::writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = \"1.0\"\n"
                                       "dependencies = [\"" + nested(100000) + "\"]\n");
  const std::string message =
      testing::thrownMessage([] { readProject("pyproject.toml", std::nullopt); });
  EXPECT_EQ(message, "pyproject.toml: entry 1 of 'project.dependencies', 'six; " +
                         repeated("(", 95) + "... (200025 bytes in all)', is not a valid "
                         "requirement: the marker is nested more than 200 levels deep at column "
                         "206");
}

} // namespace
} // namespace quorvex::whl
