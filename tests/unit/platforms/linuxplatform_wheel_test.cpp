// Wheel platform tags and the hand-over of finished wheels on Linux.
#include "platforms/linuxplatform.hpp"

#include "core/log.hpp"
#include "core/utils.hpp"
#include "frontend/cli.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
namespace lp = quorvex::linuxplatform;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

// Records every command line and the LD_LIBRARY_PATH it ran with.
struct Recorder {
  std::vector<std::vector<std::string>> commands;
  std::vector<std::optional<std::string>> searchPaths;
  int exitCode = 0;
  quorvex::utils::CommandRunnerOverride guard{
      [this](const std::vector<std::string>& argv, std::chrono::milliseconds) {
        commands.push_back(argv);
        const char* value = std::getenv("LD_LIBRARY_PATH");
        searchPaths.push_back(value ? std::optional<std::string>(value) : std::nullopt);
        quorvex::process::Result result;
        result.exitCode = exitCode;
        result.output = exitCode ? "not a wheel" : "";
        return result;
      }};
};

struct Messages : quorvex::log::Handler {
  std::vector<std::string> lines;
  void emit(const quorvex::log::Record& record) override { lines.push_back(record.msg); }
};

struct EnvRestore {
  std::optional<std::string> saved;
  EnvRestore() {
    if (const char* v = std::getenv("LD_LIBRARY_PATH")) saved = v;
  }
  ~EnvRestore() {
    if (saved)
      ::setenv("LD_LIBRARY_PATH", saved->c_str(), 1);
    else
      ::unsetenv("LD_LIBRARY_PATH");
  }
};

std::unique_ptr<lp::Plugin> pluginFor(quorvex::plugin::PluginManager& manager, bool library) {
  auto plugin = std::make_unique<lp::Plugin>(manager);
  quorvex::cli::BuildArguments args;
  args.library = library;
  plugin->extendBuild(args);
  return plugin;
}

} // namespace

TEST(LinuxWheel, RepairCommandExcludesTheRuntimeUnderEachName) {
  const fs::path wheel = ".quorvex_build/wrk/a-1.0-cp312-abi3-linux_x86_64.whl";
  EXPECT_EQ(lp::auditCommand("/p/lib/libpython3.12.so.1.0", wheel, "dist"),
            "auditwheel repair --exclude libpython3.12.so --exclude libpython3.12.so.1.0 "
            ".quorvex_build/wrk/a-1.0-cp312-abi3-linux_x86_64.whl -w dist");
  EXPECT_EQ(lp::auditCommand("/p/lib/libpython3.12.so", wheel, "dist"),
            "auditwheel repair --exclude libpython3.12.so --exclude libpython3.12.so.1.0 "
            ".quorvex_build/wrk/a-1.0-cp312-abi3-linux_x86_64.whl -w dist");
  EXPECT_EQ(lp::auditCommand("libpython3.13t.so.1", wheel, "dist"),
            "auditwheel repair --exclude libpython3.13t.so --exclude libpython3.13t.so.1 "
            "--exclude libpython3.13t.so.1.0 "
            ".quorvex_build/wrk/a-1.0-cp312-abi3-linux_x86_64.whl -w dist");
}

TEST(LinuxWheel, RepairCommandKeepsPathsWithBlanksWhole) {
  auto command = lp::auditCommand("libpython3.12.so", "my wheels/a.whl", "it's out");
  EXPECT_EQ(command, "auditwheel repair --exclude libpython3.12.so --exclude "
                     "libpython3.12.so.1.0 'my wheels/a.whl' -w 'it'\"'\"'s out'");
  EXPECT_EQ(quorvex::utils::splitCommand(command),
            (std::vector<std::string>{"auditwheel", "repair", "--exclude", "libpython3.12.so",
                                      "--exclude", "libpython3.12.so.1.0", "my wheels/a.whl",
                                      "-w", "it's out"}));
}

TEST(LinuxWheel, LibraryWheelIsRepairedWithTheRuntimeDirectoryOnTheSearchPath) {
  TempDir dir;
  EnvRestore restore;
  writeFile("py/lib/libpython3.12.so.1.0", "lib");
  auto libDir = fs::canonical("py/lib").string();
  quorvex::plugin::PluginManager manager;
  auto plugin = pluginFor(manager, true);
  Recorder recorder;

  ::unsetenv("LD_LIBRARY_PATH");
  plugin->auditWheel(fs::path("py/lib/libpython3.12.so.1.0"),
                     "wrk/a-1.0-cp312-abi3-linux_x86_64.whl", "dist",
                     std::string("manylinux_2_28"));
  ASSERT_EQ(recorder.commands.size(), 1u);
  EXPECT_EQ(recorder.commands[0],
            (std::vector<std::string>{"auditwheel", "repair", "--exclude", "libpython3.12.so",
                                      "--exclude", "libpython3.12.so.1.0",
                                      "wrk/a-1.0-cp312-abi3-linux_x86_64.whl", "-w", "dist"}));
  EXPECT_EQ(recorder.searchPaths[0], libDir);
  EXPECT_EQ(std::getenv("LD_LIBRARY_PATH"), nullptr);

  ::setenv("LD_LIBRARY_PATH", "", 1);
  plugin->auditWheel(fs::path("py/lib/libpython3.12.so.1.0"), "a.whl", "dist", std::nullopt);
  EXPECT_EQ(recorder.searchPaths[1], libDir);
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "");

  ::setenv("LD_LIBRARY_PATH", "/opt/x", 1);
  plugin->auditWheel(fs::path("py/lib/libpython3.12.so.1.0"), "a.whl", "dist", std::nullopt);
  EXPECT_EQ(recorder.searchPaths[2], libDir + ":/opt/x");
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "/opt/x");
  // The policy does not change a library wheel's repair.
  EXPECT_EQ(recorder.commands[1], recorder.commands[2]);
}

TEST(LinuxWheel, FailedRepairRaisesAndRestoresTheSearchPath) {
  TempDir dir;
  EnvRestore restore;
  writeFile("py/lib/libpython3.12.so", "lib");
  quorvex::plugin::PluginManager manager;
  auto plugin = pluginFor(manager, true);
  Recorder recorder;
  recorder.exitCode = 1;
  ::setenv("LD_LIBRARY_PATH", "/opt/x", 1);
  try {
    plugin->auditWheel(fs::path("py/lib/libpython3.12.so"), "a.whl", "dist", std::nullopt);
    FAIL() << "a failed repair passed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Command failed: auditwheel repair --exclude libpython3.12.so "
                           "--exclude libpython3.12.so.1.0 a.whl -w dist\nlog: not a wheel");
  }
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "/opt/x");
}

TEST(LinuxWheel, PolicyTagsOfExecutableWheels) {
  // The wheel is written under the interpreter's own tag, which the policy replaces later.
  quorvex::plugin::PluginManager manager;
  lp::Plugin plugin(manager);
  EXPECT_EQ(plugin.fixPlatformName("linux_x86_64"), "linux_x86_64");
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_x86_64.whl", "manylinux_2_28"),
            "app-1.0-cp312-cp312-manylinux2014_x86_64.manylinux_2_17_x86_64."
            "manylinux_2_28_x86_64.whl");
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_aarch64.whl", "musllinux_1_2"),
            "app-1.0-cp312-cp312-musllinux_1_2_aarch64.whl");
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_x86_64.whl", "manylinux2014"),
            "app-1.0-cp312-cp312-linux_x86_64.whl");
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_x86_64.whl", std::nullopt),
            "app-1.0-cp312-cp312-linux_x86_64.whl");
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_riscv64.whl", "manylinux_2_28"),
            "app-1.0-cp312-cp312-linux_riscv64.whl");
}

TEST(LinuxWheel, ExecutableWheelIsCopiedUnderThePolicyTag) {
  TempDir dir;
  writeFile("wrk/app-1.0-cp312-cp312-linux_x86_64.whl", "zip bytes");
  fs::create_directories("dist");
  quorvex::plugin::PluginManager manager;
  auto plugin = pluginFor(manager, false);
  auto messages = std::make_shared<Messages>();
  quorvex::log::addHandler(messages);
  auto& root = quorvex::log::root();
  auto level = root.level;
  root.level = quorvex::log::INFO;

  plugin->auditWheel(std::nullopt, "wrk/app-1.0-cp312-cp312-linux_x86_64.whl", "dist",
                     std::string("manylinux_2_28"));
  plugin->auditWheel(std::nullopt, "wrk/app-1.0-cp312-cp312-linux_x86_64.whl", "dist",
                     std::nullopt);
  root.level = level;
  quorvex::log::removeHandler(messages);

  const std::string tagged =
      "app-1.0-cp312-cp312-manylinux2014_x86_64.manylinux_2_17_x86_64.manylinux_2_28_x86_64.whl";
  EXPECT_EQ(readFile("dist/" + tagged), "zip bytes");
  EXPECT_EQ(readFile("dist/app-1.0-cp312-cp312-linux_x86_64.whl"), "zip bytes");
  EXPECT_TRUE(fs::exists("wrk/app-1.0-cp312-cp312-linux_x86_64.whl"));
  ASSERT_EQ(messages->lines.size(), 2u);
  EXPECT_EQ(messages->lines[0],
            "policy='manylinux_2_28'  "
            "wheelPath=PosixPath('wrk/app-1.0-cp312-cp312-linux_x86_64.whl')"
            " targetPath=PosixPath('dist/" + tagged + "')");
  EXPECT_EQ(messages->lines[1].rfind("policy=None  wheelPath=", 0), 0u) << messages->lines[1];
}

TEST(LinuxWheel, ExecutableWheelIntoMissingDirectoryFailsAndLeavesNothing) {
  TempDir dir;
  writeFile("wrk/app-1.0-cp312-cp312-linux_x86_64.whl", "zip bytes");
  quorvex::plugin::PluginManager manager;
  auto plugin = pluginFor(manager, false);
  EXPECT_THROW(plugin->auditWheel(std::nullopt, "wrk/app-1.0-cp312-cp312-linux_x86_64.whl",
                                  "missing", std::nullopt),
               fs::filesystem_error);
  EXPECT_FALSE(fs::exists("missing"));
}

TEST(LinuxWheel, RepairNeedsTheBuildOptions) {
  quorvex::plugin::PluginManager manager;
  lp::Plugin plugin(manager);
  try {
    plugin.auditWheel(fs::path("libpython3.12.so"), "a.whl", "dist", std::nullopt);
    FAIL() << "handed a wheel over without build options";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Linux platform: auditWheel needs the build options, but extendBuild "
                           "was not called");
  }
}
