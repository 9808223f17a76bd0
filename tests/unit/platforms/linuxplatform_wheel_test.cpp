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
using Strings = std::vector<std::string>;

namespace {

// Records every command line and the LD_LIBRARY_PATH it ran with.
struct Recorder {
  std::vector<Strings> commands;
  std::vector<std::optional<std::string>> searchPaths;
  int exitCode = 0;
  quorvex::utils::CommandRunnerOverride guard{
      [this](const Strings& argv, std::chrono::milliseconds) {
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

std::unique_ptr<lp::Plugin> pluginFor(quorvex::plugin::PluginManager& manager, bool library) {
  auto plugin = std::make_unique<lp::Plugin>(manager);
  quorvex::cli::BuildArguments args;
  args.library = library;
  plugin->extendBuild(args);
  return plugin;
}

} // namespace

TEST(LinuxWheel, RepairCommandExcludesTheRuntimeUnderEachName) {
  const std::string wheel = ".quorvex_build/wrk/a-1.0-cp312-abi3-linux_x86_64.whl";
  const std::string excl312 = "--exclude libpython3.12.so --exclude libpython3.12.so.1.0 ";
  for (auto [library, excludes] :
       {std::pair<std::string, std::string>{"/p/lib/libpython3.12.so.1.0", excl312},
        {"/p/lib/libpython3.12.so", excl312},
        {"libpython3.13t.so.1", "--exclude libpython3.13t.so --exclude libpython3.13t.so.1 "
                                "--exclude libpython3.13t.so.1.0 "}})
    EXPECT_EQ(lp::auditCommand(library, wheel, "dist"),
              "auditwheel repair " + excludes + wheel + " -w dist");

  // Paths with blanks or quotes stay whole words.
  auto command = lp::auditCommand("libpython3.12.so", "my wheels/a.whl", "it's out");
  EXPECT_EQ(command, "auditwheel repair " + excl312 + "'my wheels/a.whl' -w 'it'\"'\"'s out'");
  EXPECT_EQ(quorvex::utils::splitCommand(command),
            (Strings{"auditwheel", "repair", "--exclude", "libpython3.12.so", "--exclude",
                     "libpython3.12.so.1.0", "my wheels/a.whl", "-w", "it's out"}));
}

TEST(LinuxWheel, LibraryWheelIsRepairedWithTheRuntimeDirectoryOnTheSearchPath) {
  quorvex::testing::TempDir dir;
  quorvex::utils::withEnv restore("LD_LIBRARY_PATH", "");
  quorvex::testing::writeFile("py/lib/libpython3.12.so.1.0", "lib");
  const fs::path library = "py/lib/libpython3.12.so.1.0";
  auto libDir = fs::canonical("py/lib").string();
  quorvex::plugin::PluginManager manager;
  auto plugin = pluginFor(manager, true);
  Recorder recorder;
  const Strings command{"auditwheel", "repair", "--exclude", "libpython3.12.so", "--exclude",
                        "libpython3.12.so.1.0", "a.whl", "-w", "dist"};

  // Before each call, LD_LIBRARY_PATH unset, empty, or set; the policy changes nothing.
  struct Case {
    std::optional<std::string> before, seen;
    std::optional<std::string> policy;
  };
  for (const auto& c : {Case{std::nullopt, libDir, "manylinux_2_28"},
                        Case{"", libDir, std::nullopt},
                        Case{"/opt/x", libDir + ":/opt/x", "musllinux_1_2"}}) {
    c.before ? ::setenv("LD_LIBRARY_PATH", c.before->c_str(), 1) : ::unsetenv("LD_LIBRARY_PATH");
    plugin->auditWheel(library, "a.whl", "dist", c.policy);
    EXPECT_EQ(recorder.commands.back(), command);
    EXPECT_EQ(recorder.searchPaths.back(), c.seen);
    const char* after = std::getenv("LD_LIBRARY_PATH");
    EXPECT_EQ(after ? std::optional<std::string>(after) : std::nullopt, c.before);
  }

  // A failed repair raises and still restores the search path.
  recorder.exitCode = 1;
  try {
    plugin->auditWheel(library, "a.whl", "dist", std::nullopt);
    FAIL() << "a failed repair passed";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Command failed: auditwheel repair --exclude libpython3.12.so "
                           "--exclude libpython3.12.so.1.0 a.whl -w dist\nlog: not a wheel");
  }
  EXPECT_STREQ(std::getenv("LD_LIBRARY_PATH"), "/opt/x");
}

TEST(LinuxWheel, PolicyTagsOfExecutableWheels) {
  const std::string x86 = "app-1.0-cp312-cp312-linux_x86_64.whl";
  EXPECT_EQ(lp::policyWheelName(x86, "manylinux_2_28"),
            "app-1.0-cp312-cp312-manylinux2014_x86_64.manylinux_2_17_x86_64."
            "manylinux_2_28_x86_64.whl");
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_aarch64.whl", "musllinux_1_2"),
            "app-1.0-cp312-cp312-musllinux_1_2_aarch64.whl");
  EXPECT_EQ(lp::policyWheelName(x86, "manylinux2014"), x86);
  EXPECT_EQ(lp::policyWheelName(x86, std::nullopt), x86);
  EXPECT_EQ(lp::policyWheelName("app-1.0-cp312-cp312-linux_riscv64.whl", "manylinux_2_28"),
            "app-1.0-cp312-cp312-linux_riscv64.whl");
}

TEST(LinuxWheel, ExecutableWheelIsCopiedUnderThePolicyTag) {
  quorvex::testing::TempDir dir;
  const std::string wheel = "wrk/app-1.0-cp312-cp312-linux_x86_64.whl";
  quorvex::testing::writeFile(wheel, "zip bytes");
  quorvex::plugin::PluginManager manager;
  auto plugin = pluginFor(manager, false);
  EXPECT_THROW(plugin->auditWheel(std::nullopt, wheel, "missing", std::nullopt),
               fs::filesystem_error);
  EXPECT_FALSE(fs::exists("missing"));

  fs::create_directories("dist");
  auto messages = std::make_shared<Messages>();
  quorvex::log::addHandler(messages);
  auto& root = quorvex::log::root();
  auto level = root.level;
  root.level = quorvex::log::INFO;
  plugin->auditWheel(std::nullopt, wheel, "dist", std::string("manylinux_2_28"));
  plugin->auditWheel(std::nullopt, wheel, "dist", std::nullopt);
  root.level = level;
  quorvex::log::removeHandler(messages);

  const std::string tagged =
      "app-1.0-cp312-cp312-manylinux2014_x86_64.manylinux_2_17_x86_64.manylinux_2_28_x86_64.whl";
  EXPECT_EQ(readFile("dist/" + tagged), "zip bytes");
  EXPECT_EQ(readFile("dist/app-1.0-cp312-cp312-linux_x86_64.whl"), "zip bytes");
  EXPECT_TRUE(fs::exists(wheel));
  EXPECT_EQ(messages->lines,
            (Strings{"policy='manylinux_2_28'  wheelPath=PosixPath('" + wheel +
                         "') targetPath=PosixPath('dist/" + tagged + "')",
                     "policy=None  wheelPath=PosixPath('" + wheel + "') targetPath=PosixPath('" +
                         "dist/app-1.0-cp312-cp312-linux_x86_64.whl')"}));
}
