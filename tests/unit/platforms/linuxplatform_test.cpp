// The Linux plug-in: the hosts it accepts, a real program finding its runtime library, the
// runtime library's names, the lib-dynload copy and the wheels' policy tags.
#include "platforms/linuxplatform.hpp"

#include "core/host.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "frontend/cli.hpp"
#include "support/context.hpp"
#include "support/log_recorder.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
namespace lp = quorvex::linuxplatform;
using quorvex::plugin::PluginManager;
using quorvex::testing::readFile;
using quorvex::testing::writeFile;
using Strings = std::vector<std::string>;

TEST(LinuxPlugin, AcceptsOnlyLinuxAndNamesProductsFromTheBuildOptions) {
  PluginManager manager;
  quorvex::Context context(manager, quorvex::testing::installedTool);
  for (const char* host : {"darwin", "win32", "linux2"}) {
    quorvex::host::PlatformOverride override(host);
    EXPECT_THROW(lp::Plugin plugin(manager), std::runtime_error) << host;
  }
  lp::Plugin plugin(manager);
  EXPECT_THROW(plugin.getExecutableName("app"), std::runtime_error) << "before extendBuild";
  quorvex::cli::BuildArguments args;
  args.library = true;
  {
    quorvex::testing::LogRecorder recorder;
    plugin.extendBuild(args);
    EXPECT_TRUE(recorder.messages(quorvex::log::WARNING).empty());
    args.no_console = true;
    plugin.extendBuild(args);
    EXPECT_EQ(recorder.messages(quorvex::log::WARNING),
              Strings{"--no-console changes nothing on Linux: only a Windows program is linked "
                      "without a console window"});
  }
  EXPECT_EQ(plugin.getExecutableName("app"),
            "app" + context.interpreter().configVar("EXT_SUFFIX").value_or(".so"));
  EXPECT_EQ(lp::auditCommand("libpython3.12.so", "my wheels/a.whl", "it's out"),
            "auditwheel repair --exclude libpython3.12.so --exclude libpython3.12.so.1.0 "
            "'my wheels/a.whl' -w 'it'\"'\"'s out'");
}

// An executable placed in an embedded directory's bin loads the runtime library in the
// directory's lib, whether the pristine Python it was linked against is still there or gone.
TEST(LinuxLinker, EmbeddedProgramLoadsItsOwnRuntime) {
  quorvex::testing::TempDir dir;
  writeFile("main.c", "int runtime_answer(void);\n"
                      "int main(void) { return runtime_answer() == 42 ? 0 : 3; }\n");
  fs::create_directories("build/pristine/lib");
  auto gcc = [](Strings argv) {
    argv.insert(argv.begin(), "gcc");
    auto result = quorvex::process::run(argv);
    ASSERT_TRUE(result.ok()) << result.output;
  };
  auto runtime = [&](int answer) {
    writeFile("rt.c", "int runtime_answer(void) { return " + std::to_string(answer) + "; }\n");
    gcc({"-shared", "-fPIC", "-Wl,-soname,libqvxrt3.12.so.1.0", "rt.c", "-o",
         "build/pristine/lib/libqvxrt3.12.so.1.0"});
  };
  runtime(42);
  fs::create_symlink("libqvxrt3.12.so.1.0", "build/pristine/lib/libqvxrt3.12.so");
  auto info = lp::linkerInfoFor(std::nullopt, "build/pristine/lib/libqvxrt3.12.so");
  Strings link{"main.c", "-o", "build/app", "-L" + info.libraryDirs->at(0),
               "-l" + info.libraries->at(0)};
  for (const auto& r : *info.runtimeLibraryDirs) link.push_back("-Wl,-rpath," + r);
  gcc(link);
  fs::create_directories("embed/bin");
  fs::create_directories("embed/lib");
  fs::copy_file("build/app", "embed/bin/app");
  fs::copy_file("build/pristine/lib/libqvxrt3.12.so.1.0", "embed/lib/libqvxrt3.12.so.1.0");
  runtime(7); // loading the build directory's runtime now fails the program
  quorvex::utils::withEnv noSearchPath("LD_LIBRARY_PATH", "");
  for (bool buildDirectoryGone : {false, true}) {
    if (buildDirectoryGone) fs::remove_all("build");
    auto result = quorvex::process::run({(dir.path() / "embed/bin/app").string()});
    EXPECT_TRUE(result.ok()) << "build directory gone: " << buildDirectoryGone;
  }
}

TEST(LinuxRuntime, LibraryFoundInCandidateOrderAndCarriedOnceUnderItsSoname) {
  quorvex::testing::TempDir dir;
  writeFile("py/lib/libpython3.12.so.1.0", "lib");
  fs::create_symlink("gone", "py/lib/libpython3.12.so"); // a dangling link is passed over
  EXPECT_EQ(lp::findRuntimeLibrary("py", "3.12"), fs::path("py/lib/libpython3.12.so.1.0"));
  writeFile("ft/lib/libpython3.13t.so", "ft");
  EXPECT_EQ(lp::findRuntimeLibrary("ft", "3.13"), fs::path("ft/lib/libpython3.13t.so"));
  fs::create_directories("empty/lib");
  EXPECT_THROW(lp::findRuntimeLibrary("empty", "3.12"), fs::filesystem_error);

  // Once, under the soname the program loads, in a directory of the project's own that the
  // wheel's program reaches from the scripts directory.
  const std::pair<std::string, Strings> cases[] = {
      {"libpython3.12.so", {"app-1.0.data/data/lib/app.libs/libpython3.12.so.1.0"}},
      {"libpython3.13t.so.1.0", {"app-1.0.data/data/lib/app.libs/libpython3.13t.so.1.0"}}};
  for (const auto& [file, names] : cases) {
    writeFile(file, "bytes");
    Strings paths;
    for (const auto& record : lp::runtimeLibraryRecords("app", "1.0", file))
      paths.push_back(record.path);
    EXPECT_EQ(paths, names);
  }
  EXPECT_EQ(lp::shippedRunPath(quorvex::plugin::Shipment::wheel, "app"), "$ORIGIN/../lib/app.libs");
  EXPECT_EQ(lp::shippedRunPath(quorvex::plugin::Shipment::embeddedDirectory, "app"),
            "$ORIGIN/../lib");
}

TEST(LinuxRuntime, DynloadMergesIntoTheEmbeddedDirectory) {
  quorvex::testing::TempDir dir;
  writeFile("host/_ssl.so", "ssl v1");
  writeFile("host/sub/_x.so", "x");
  fs::create_symlink("_ssl.so", "host/_ssl_link.so");
  fs::permissions("host/_ssl.so", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(lp::copyDynload("host", "embed", "3.12"), fs::path("embed/bin/python"));
  const fs::path target = "embed/lib/python3.12/lib-dynload";
  EXPECT_EQ(readFile(target / "sub/_x.so"), "x");
  EXPECT_FALSE(fs::is_symlink(target / "_ssl_link.so"));
  // A second run refreshes copied files (even read-only ones) and keeps extra files.
  fs::permissions("host/_ssl.so", fs::perms::owner_all);
  writeFile("host/_ssl.so", "ssl v2");
  writeFile(target / "extra.so", "mine");
  lp::copyDynload("host", "embed", "3.12");
  EXPECT_EQ(readFile(target / "_ssl.so"), "ssl v2");
  EXPECT_EQ(readFile(target / "extra.so"), "mine");
}

TEST(LinuxRunPaths, AbsoluteEntriesLeadIntoTheEmbeddedDirectoryOrGo) {
  quorvex::testing::TempDir dir;
  const fs::path embed = fs::current_path() / "embed";
  const fs::path dynload = embed / "lib/python3.12/lib-dynload";
  fs::create_directories(dynload);
  const Strings built = {"/root/.pyenv/versions/3.12.1/lib", "$ORIGIN/x",
                         "/usr/lib/x86_64-linux-gnu", "/opt/other/lib/", "relative"};
  EXPECT_EQ(lp::relocatedRunPath(built, dynload, embed),
            (Strings{"$ORIGIN/../..", "$ORIGIN/x", "relative"}));
  EXPECT_EQ(lp::relocatedRunPath(built, embed / "lib", embed),
            (Strings{"$ORIGIN", "$ORIGIN/x", "relative"}));
  // The longest tail that the directory holds, from its top.
  EXPECT_EQ(lp::relocatedRunPath({"/b/lib/python3.12/lib-dynload", "/b/python3.12/lib-dynload"},
                                 embed / "bin", embed),
            (Strings{"$ORIGIN/../lib/python3.12/lib-dynload"}));

  // Read from real files, DT_RPATH told apart from DT_RUNPATH; no run path for other files.
  writeFile("m.c", "int f(void) { return 1; }\n");
  for (const char* tags : {"--enable-new-dtags", "--disable-new-dtags"}) {
    const std::string link = std::string("gcc -shared -fPIC -o m.so m.c -Wl,") + tags +
                             " -Wl,-rpath,'/a/lib:$ORIGIN'";
    ASSERT_EQ(std::system(link.c_str()), 0) << link;
    const auto runPath = lp::readRunPath("m.so");
    ASSERT_TRUE(runPath.has_value()) << tags;
    EXPECT_EQ(runPath->entries, (Strings{"/a/lib", "$ORIGIN"}));
    EXPECT_EQ(runPath->legacy, std::string(tags) == "--disable-new-dtags");
  }
  ASSERT_EQ(std::system("gcc -c -o m.o m.c"), 0);
  EXPECT_FALSE(lp::readRunPath("m.o").has_value()) << "an object file is no loaded file";
  EXPECT_FALSE(lp::readRunPath("m.c").has_value());
  // A shared object's header, cut off where its section table's place would follow.
  writeFile("cut.so",
            std::string("\x7f" "ELF\x02\x01\x01", 7) + std::string(9, '\0') + "\x03");
  EXPECT_THROW(lp::readRunPath("cut.so"), std::runtime_error);
}

TEST(LinuxWheel, PolicyTagsOfExecutableWheels) {
  const std::string x86 = "app-1.0-cp312-cp312-linux_x86_64.whl";
  const std::tuple<std::string, std::optional<std::string>, std::string> cases[] = {
      {x86, "manylinux_2_28",
       "app-1.0-cp312-cp312-manylinux2014_x86_64.manylinux_2_17_x86_64."
       "manylinux_2_28_x86_64.whl"},
      {"app-1.0-cp312-cp312-linux_aarch64.whl", "musllinux_1_2",
       "app-1.0-cp312-cp312-musllinux_1_2_aarch64.whl"},
      {x86, "manylinux2014", x86},
      {x86, std::nullopt, x86},
      {"app-1.0-cp312-cp312-linux_riscv64.whl", "manylinux_2_28",
       "app-1.0-cp312-cp312-linux_riscv64.whl"}};
  for (const auto& [wheel, policy, expected] : cases)
    EXPECT_EQ(lp::policyWheelName(wheel, policy), expected);
}
