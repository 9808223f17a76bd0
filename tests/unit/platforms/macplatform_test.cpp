// The macOS plug-in's answers, checked on this host through the host override, and its
// rewrite of a real Mach-O library's install name with LLVM's tools for macOS targets.
#include "platforms/macplatform.hpp"

#include "compilation/pipeline.hpp"
#include "core/host.hpp"
#include "core/utils.hpp"
#include "packaging/whl_tags.hpp"
#include "platforms/builtin.hpp"
#include "support/context.hpp"
#include "support/log_recorder.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <tuple>

#include <sys/stat.h>

namespace fs = std::filesystem;
namespace mp = quorvex::macplatform;
using Argv = std::vector<std::string>;
using quorvex::testing::writeFile;

namespace {

std::string run(const Argv& argv) {
  auto result = quorvex::process::run(argv);
  EXPECT_TRUE(result.ok()) << argv[0] << ": " << result.output;
  return result.output;
}

// The build interpreter's facts as a macOS CPython of the platform `platform` gives them.
quorvex::interpreter::Facts macFacts(const std::string& platform) {
  quorvex::interpreter::Facts facts = quorvex::testing::buildFacts();
  facts.platform = platform;
  return facts;
}

} // namespace

TEST(MacPlugin, LinkNamesTagsAndModes) {
  quorvex::testing::TempDir dir;
  quorvex::host::PlatformOverride darwin("darwin");
  quorvex::plugin::PluginManager manager;
  quorvex::Context context(manager, quorvex::testing::installedTool);
  context.setInterpreter(macFacts("macosx-11.0-arm64"));
  mp::Plugin plugin(manager);
  quorvex::options::BuildOptions options;
  plugin.extendBuild(options);
  auto exe = *plugin.getLinkerArgs("app", fs::path(".quorvex_build/libpython3.12.dylib"));
  EXPECT_EQ(exe.libraryDirs, Argv{".quorvex_build"});
  EXPECT_EQ(exe.libraries, Argv{"python3.12"});
  EXPECT_EQ(exe.runtimeLibraryDirs,
            (Argv{"@executable_path", "@executable_path/../lib", "@executable_path/../lib/app/"}));
  EXPECT_EQ(exe.linkerArgs, Argv{"-mmacosx-version-min=11.0"});
  EXPECT_EQ(mp::linkName(mp::runtimeLibraryFileName(3, 13, true)), "python3.13t");
  options.library = true;
  plugin.extendBuild(options);
  auto lib = *plugin.getLinkerArgs("pkg.so", std::nullopt);
  EXPECT_EQ(lib.libraries, Argv{});
  EXPECT_EQ(lib.libraryLinkerArgs,
            (Argv{"-undefined", "dynamic_lookup", "-mmacosx-version-min=11.0"}));

  // python.org's 3.12 and 3.13 (10_9 and 10_13 universal2) on both kinds of Mac: arm64 starts
  // at 11.0, x86_64 keeps its minimum; the deployment target says the same.
  for (auto [tag, machine, narrowed, target] :
       {std::tuple{"macosx_10_9_universal2", "arm64", "macosx_11_0_arm64", "11.0"},
        {"macosx_10_13_universal2", "AArch64", "macosx_11_0_arm64", "11.0"},
        {"macosx_10_15_universal2", "arm64", "macosx_11_0_arm64", "11.0"},
        {"macosx_10_9_universal2", "x86_64", "macosx_10_9_x86_64", "10.9"},
        {"macosx_10_13_universal2", "X86_64", "macosx_10_13_x86_64", "10.13"},
        {"macosx_12_0_universal2", "ARM64", "macosx_12_0_arm64", "12.0"},
        {"macosx_14_2_arm64", "arm64", "macosx_14_0_arm64", "14.0"},
        {"macosx_10_9_x86_64", "arm64", "macosx_10_9_x86_64", "10.9"},
        {"macosx_11_0_arm64", "x86_64", "macosx_11_0_arm64", "11.0"}}) {
    EXPECT_EQ(mp::wheelPlatformTag(tag, machine), narrowed) << tag << " on " << machine;
    EXPECT_EQ(mp::deploymentTarget(narrowed), target) << narrowed;
  }
  EXPECT_EQ(mp::wheelPlatformTag("linux_x86_64", "arm64"), "linux_x86_64");
  EXPECT_EQ(mp::wheelPlatformTag("macosx_99999999999_0_arm64", "arm64"),
            "macosx_99999999999_0_arm64");
  EXPECT_EQ(mp::deploymentTarget("linux_x86_64"), std::nullopt);

  writeFile("app", "");
  for (auto [before, after] : {std::pair{0644, 0755}, {0700, 0711}}) {
    ASSERT_EQ(::chmod("app", before), 0);
    plugin.makeExecutable("app");
    struct stat st {};
    ASSERT_EQ(::stat("app", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(after)) << std::oct << before;
  }
}

// The build directory links to the installation's library, whose install name is rewritten:
// a program there then takes that installation as its home.
TEST(MacRuntime, LinkAndInstallNameFaults) {
  quorvex::testing::TempDir dir;
  const std::string name = "libpython3.12.dylib";
  EXPECT_NE(quorvex::testing::thrownMessage([&] { mp::installRuntimeLibrary("py", "build", name); })
                .find("not found: py/lib/" + name),
            std::string::npos);
  writeFile("py/lib/" + name, "dylib");
  // What an earlier run left, a copy or a link, is replaced.
  writeFile("build/" + name, "old copy");
  Argv seen;
  quorvex::testing::LogRecorder recorder;
  auto link = mp::installRuntimeLibrary("py", "build", name, [&](const Argv& argv) {
    seen = argv;
    return quorvex::process::Result{.exitCode = 3, .signal = 0, .output = ""};
  });
  EXPECT_EQ(link, fs::path("build/" + name));
  EXPECT_EQ(fs::read_symlink(link), fs::path("../py/lib/" + name));
  EXPECT_EQ(seen, (Argv{"install_name_tool", "-id", "@rpath/" + name, "py/lib/" + name}));
  EXPECT_EQ(recorder.messages(quorvex::log::WARNING),
            Argv{"install_name_tool exited with status 3: py/lib/" + name +
                 " keeps its former install name"});

  quorvex::utils::withEnv path("PATH", (dir.path() / "build").string());
  EXPECT_NE(quorvex::testing::thrownMessage([&] { mp::installRuntimeLibrary("py", "build", name); })
                .find("'install_name_tool'"),
            std::string::npos);
  EXPECT_EQ(quorvex::testing::readFile(link), "dylib");
}

TEST(MacRuntime, RealMachOGetsARunPathInstallName) {
  quorvex::testing::TempDir dir;
  const Argv clang{"clang-19", "-target", "arm64-apple-macos11", "-fuse-ld=lld", "-nostdlib"};
  writeFile("lib.c", "int answer(void) { return 42; }\n");
  writeFile("main.c", "int answer(void);\nint main(void) { return answer(); }\n");
  for (auto made : {"py/lib", "bin", "build"}) fs::create_directories(made);
  auto dylib = clang;
  dylib.insert(dylib.end(), {"-shared", "lib.c", "-o", "py/lib/libpython3.12.dylib",
                             "-Wl,-install_name,/opt/py/lib/libpython3.12.dylib"});
  run(dylib);
  fs::create_symlink("/usr/bin/llvm-install-name-tool-19", "bin/install_name_tool");
  quorvex::utils::withEnv path("PATH", (dir.path() / "bin").string() + ":" + getenv("PATH"));
  auto linked = mp::installRuntimeLibrary("py", "build", "libpython3.12.dylib");
  EXPECT_NE(run({"llvm-otool-19", "-D", "py/lib/libpython3.12.dylib"})
                .find("\n@rpath/libpython3.12.dylib"),
            std::string::npos);
  // A program linked by the plug-in's answer records the library by its new install name.
  auto info = mp::linkerInfoFor(false, "app", linked);
  auto link = clang;
  link.insert(link.end(), {"main.c", "-o", "build/app", "-Wl,-U,dyld_stub_binder",
                           "-L" + info.libraryDirs->at(0), "-l" + info.libraries->at(0)});
  for (const auto& runPath : *info.runtimeLibraryDirs) link.push_back("-Wl,-rpath," + runPath);
  run(link);
  EXPECT_NE(run({"llvm-otool-19", "-L", "build/app"}).find("\t@rpath/libpython3.12.dylib"),
            std::string::npos);
}

// The link runs under a temporary name; the program's own run path names the program.
TEST(MacLink, TheProgramsLibDirectoryIsNamedAfterTheProduct) {
  quorvex::testing::TempDir dir;
  quorvex::host::PlatformOverride darwin("darwin");
  auto manager = quorvex::platforms::loadPlugins();
  quorvex::Context context(manager, quorvex::testing::installedTool);
  manager.extendBuild(quorvex::options::BuildOptions{});
  // A runtime whose name the plug-in turns into a link name, as it does libpython3.12.dylib.
  writeFile("rt.c", "int runtime_answer(void) { return 42; }\n");
  run({"gcc", "-shared", "-fPIC", "rt.c", "-o", "libqvxrt3.12.so"});
  writeFile("main.c", "int runtime_answer(void);\nint main(void) { return runtime_answer() - 42; }\n");
  quorvex::compiler::SourcePlan plan;
  plan.cSources = {"main.c"};
  plan.exeSuffix = "";
  fs::create_directory("out");
  auto product = quorvex::compiler::compileAndLink(context, plan, "app", false, "out", false,
                                                   [] { return fs::path("libqvxrt3.12.so"); });
  ASSERT_EQ(product, fs::path("out/app"));
  const std::string dynamic = run({"readelf", "-d", "out/app"});
  EXPECT_NE(dynamic.find("[@executable_path:@executable_path/../lib:@executable_path/../lib/app/]"),
            std::string::npos)
      << dynamic;
}

// The binaries' minimum macOS is the one their wheel's tag admits: real Mach-O libraries,
// compiled and linked with the plug-in's answers, record the version of the tag that the wheel
// gets from the same interpreter.
TEST(MacTags, BinariesRecordTheTagsMinimumMacos) {
  quorvex::testing::TempDir dir;
  quorvex::host::PlatformOverride darwin("darwin");
  writeFile("lib.c", "int answer(void) { return 42; }\n");
  for (auto [platform, architecture, tag, minimum] :
       {std::tuple{"macosx-10.9-arm64", "arm64", "macosx_11_0_arm64", "11.0"},
        {"macosx-14.2-arm64", "arm64", "macosx_14_0_arm64", "14.0"},
        {"macosx-10.13-x86_64", "x86_64", "macosx_10_13_x86_64", "10.13"}}) {
    SCOPED_TRACE(platform);
    auto manager = quorvex::platforms::loadPlugins();
    quorvex::Context context(manager, quorvex::testing::installedTool);
    context.setInterpreter(macFacts(platform));
    quorvex::options::BuildOptions options;
    options.library = true;
    manager.extendBuild(options);
    EXPECT_EQ(quorvex::whl::wheelTags(quorvex::whl::buildInterpreterValues(context.interpreter()),
                                      true, manager)
                  .platform,
              tag);

    Argv build = {"clang-19",     "-target",   std::string(architecture) + "-apple-macos",
                  "-fuse-ld=lld", "-nostdlib", "-shared",
                  "lib.c",        "-o",        "lib.so"};
    const auto compileArgs = manager.newCompiler(false)->_compile_args;
    EXPECT_NE(std::find(compileArgs.begin(), compileArgs.end(),
                        "-mmacosx-version-min=" + std::string(minimum)),
              compileArgs.end());
    build.insert(build.end(), compileArgs.begin(), compileArgs.end());
    const auto linkArgs = *manager.getLinkerArgs("lib.so", std::nullopt)->libraryLinkerArgs;
    build.insert(build.end(), linkArgs.begin(), linkArgs.end());
    run(build);
    // The linker writes LC_BUILD_VERSION ("minos"), or for old x86_64 targets
    // LC_VERSION_MIN_MACOSX ("version").
    const std::string commands = run({"llvm-otool-19", "-l", "lib.so"});
    std::smatch found;
    ASSERT_TRUE(
        std::regex_search(commands, found, std::regex("\\n +(?:minos|version) ([0-9.]+)\\n")))
        << commands;
    EXPECT_EQ(found[1].str(), minimum) << commands;
  }
}
