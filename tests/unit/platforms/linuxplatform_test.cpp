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
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

} // namespace

TEST(LinuxPlugin, RefusesEveryOtherHost) {
  quorvex::plugin::PluginManager manager;
  for (const char* host : {"darwin", "win32", "linux2", "Linux"}) {
    quorvex::host::PlatformOverride override(host);
    try {
      Plugin plugin(manager);
      FAIL() << "constructed on " << host;
    } catch (const std::runtime_error& e) {
      EXPECT_STREQ(e.what(), "Unsupported platform");
    }
    EXPECT_TRUE(quorvex::plugin::PluginManager({}, {".linuxplatform"}).plugins.empty()) << host;
  }
  quorvex::host::PlatformOverride linux("linux");
  EXPECT_NO_THROW(Plugin plugin(manager));
}

TEST(LinuxPlugin, ExecutableNameFollowsTheLatestBuild) {
  quorvex::plugin::PluginManager manager;
  Plugin plugin(manager);
  try {
    plugin.getExecutableName("app");
    FAIL() << "named a product without build options";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Linux platform: getExecutableName needs the build options, but "
                           "extendBuild was not called");
  }
  quorvex::cli::BuildArguments args;
  args.library = true;
  plugin.extendBuild(args);
  EXPECT_EQ(plugin.getExecutableName("app"),
            "app" + quorvex::interpreter::facts().configVar("EXT_SUFFIX").value_or(".so"));
  args.library = false;
  plugin.extendBuild(args);
  EXPECT_EQ(plugin.getExecutableName("app"), "app");
}

TEST(LinuxPlugin, MakeExecutableAddsOnlyExecuteBits) {
  TempDir dir;
  quorvex::plugin::PluginManager manager;
  Plugin plugin(manager);
  EXPECT_THROW(plugin.makeExecutable("missing"), fs::filesystem_error);
  EXPECT_FALSE(fs::exists("missing"));
  const std::pair<mode_t, mode_t> cases[] = {
      {0644, 0755}, {0600, 0711}, {04750, 04751}, {0755, 0755}};
  for (auto [before, after] : cases) {
    writeFile("exe", "#!/bin/sh\n");
    ASSERT_EQ(::chmod("exe", before), 0);
    plugin.makeExecutable("exe");
    EXPECT_EQ(modeOf("exe"), after) << std::oct << before;
  }
  // Through a link the target changes.
  ASSERT_EQ(::chmod("exe", 0600), 0);
  fs::create_symlink("exe", "link");
  plugin.makeExecutable("link");
  EXPECT_EQ(modeOf("exe"), 0711u);
}

TEST(LinuxPlugin, StartUpBlockAndInterpreterPath) {
  quorvex::plugin::PluginManager manager;
  Plugin plugin(manager);
  // The block replaces the configuration call, so it must begin with that call.
  auto text = plugin.getConfigTemplate();
  ASSERT_TRUE(text);
  auto start = text->find_first_not_of(" \t\r\n");
  ASSERT_NE(start, std::string::npos);
  EXPECT_EQ(text->compare(start, 35, "PyConfig_InitPythonConfig(&config);"), 0) << *text;

  EXPECT_EQ(plugin.getExePath("/usr/local/bin/python3.12", "python"),
            fs::path("/usr/local/bin/python"));
  // The wheel step asks with "." and keeps the last component.
  EXPECT_EQ(plugin.getExePath(".", "app"), fs::path("app"));
  EXPECT_EQ(plugin.getExePath("python3.12", "python"), fs::path("python"));
}
