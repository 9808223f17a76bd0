// The Linux plug-in's construction, build state, executable finishing and names and paths.
#include "platforms/linuxplatform.hpp"

#include "core/host.hpp"
#include "core/interpreter.hpp"
#include "frontend/cli.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace fs = std::filesystem;
using quorvex::linuxplatform::Plugin;
using quorvex::plugin::PluginManager;

TEST(LinuxPlugin, RefusesEveryOtherHost) {
  PluginManager manager;
  for (const char* host : {"darwin", "win32", "linux2", "Linux"}) {
    quorvex::host::PlatformOverride override(host);
    try {
      Plugin plugin(manager);
      FAIL() << "constructed on " << host;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Unsupported platform");
    }
  }
  EXPECT_NO_THROW(Plugin plugin(manager));
}

TEST(LinuxPlugin, BuildOptionsDecideNameAndWheelHandOver) {
  PluginManager manager;
  Plugin plugin(manager);
  const std::string before = " needs the build options, but extendBuild was not called";
  try {
    plugin.getExecutableName("app");
    FAIL() << "named a product without build options";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(e.what(), "Linux platform: getExecutableName" + before);
  }
  try {
    plugin.auditWheel(fs::path("libpython3.12.so"), "a.whl", "dist", std::nullopt);
    FAIL() << "handed a wheel over without build options";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(e.what(), "Linux platform: auditWheel" + before);
  }
  quorvex::cli::BuildArguments args;
  args.library = true;
  plugin.extendBuild(args);
  auto suffix = quorvex::interpreter::facts().configVar("EXT_SUFFIX").value_or("");
  EXPECT_EQ(plugin.getExecutableName("app"), "app" + (suffix.empty() ? ".so" : suffix));
  args.library = false;
  plugin.extendBuild(args);
  EXPECT_EQ(plugin.getExecutableName("app"), "app");
}

TEST(LinuxPlugin, MakeExecutableAddsOnlyExecuteBits) {
  quorvex::testing::TempDir dir;
  PluginManager manager;
  Plugin plugin(manager);
  EXPECT_THROW(plugin.makeExecutable("missing"), fs::filesystem_error);
  EXPECT_FALSE(fs::exists("missing"));
  quorvex::testing::writeFile("exe", "#!/bin/sh\n");
  fs::create_symlink("exe", "link");
  // The last case goes through a link: the target changes.
  for (auto [file, before, after] : {std::tuple{"exe", 0644, 0755}, {"exe", 0600, 0711},
                                     {"exe", 04750, 04751}, {"exe", 0755, 0755},
                                     {"link", 0600, 0711}}) {
    ASSERT_EQ(::chmod("exe", before), 0);
    plugin.makeExecutable(file);
    struct stat st {};
    ASSERT_EQ(::stat("exe", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(after)) << file << " " << std::oct << before;
  }
}

TEST(LinuxPlugin, StartUpBlockAndPaths) {
  PluginManager manager;
  Plugin plugin(manager);
  // The block replaces the configuration call, so it must begin with that call.
  auto text = plugin.getConfigTemplate().value_or("");
  auto start = text.find_first_not_of(" \t\r\n");
  EXPECT_EQ(text.compare(start == std::string::npos ? 0 : start, 35,
                         "PyConfig_InitPythonConfig(&config);"),
            0)
      << text;

  for (auto [path, expected] : {std::pair{"/usr/local/bin/python3.12", "/usr/local/bin/python"},
                                {".", "python"}, // the wheel step keeps the last component
                                {"python3.12", "python"},
                                {"/opt/venv/bin/", "/opt/venv/python"},
                                {"/opt/./venv/bin/.", "/opt/venv/python"}})
    EXPECT_EQ(plugin.getExePath(path, "python"), fs::path(expected)) << path;
  EXPECT_EQ(plugin.getExecutablePath("embed"), fs::path("embed/bin"));
}
