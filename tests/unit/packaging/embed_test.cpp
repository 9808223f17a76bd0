// The embedded directory: which targets may be replaced, the uv command lines and where they
// run, and what ends up in the directory. uv is replaced by a recorder; the file operations,
// the pristine lookup and the Linux plug-in's hooks are real.
#include "packaging/embed.hpp"

#include "core/interpreter.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace quorvex::embed {
namespace {

struct Call {
  std::string command;
  std::vector<std::string> argv;
  fs::path cwd;
};

std::string join(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& word : argv) text += (text.empty() ? "" : " ") + word;
  return text;
}

// A project directory with a stand-in pristine Python in its build directory, and uv replaced
// by a recorder that answers with `failOn` failing.
class EmbedTest : public ::testing::Test {
protected:
  void SetUp() override {
    const auto& facts = interpreter::facts();
    pristine = fs::path(".quorvex_build") / "python" /
               ("cpython-" + facts.fullVersion() + "-linux-x86_64-gnu");
    writeFile(pristine / "bin" / "python3", "#!/bin/sh\n");
    fs::permissions(pristine / "bin" / "python3", fs::perms::owner_all, fs::perm_options::add);
    fs::create_symlink("python3", pristine / "bin" / "python");
    writeFile(pristine / "lib" / "libpython3.so", "library");
    fs::create_directories("project");
    dynload = fs::path("lib") / ("python" + std::to_string(facts.major) + "." +
                                 std::to_string(facts.minor)) / "lib-dynload";
  }

  void run(const fs::path& target, EmbedOptions options) {
    utils::CommandRunnerOverride recorder(
        [this](const std::vector<std::string>& argv, std::chrono::milliseconds) {
          calls.push_back({join(argv), argv, fs::current_path()});
          if (onCall) onCall(calls.back());
          process::Result result;
          if (!failOn.empty() && calls.back().command.starts_with(failOn)) {
            result.exitCode = 1;
            result.output = "uv: no such project";
          }
          return result;
        });
    if (!options.sourcePath) options.sourcePath = dir.path() / "project";
    embed(target, options);
  }

  std::string requirements() const {
    return (dir.path() / ".quorvex_build" / "requirements.txt").string();
  }
  std::string exportCommand() const {
    return "uv export --no-dev --no-emit-project --output-file " + requirements();
  }
  std::string python(const fs::path& target) const {
    return fs::canonical(dir.path() / target / "bin" / "python").string();
  }

  TempDir dir;
  fs::path pristine;
  fs::path dynload;
  std::vector<Call> calls;
  std::string failOn;
  std::function<void(const Call&)> onCall;
};

TEST_F(EmbedTest, ExecutableGoesToBinAfterTheDependencies) {
  writeFile("dist/old-file.txt", "from an earlier run");
  writeFile(fs::path("dist") / markerName, "");
  writeFile("app", "\x7f" "ELF program");
  fs::permissions("app", fs::perms::owner_all | fs::perms::group_exec, fs::perm_options::replace);
  const auto stamp = fs::last_write_time("app") - std::chrono::hours(5);
  fs::last_write_time("app", stamp);
  const fs::path before = fs::current_path();

  run("dist", {.exePath = fs::path("app")});

  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].command, exportCommand());
  EXPECT_EQ(calls[0].cwd, dir.path() / "project");
  EXPECT_EQ(calls[1].command, "uv pip install --python " + python("dist") + " -r " +
                                  requirements() + " --break-system-packages");
  EXPECT_EQ(calls[1].cwd, before);
  EXPECT_EQ(fs::current_path(), before);

  EXPECT_FALSE(fs::exists("dist/old-file.txt"));
  EXPECT_TRUE(fs::exists(fs::path("dist") / markerName));
  EXPECT_EQ(readFile("dist/bin/app"), "\x7f" "ELF program");
  EXPECT_EQ(fs::status("dist/bin/app").permissions(), fs::perms::owner_all | fs::perms::group_exec);
  EXPECT_EQ(fs::last_write_time("dist/bin/app"), stamp);
  // Links of the pristine installation become copies, so the directory stands on its own.
  EXPECT_FALSE(fs::is_symlink("dist/bin/python"));
  EXPECT_EQ(readFile("dist/bin/python"), "#!/bin/sh\n");
  EXPECT_EQ(readFile("dist/lib/libpython3.so"), "library");
  EXPECT_TRUE(fs::is_directory(fs::path("dist") / dynload));
}

TEST_F(EmbedTest, WheelIsInstalledInsteadOfAnExecutableWithPathsKeptWhole) {
  // Blanks and quotes would split the paths apart on the command line.
  const fs::path target = "out dir/it's";
  run(target, {.whlPath = fs::path("wheels dir/proj-1.0-cp312-cp312-linux_x86_64.whl")});

  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].command, exportCommand());
  EXPECT_EQ(calls[1].argv,
            (std::vector<std::string>{"uv", "pip", "install", "--python", python(target), "-r",
                                      requirements(), "--break-system-packages"}));
  EXPECT_EQ(calls[2].argv, (std::vector<std::string>{
                               "uv", "pip", "install", "--python", python(target),
                               "--break-system-packages",
                               "wheels dir/proj-1.0-cp312-cp312-linux_x86_64.whl"}));
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(target / "bin"))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"python", "python3"}));

  // Given both, the executable is copied before the wheel is installed.
  writeFile("app", "program");
  bool copiedFirst = false;
  onCall = [&](const Call& call) {
    if (call.command.ends_with(".whl")) copiedFirst = fs::exists("target/bin/app");
  };
  calls.clear();
  run("target", {.exePath = fs::path("app"), .whlPath = fs::path("p.whl")});
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_TRUE(copiedFirst);
}

TEST_F(EmbedTest, FailingExportStopsWithUvOutputAndLeavesNoDirectory) {
  failOn = "uv export";
  const fs::path before = fs::current_path();
  writeFile("app", "program");
  try {
    run("target", {.exePath = fs::path("app")});
    FAIL() << "expected the export to fail";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()),
              "Command failed: " + exportCommand() + "\nlog: uv: no such project");
  }
  EXPECT_EQ(calls.size(), 1u);
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_FALSE(fs::exists("target")) << "a half-made embedded directory stays behind";
}

// Every refusal happens before anything is deleted or run.
class EmbedTargetTest : public EmbedTest {
protected:
  std::string refusal(const fs::path& target, const std::optional<fs::path>& source = {}) {
    try {
      run(target, {.sourcePath = source});
    } catch (const std::runtime_error& error) {
      EXPECT_TRUE(calls.empty());
      return error.what();
    }
    return "accepted";
  }
};

TEST_F(EmbedTargetTest, RefusesWhatItDidNotMake) {
  TempDir other; // enters its directory
  fs::current_path(dir.path());
  fs::create_directories(other.path() / "src" / "app");
  writeFile("notes/todo.txt", "mine");
  writeFile("file.txt", "mine too");
  const std::string cwd = dir.path().string();
  const std::string otherSrc = (other.path() / "src").string();
  const std::vector<std::tuple<fs::path, std::optional<fs::path>, std::string>> cases = {
      {".", {}, "Refusing to embed into .: it is or contains the working directory " + cwd},
      {"/", {}, "Refusing to embed into /: it is or contains the working directory " + cwd},
      {"project", {},
       "Refusing to embed into project: it is or contains the source directory " + cwd +
           "/project"},
      {otherSrc, other.path() / "src" / "app",
       "Refusing to embed into " + otherSrc + ": it is or contains the source directory " +
           otherSrc + "/app"},
      {".quorvex_build", {},
       "Refusing to embed into .quorvex_build: it is or contains the build directory " + cwd +
           "/.quorvex_build"},
      {".quorvex_build/python/x", {},
       "Refusing to embed into .quorvex_build/python/x: it lies in the pristine Python "
       "directory " + cwd + "/.quorvex_build/python"},
      {"notes", {},
       "Refusing to embed into notes: the directory is not empty and has no .quorvex-embedded "
       "file, so it was not made by quorvex"},
      {"file.txt", {}, "Refusing to embed into file.txt: it exists and is not a directory"},
  };
  for (const auto& [target, source, message] : cases) EXPECT_EQ(refusal(target, source), message);
  EXPECT_TRUE(fs::is_directory(other.path() / "src" / "app"));
  EXPECT_TRUE(fs::exists("project"));
  EXPECT_TRUE(fs::exists(pristine / "bin" / "python3"));
  EXPECT_EQ(readFile("notes/todo.txt"), "mine");
  EXPECT_EQ(readFile("file.txt"), "mine too");
}

TEST_F(EmbedTargetTest, ReplacesEmptyDirectoriesAndItsOwn) {
  fs::create_directories("empty");
  EXPECT_EQ(refusal("empty"), "accepted");
  calls.clear();
  // A run that failed half-way leaves nothing behind, and the next run may make it.
  failOn = "uv pip";
  EXPECT_THROW(run("again", {}), std::runtime_error);
  EXPECT_FALSE(fs::exists("again"));
  failOn.clear();
  calls.clear();
  EXPECT_EQ(refusal("again"), "accepted");
}

} // namespace
} // namespace quorvex::embed
