// Choosing and installing the pristine Python, and the cached runtime library path.
#include "compilation/pristine.hpp"
#include "compilation/runtime.hpp"
#include "fakes.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

namespace fs = std::filesystem;
using quorvex::compilation_test::FakeManager;
using quorvex::compilation_test::LogRecorder;
using quorvex::pristine::findPython;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

void makeInstallations(std::initializer_list<const char*> names) {
  for (auto name : names) fs::create_directories(fs::path("py") / name);
}

// Replaces uv: records each command line and runs `action` with the install directory set.
struct FakeUv {
  std::vector<std::vector<std::string>> runs;
  std::function<quorvex::process::Result(const char*)> action = [](const char*) {
    return quorvex::process::Result{};
  };
  quorvex::utils::CommandRunnerOverride guard{
      [this](const std::vector<std::string>& argv, std::chrono::milliseconds) {
        runs.push_back(argv);
        return action(std::getenv("UV_PYTHON_INSTALL_DIR"));
      }};
};

} // namespace

TEST(FindPython, PrefersTheBuildModeThenTheFullVersionThenPlainOrder) {
  TempDir dir;
  EXPECT_EQ(findPython("py", "3.12.1", false), std::nullopt) << "missing directory";
  makeInstallations({"cpython-3.12.10-linux-x86_64-gnu", "cpython-3.12.1-linux-x86_64-gnu",
                     "cpython-3.13.1+freethreaded-linux-x86_64-gnu",
                     "cpython-3.13.1-linux-x86_64-gnu", "cpython-3.14.2+freethreaded-linux"});
  writeFile("py/cpython-x", "a plain file is no installation");
  EXPECT_EQ(findPython("py", "3.12.1", false), fs::path("py/cpython-3.12.1-linux-x86_64-gnu"));
  EXPECT_EQ(findPython("py", "3.12.10", false), fs::path("py/cpython-3.12.10-linux-x86_64-gnu"));
  EXPECT_EQ(findPython("py", "3.13.1", false), fs::path("py/cpython-3.13.1-linux-x86_64-gnu"));
  EXPECT_EQ(findPython("py", "3.13.1", true),
            fs::path("py/cpython-3.13.1+freethreaded-linux-x86_64-gnu"));
  // The build mode outranks the micro version: a runtime of the other mode cannot be linked.
  EXPECT_EQ(findPython("py", "3.14.2", false), fs::path("py/cpython-3.12.1-linux-x86_64-gnu"));
  fs::remove("py/cpython-3.13.1-linux-x86_64-gnu");
  fs::remove("py/cpython-3.12.1-linux-x86_64-gnu");
  fs::remove("py/cpython-3.12.10-linux-x86_64-gnu");
  EXPECT_EQ(findPython("py", "3.13.1", false),
            fs::path("py/cpython-3.13.1+freethreaded-linux-x86_64-gnu"))
      << "with no installation of the same mode the version and the order hold";

  fs::remove_all("py");
  makeInstallations({"cpython-3.11.9-linux-x86_64-gnu"});
  fs::create_directory_symlink("cpython-3.11.9-linux-x86_64-gnu", "py/cpython-3.11-link");
  EXPECT_EQ(findPython("py", "3.12.7", false), fs::path("py/cpython-3.11-link"))
      << "another version when nothing matches; a link to a directory counts";
}

TEST(PristinePython, InstallsWithUvIntoTheBuildDirectoryOnce) {
  TempDir dir;
  FakeManager fake;
  LogRecorder logs;
  fake.platform->selector = quorvex::plugin::InstallSelector{"3.12", "3.12.1"};
  FakeUv uv;
  std::optional<std::string> installDir;
  uv.action = [&](const char* target) {
    installDir = target ? std::optional<std::string>(target) : std::nullopt;
    if (target) fs::create_directories(fs::path(target) / "cpython-3.12.1-linux-x86_64-gnu");
    return quorvex::process::Result{};
  };
  std::optional<fs::path> cache;
  auto found = quorvex::pristine::getPristinePython(*fake.manager, cache);
  EXPECT_EQ(uv.runs, (std::vector<std::vector<std::string>>{{"uv", "python", "install", "3.12"}}));
  EXPECT_EQ(installDir, ".quorvex_build/python");
  EXPECT_EQ(std::getenv("UV_PYTHON_INSTALL_DIR"), nullptr) << "restored after the run";
  EXPECT_EQ(found, fs::path(".quorvex_build/python/cpython-3.12.1-linux-x86_64-gnu"));
  EXPECT_EQ(logs.messages("quorvex.pristine"),
            (std::vector<std::string>{
                "Installed pristine Python at .quorvex_build/python",
                "Using pristine Python at .quorvex_build/python/cpython-3.12.1-linux-x86_64-gnu"}));

  // Remembered: no second look, no log line, no hook.
  fake.platform->selector.reset();
  EXPECT_EQ(quorvex::pristine::getPristinePython(*fake.manager, cache), found);
  EXPECT_EQ(uv.runs.size(), 1u);
  EXPECT_EQ(logs.messages("quorvex.pristine").size(), 2u);
}

TEST(PristinePython, ReusesAnExistingInstallation) {
  TempDir dir;
  FakeManager fake;
  LogRecorder logs;
  fake.platform->selector = quorvex::plugin::InstallSelector{"3.12", "3.12.7"};
  fs::create_directories(".quorvex_build/python/cpython-3.11.9-linux-x86_64-gnu");
  FakeUv uv;
  std::optional<fs::path> cache;
  EXPECT_EQ(quorvex::pristine::getPristinePython(*fake.manager, cache),
            fs::path(".quorvex_build/python/cpython-3.11.9-linux-x86_64-gnu"));
  EXPECT_TRUE(uv.runs.empty());
  EXPECT_EQ(logs.messages("quorvex.pristine"),
            std::vector<std::string>{"Found existing pristine Python at "
                                     ".quorvex_build/python/cpython-3.11.9-linux-x86_64-gnu"});
}

TEST(PristinePython, FailingUvAndEmptyInstallations) {
  TempDir dir;
  FakeManager fake;
  fake.platform->selector = quorvex::plugin::InstallSelector{"3.12", "3.12.1"};
  int result = 1;
  FakeUv uv;
  uv.action = [&](const char*) {
    return quorvex::process::Result{.exitCode = result, .output = "error: No download found"};
  };
  std::optional<fs::path> cache;
  try {
    quorvex::pristine::getPristinePython(*fake.manager, cache);
    FAIL() << "expected an error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "Command failed: uv python install 3.12\nlog: error: No download found");
  }
  EXPECT_EQ(std::getenv("UV_PYTHON_INSTALL_DIR"), nullptr);
  // A successful install that leaves nothing is answered with nullopt and not remembered.
  result = 0;
  EXPECT_EQ(quorvex::pristine::getPristinePython(*fake.manager, cache), std::nullopt);
  EXPECT_FALSE(cache.has_value());
}

TEST(RuntimePath, AskedOncePerProcess) {
  TempDir dir;
  FakeManager fake;
  std::optional<fs::path> cache;
  int pristineAsked = 0;
  auto pristine = [&] {
    ++pristineAsked;
    return std::optional<fs::path>("py/cpython-3.12.1");
  };
  auto first = quorvex::runtime::getRuntimePath(*fake.manager, cache, pristine);
  auto second = quorvex::runtime::getRuntimePath(*fake.manager, cache, pristine);
  EXPECT_EQ(first, fs::path("py/cpython-3.12.1/lib/libpython3.12.so"));
  EXPECT_EQ(second, first);
  EXPECT_EQ(fake.platform->runtimeLibAsked, 1);
  EXPECT_EQ(pristineAsked, 1);
}
