// The embedded directory replaces only what the tool made: every other target is refused
// before anything is touched.
#include "packaging/embed.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

TEST(EmbedTarget, RefusesWhatItDidNotMakeAndAcceptsEmptyOrItsOwn) {
  TempDir other;
  TempDir dir;
  fs::create_directories(other.path() / "src" / "app");
  fs::create_directories("project");
  fs::create_directories(".quorvex_build/python");
  writeFile("notes/todo.txt", "mine");
  writeFile("file.txt", "mine too");
  const std::string cwd = dir.path().string();
  const std::string otherSrc = (other.path() / "src").string();
  const std::vector<std::tuple<fs::path, std::optional<fs::path>, std::string>> cases = {
      {".", {}, "it is or contains the working directory " + cwd},
      {"/", {}, "it is or contains the working directory " + cwd},
      {"project", {}, "it is or contains the source directory " + cwd + "/project"},
      {otherSrc, other.path() / "src" / "app",
       "it is or contains the source directory " + otherSrc + "/app"},
      {".quorvex_build", {}, "it is or contains the build directory " + cwd + "/.quorvex_build"},
      {".quorvex_build/python/x", {},
       "it lies in the pristine Python directory " + cwd + "/.quorvex_build/python"},
      {"notes", {},
       "the directory is not empty and has no .quorvex-embedded file, so it was not made by "
       "quorvex"},
      {"file.txt", {}, "it exists and is not a directory"},
      {"empty", {}, ""},
      {"own", {}, ""},
  };
  fs::create_directories("empty");
  writeFile("own/.quorvex-embedded", "");
  writeFile("own/bin/python3", "");
  for (const auto& [target, source, reason] : cases) {
    std::string message;
    try {
      quorvex::embed::checkTarget(target, source.value_or("project"), ".quorvex_build");
    } catch (const std::runtime_error& error) {
      message = error.what();
    }
    EXPECT_EQ(message, reason.empty() ? reason
                                      : "Refusing to embed into " + target.string() + ": " + reason);
  }
  EXPECT_EQ(readFile("notes/todo.txt"), "mine");
  EXPECT_EQ(readFile("file.txt"), "mine too");
}
