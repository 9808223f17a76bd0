// The embedded directory replaces only what the tool made: every other target is refused
// before anything is touched. The project file's copy finds what the project finds.
#include "packaging/embed.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <toml++/toml.h>

#include <optional>
#include <tuple>
#include <vector>

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

// The copy of the project file that uv resolves in the build directory must name the places
// that the project names by relative paths; URLs and absolute paths are left alone.
TEST(EmbedProjectCopy, RelativePlacesBecomeAbsoluteAndURLsStay) {
  TempDir dir;
  writeFile("project/pyproject.toml", R"([project]
name = "demo"

[tool.uv]
find-links = ["wheels", "./more/../other", "~/home-relative", "/srv/wheels",
              "https://example.org/links/", "file:///srv/file-links"]
index-url = "simple"
extra-index-url = ["C++.d/extra", "git+ssh://host/index"]

[[tool.uv.index]]
name = "flat"
url = "flat"
format = "flat"

[[tool.uv.index]]
name = "remote"
url = "https://example.org/simple"

[tool.uv.sources]
one = { path = "../one", editable = true }
two = [{ path = "two", marker = "os_name == 'nt'" }, { git = "https://example.org/two.git" }]
three = { url = "https://example.org/three.whl" }
)");
  const toml::table copy =
      toml::parse(quorvex::embed::projectFileForCopy("project/pyproject.toml"));
  const std::string project = (dir.path() / "project").string();
  const auto strings = [&](toml::node_view<const toml::node> list) {
    std::vector<std::string> out;
    for (const toml::node& entry : *list.as_array()) out.push_back(*entry.value<std::string>());
    return out;
  };
  const toml::node_view uv = copy["tool"]["uv"];
  EXPECT_EQ(strings(uv["find-links"]),
            (std::vector<std::string>{project + "/wheels", project + "/other",
                                      project + "/~/home-relative", "/srv/wheels",
                                      "https://example.org/links/", "file:///srv/file-links"}));
  EXPECT_EQ(uv["index-url"].value<std::string>(), project + "/simple");
  EXPECT_EQ(strings(uv["extra-index-url"]),
            (std::vector<std::string>{project + "/C++.d/extra", "git+ssh://host/index"}));
  EXPECT_EQ(uv["index"][0]["url"].value<std::string>(), project + "/flat");
  EXPECT_EQ(uv["index"][1]["url"].value<std::string>(), "https://example.org/simple");
  EXPECT_EQ(uv["sources"]["one"]["path"].value<std::string>(), dir.path().string() + "/one");
  EXPECT_EQ(uv["sources"]["one"]["editable"].value<bool>(), true);
  EXPECT_EQ(uv["sources"]["two"][0]["path"].value<std::string>(), project + "/two");
  EXPECT_EQ(uv["sources"]["two"][1]["git"].value<std::string>(), "https://example.org/two.git");
  EXPECT_EQ(uv["sources"]["three"]["url"].value<std::string>(), "https://example.org/three.whl");
  EXPECT_EQ(copy["project"]["name"].value<std::string>(), "demo");
}
