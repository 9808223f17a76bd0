// The Linux plug-in's pristine interpreter selector, runtime library lookup, wheel copies of
// the library and lib-dynload copy.
#include "platforms/linuxplatform.hpp"

#include "core/interpreter.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace lp = quorvex::linuxplatform;
using quorvex::testing::readFile;
using quorvex::testing::writeFile;

TEST(LinuxRuntime, InstallSelector) {
  auto plain = lp::installSelectorFor(3, 12, 4, false);
  EXPECT_EQ(plain.installSelector + " " + plain.orgVersionName, "3.12 3.12.4");
  auto freeThreaded = lp::installSelectorFor(3, 13, 1, true);
  EXPECT_EQ(freeThreaded.installSelector + " " + freeThreaded.orgVersionName,
            "3.13+freethreaded 3.13.1");
}

TEST(LinuxRuntime, RuntimeLibraryCandidateOrder) {
  quorvex::testing::TempDir dir;
  // A dangling link named like the first candidate is passed over.
  writeFile("py/lib/libpython3.12.so.1.0", "lib");
  fs::create_symlink("gone", "py/lib/libpython3.12.so");
  EXPECT_EQ(lp::findRuntimeLibrary("py", "3.12"), fs::path("py/lib/libpython3.12.so.1.0"));
  fs::remove("py/lib/libpython3.12.so");
  fs::create_symlink("libpython3.12.so.1.0", "py/lib/libpython3.12.so");
  EXPECT_EQ(lp::findRuntimeLibrary("py", "3.12"), fs::path("py/lib/libpython3.12.so"));

  writeFile("ft/lib/libpython3.13t.so", "ft");
  EXPECT_EQ(lp::findRuntimeLibrary("ft", "3.13"), fs::path("ft/lib/libpython3.13t.so"));
  writeFile("other/lib/libpython3.11.so.1.0", "a");
  writeFile("other/lib/libpython3.10.so.1.0", "b");
  EXPECT_EQ(lp::findRuntimeLibrary("other", "3.12"), fs::path("other/lib/libpython3.10.so.1.0"));
  writeFile("ver/lib/libpython3.12.so.1", "a");
  writeFile("ver/lib/libpython3.11.so", "b");
  EXPECT_EQ(lp::findRuntimeLibrary("ver", "3.12"), fs::path("ver/lib/libpython3.12.so.1"));

  fs::create_directories("empty/lib");
  for (const std::string pristine : {"empty", "missing"}) {
    try {
      lp::findRuntimeLibrary(pristine, "3.12");
      FAIL() << "found a library in " << pristine;
    } catch (const fs::filesystem_error& e) {
      EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
      EXPECT_EQ(std::string(e.what()),
                "filesystem error: Could not locate libpython shared library under " + pristine +
                    "/lib: No such file or directory [" + pristine + "/lib]");
    }
  }
}

TEST(LinuxRuntime, WheelCarriesTheLibraryUnderEachName) {
  quorvex::testing::TempDir dir;
  const std::string bytes("\x7f" "ELF\0bytes", 10);
  struct Case {
    std::string file;
    std::vector<std::string> names;
  };
  for (const Case& c :
       {Case{"libpython3.12.so.1.0", {"libpython3.12.so.1.0", "libpython3.12.so"}},
        Case{"libpython3.13t.so", {"libpython3.13t.so", "libpython3.13t.so.1.0"}},
        Case{"libpython3.12.so.1",
             {"libpython3.12.so.1", "libpython3.12.so", "libpython3.12.so.1.0"}}}) {
    writeFile(c.file, bytes);
    auto records = lp::runtimeLibraryRecords("app", "1.0", c.file);
    ASSERT_EQ(records.size(), c.names.size()) << c.file;
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(records[i].path, "app-1.0.data/scripts/" + c.names[i]);
      EXPECT_EQ(records[i].data, bytes);
    }
  }
  EXPECT_ANY_THROW(lp::runtimeLibraryRecords("app", "1.0", "libpython9.9.so"));
}

TEST(LinuxRuntime, DynloadMergesIntoTheEmbeddedDirectory) {
  quorvex::testing::TempDir dir;
  EXPECT_EQ(lp::copyDynload("host", "embed", "3.12"), fs::path("embed/bin/python"));
  EXPECT_FALSE(fs::exists("embed")); // no host directory: nothing touched

  writeFile("host/_ssl.so", "ssl v1");
  writeFile("host/sub/_x.so", "x");
  fs::create_symlink("_ssl.so", "host/_ssl_link.so");
  fs::permissions("host/_ssl.so", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(lp::copyDynload("host", "embed", "3.12"), fs::path("embed/bin/python"));
  const fs::path target = "embed/lib/python3.12/lib-dynload";
  EXPECT_EQ(readFile(target / "sub/_x.so"), "x");
  EXPECT_FALSE(fs::is_symlink(target / "_ssl_link.so"));
  EXPECT_EQ(readFile(target / "_ssl_link.so"), "ssl v1");
  EXPECT_EQ(fs::status(target / "_ssl.so").permissions(),
            fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(fs::last_write_time(target / "_ssl.so"), fs::last_write_time("host/_ssl.so"));

  // A second run refreshes copied files (even read-only ones) and keeps extra files.
  fs::permissions("host/_ssl.so", fs::perms::owner_all);
  writeFile("host/_ssl.so", "ssl v2");
  writeFile(target / "extra.so", "mine");
  lp::copyDynload("host", "embed", "3.12");
  EXPECT_EQ(readFile(target / "_ssl.so"), "ssl v2");
  EXPECT_EQ(readFile(target / "extra.so"), "mine");
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 4);
}

TEST(LinuxRuntime, EnsureDynloadCopiesTheBuildInterpretersModules) {
  quorvex::testing::TempDir dir;
  quorvex::plugin::PluginManager manager;
  lp::Plugin plugin(manager);
  const auto& facts = quorvex::interpreter::facts();
  auto version = "python" + std::to_string(facts.major) + "." + std::to_string(facts.minor);
  auto host = fs::path(facts.basePrefix) / "lib" / version / "lib-dynload";
  ASSERT_TRUE(fs::is_directory(host)) << host;
  EXPECT_EQ(plugin.ensureDynload("embed"), fs::path("embed/bin/python"));
  for (const auto& entry : fs::directory_iterator(host))
    EXPECT_TRUE(fs::exists("embed/lib" / fs::path(version) / "lib-dynload" /
                           entry.path().filename()))
        << entry.path();
}
