// Compiler objects and link options of the Linux plug-in.
#include "platforms/linuxplatform.hpp"

#include "core/interpreter.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace lp = quorvex::linuxplatform;
using quorvex::testing::writeFile;
using Strings = std::vector<std::string>;

TEST(LinuxCompiler, LibraryDirectoriesAndNames) {
  EXPECT_EQ(lp::libraryDirsFrom("/usr/lib", "/usr/lib"), (Strings{"/usr/lib", "/usr/lib"}));
  EXPECT_EQ(lp::libraryDirsFrom("", std::nullopt), Strings{});
  EXPECT_EQ(lp::libraryNamesFrom("-lcrypt -lpthread  -ldl", "-lm"),
            (Strings{"crypt", "pthread", "dl", "m", "z"}));
  EXPECT_EQ(lp::libraryNamesFrom(std::nullopt, std::nullopt), (Strings{"m", "z"}));
  // Options that name no library, and a bare "-l", add nothing.
  EXPECT_EQ(lp::libraryNamesFrom("-l -L/opt/lib -Wl,-rpath,/opt/lib\t-lz\n", "-pthread"),
            (Strings{"z", "m"}));
}

TEST(LinuxLinker, InfoForTheRuntimeLibrary) {
  EXPECT_EQ(lp::linkLibraryName("libpython3.13t.so"), "python3.13t");
  quorvex::testing::TempDir dir;
  fs::create_directories("py/lib");
  EXPECT_EQ(lp::linkerInfoFor("-Xlinker -export-dynamic", "py/lib/libpython3.12.so.1.0"),
            (quorvex::plugin::LinkerInfo{
                .extraObjects = Strings{},
                .linkerArgs = Strings{"-Xlinker", "-export-dynamic", "-Wl,-rpath,$ORIGIN"},
                .libraryDirs = Strings{"py/lib"},
                .libraries = Strings{"python3.12"},
                .runtimeLibraryDirs =
                    Strings{"$ORIGIN", "$ORIGIN/../lib", fs::canonical("py/lib").string()},
                .libraryLinkerArgs = Strings{}}));
  // Blank link flags give no empty arguments.
  EXPECT_EQ(lp::linkerInfoFor(" -a  -b ", "/x/libpython3.12.so").linkerArgs,
            (Strings{"-a", "-b", "-Wl,-rpath,$ORIGIN"}));
  EXPECT_EQ(lp::linkerInfoFor(std::nullopt, "libpython3.12.so").libraryDirs, Strings{"."});

  quorvex::plugin::PluginManager manager;
  lp::Plugin plugin(manager);
  try {
    plugin.getLinkerArgs("app", std::nullopt);
    FAIL() << "linked without a runtime library";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Linux platform: no Python runtime library to link against");
  }
}

// An executable placed in an embedded directory's bin loads the runtime library in the
// directory's lib, whether the pristine Python it was linked against is still there or gone.
TEST(LinuxLinker, EmbeddedProgramLoadsItsOwnRuntime) {
  quorvex::testing::TempDir dir;
  writeFile("rt.c", "int runtime_answer(void) { return 42; }\n");
  writeFile("main.c", "int runtime_answer(void);\n"
                      "int main(void) { return runtime_answer() == 42 ? 0 : 3; }\n");
  fs::create_directories("build/pristine/lib");
  auto gcc = [](Strings argv) {
    argv.insert(argv.begin(), "gcc");
    auto result = quorvex::process::run(argv);
    ASSERT_TRUE(result.ok()) << result.output;
  };
  gcc({"-shared", "-fPIC", "-Wl,-soname,libqvxrt3.12.so.1.0", "rt.c", "-o",
       "build/pristine/lib/libqvxrt3.12.so.1.0"});
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
  // The build directory's runtime now answers otherwise: loading it would fail the program.
  writeFile("rt.c", "int runtime_answer(void) { return 7; }\n");
  gcc({"-shared", "-fPIC", "-Wl,-soname,libqvxrt3.12.so.1.0", "rt.c", "-o",
       "build/pristine/lib/libqvxrt3.12.so.1.0"});

  quorvex::utils::withEnv noSearchPath("LD_LIBRARY_PATH", "");
  for (bool buildDirectoryGone : {false, true}) {
    if (buildDirectoryGone) fs::remove_all("build");
    auto result = quorvex::process::run({(dir.path() / "embed/bin/app").string()});
    EXPECT_TRUE(result.ok()) << "build directory gone: " << buildDirectoryGone << ", exit "
                             << result.exitCode << ": " << result.output;
  }
}

namespace {

// An extension plug-in that answers the compile-arguments hook.
class CompileArgsPlugin : public quorvex::plugin::Plugin {
public:
  std::optional<std::vector<std::string>> getCompileArgs() override {
    return Strings{"-O3"};
  }
};

} // namespace

TEST(LinuxCompiler, NewCompilerCarriesTheInterpreterLibrariesAndPlatformArguments) {
  quorvex::plugin::PluginManager manager;
  manager.register_(std::make_unique<lp::Plugin>(manager));
  auto compiler = manager.newCompiler(false);
  ASSERT_TRUE(compiler);
  const auto& facts = quorvex::interpreter::facts();
  EXPECT_EQ(compiler->compiler().libraries,
            lp::libraryNamesFrom(facts.configVar("LIBS"), facts.configVar("SYSLIBS")));
  EXPECT_EQ(compiler->_compile_args, Strings{"-g0"}) << "no debug information by default";
  EXPECT_EQ(compiler->_compile_lib_args, Strings{"-fPIC"});
  // The link callback asks the manager, so the platform's answer arrives through it.
  compiler->_libraryPath = "/x/libpython3.12.so";
  EXPECT_EQ(compiler->_linker_info("app").libraries, Strings{"python3.12"});

  quorvex::plugin::PluginManager withArgs;
  withArgs.register_(std::make_unique<CompileArgsPlugin>());
  withArgs.register_(std::make_unique<lp::Plugin>(withArgs));
  auto tuned = withArgs.newCompiler(true);
  ASSERT_TRUE(tuned);
  EXPECT_EQ(tuned->_compile_args, (Strings{"-O3", "-g0"}));
  quorvex::utils::withEnv debug("QUORVEX_DEBUG_INFO", "1");
  EXPECT_EQ(withArgs.newCompiler(true)->_compile_args, Strings{"-O3"});
}
