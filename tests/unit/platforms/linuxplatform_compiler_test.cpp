// Compiler objects and link options of the Linux plug-in.
#include "platforms/linuxplatform.hpp"

#include "core/interpreter.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace lp = quorvex::linuxplatform;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;
using Strings = std::vector<std::string>;

TEST(LinuxCompiler, LibraryDirectoriesKeepRepeatsAndSkipEmptyValues) {
  EXPECT_EQ(lp::libraryDirsFrom("/usr/lib", "/usr/lib"), (Strings{"/usr/lib", "/usr/lib"}));
  EXPECT_EQ(lp::libraryDirsFrom("/a/config", "/a/lib"), (Strings{"/a/config", "/a/lib"}));
  EXPECT_EQ(lp::libraryDirsFrom("", std::nullopt), Strings{});
  EXPECT_EQ(lp::libraryDirsFrom(std::nullopt, "/a/lib"), Strings{"/a/lib"});
}

TEST(LinuxCompiler, LibraryNamesComeOnceInFirstOrder) {
  EXPECT_EQ(lp::libraryNamesFrom("-lcrypt -lpthread  -ldl", "-lm"),
            (Strings{"crypt", "pthread", "dl", "m", "z"}));
  EXPECT_EQ(lp::libraryNamesFrom(std::nullopt, std::nullopt), (Strings{"m", "z"}));
  // Options that name no library, and a bare "-l", add nothing.
  EXPECT_EQ(lp::libraryNamesFrom("-l -L/opt/lib -Wl,-rpath,/opt/lib\t-lz\n", "-pthread"),
            (Strings{"z", "m"}));
}

TEST(LinuxLinker, LibraryNameOfTheRuntimeFile) {
  EXPECT_EQ(lp::linkLibraryName("lib/libpython3.12.so.1.0"), "python3.12");
  EXPECT_EQ(lp::linkLibraryName("libpython3.13t.so"), "python3.13t");
}

TEST(LinuxLinker, InfoForARelativeRuntimeLibrary) {
  TempDir dir;
  fs::create_directories("py/lib");
  auto info = lp::linkerInfoFor("-Xlinker -export-dynamic", "py/lib/libpython3.12.so.1.0");
  auto resolved = fs::canonical(dir.path() / "py/lib").string();
  EXPECT_EQ(info["extraObjects"], Strings{});
  EXPECT_EQ(info["linkerArgs"], (Strings{"-Xlinker", "-export-dynamic", "-Wl,-rpath,$ORIGIN"}));
  EXPECT_EQ(info["libraryDirs"], Strings{"py/lib"});
  EXPECT_EQ(info["libraries"], Strings{"python3.12"});
  EXPECT_EQ(info["runtimeLibraryDirs"], (Strings{"$ORIGIN", resolved, "$ORIGIN/../lib"}));
  EXPECT_EQ(info["libraryLinkerArgs"], Strings{});
  EXPECT_EQ(info.size(), 6u);
}

TEST(LinuxLinker, EmptyLinkFlagsGiveNoEmptyArguments) {
  EXPECT_EQ(lp::linkerInfoFor("", "/x/libpython3.12.so")["linkerArgs"],
            Strings{"-Wl,-rpath,$ORIGIN"});
  EXPECT_EQ(lp::linkerInfoFor(" -a  -b ", "/x/libpython3.12.so")["linkerArgs"],
            (Strings{"-a", "-b", "-Wl,-rpath,$ORIGIN"}));
  EXPECT_EQ(lp::linkerInfoFor(std::nullopt, "libpython3.12.so")["libraryDirs"], Strings{"."});
}

TEST(LinuxLinker, AnswerIgnoresTheOutputNameAndNeedsARuntimeLibrary) {
  quorvex::plugin::PluginManager manager;
  lp::Plugin plugin(manager);
  EXPECT_EQ(plugin.getLinkerArgs("app", fs::path("/x/libpython3.12.so")),
            plugin.getLinkerArgs("pkg.cpython-312-x86_64-linux-gnu.so",
                                 fs::path("/x/libpython3.12.so")));
  try {
    plugin.getLinkerArgs("app", std::nullopt);
    FAIL() << "linked without a runtime library";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Linux platform: no Python runtime library to link against");
  }
}

// An executable placed in an embedded directory's bin must find the runtime library in the
// directory's lib after the pristine Python it was linked against is gone.
TEST(LinuxLinker, EmbeddedProgramFindsItsRuntimeWithoutTheBuildDirectory) {
  TempDir dir;
  writeFile("rt.c", "int runtime_answer(void) { return 42; }\n");
  writeFile("main.c", "int runtime_answer(void);\n"
                      "int main(void) { return runtime_answer() == 42 ? 0 : 3; }\n");
  fs::create_directories("build/pristine/lib");
  auto gcc = [](const Strings& args) {
    Strings argv{"gcc"};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = quorvex::process::run(argv);
    EXPECT_TRUE(result.ok()) << result.output;
  };
  gcc({"-shared", "-fPIC", "-Wl,-soname,libqvxrt3.12.so.1.0", "rt.c", "-o",
       "build/pristine/lib/libqvxrt3.12.so.1.0"});
  fs::create_symlink("libqvxrt3.12.so.1.0", "build/pristine/lib/libqvxrt3.12.so");

  auto info = lp::linkerInfoFor(std::nullopt, "build/pristine/lib/libqvxrt3.12.so");
  Strings link{"main.c", "-o", "build/app"};
  for (const auto& d : info["libraryDirs"]) link.push_back("-L" + d);
  for (const auto& l : info["libraries"]) link.push_back("-l" + l);
  for (const auto& r : info["runtimeLibraryDirs"]) link.push_back("-Wl,-rpath," + r);
  gcc(link);

  fs::create_directories("embed/bin");
  fs::create_directories("embed/lib");
  fs::copy_file("build/app", "embed/bin/app");
  fs::permissions("embed/bin/app", fs::perms::owner_all);
  fs::copy_file("build/pristine/lib/libqvxrt3.12.so.1.0", "embed/lib/libqvxrt3.12.so.1.0");
  fs::remove_all("build");

  quorvex::utils::withEnv noSearchPath("LD_LIBRARY_PATH", "");
  auto result = quorvex::process::run({(dir.path() / "embed/bin/app").string()});
  EXPECT_TRUE(result.ok()) << "exit " << result.exitCode << ": " << result.output;
}

namespace {

// An extension plug-in that answers the compile-arguments hook.
class CompileArgsPlugin : public quorvex::plugin::Plugin {
public:
  std::optional<std::vector<std::string>> getCompileArgs() override {
    return Strings{"-O3", "-g0"};
  }
};

} // namespace

TEST(LinuxCompiler, NewCompilerCarriesTheInterpreterLibrariesAndPlatformArguments) {
  quorvex::plugin::PluginManager manager;
  manager.register_(std::make_unique<lp::Plugin>(manager));
  auto compiler = manager.newCompiler(false);
  ASSERT_TRUE(compiler);
  const auto& facts = quorvex::interpreter::facts();
  EXPECT_EQ(compiler->compiler().library_dirs,
            lp::libraryDirsFrom(facts.configVar("LIBPL"), facts.configVar("LIBDIR")));
  EXPECT_EQ(compiler->compiler().libraries,
            lp::libraryNamesFrom(facts.configVar("LIBS"), facts.configVar("SYSLIBS")));
  EXPECT_EQ(compiler->_compile_args, Strings{});
  EXPECT_EQ(compiler->_compile_lib_args, Strings{"-fPIC"});

  // The link callback asks the manager, so the platform's answer arrives through it.
  compiler->_libraryPath = "/x/libpython3.12.so";
  auto info = compiler->_linker_info("app");
  EXPECT_EQ(info["libraries"], Strings{"python3.12"});
}

TEST(LinuxCompiler, NewCompilerTakesAnExtensionsCompileArguments) {
  quorvex::plugin::PluginManager manager;
  manager.register_(std::make_unique<CompileArgsPlugin>());
  manager.register_(std::make_unique<lp::Plugin>(manager));
  auto compiler = manager.newCompiler(true);
  ASSERT_TRUE(compiler);
  EXPECT_EQ(compiler->_compile_args, (Strings{"-O3", "-g0"}));
}
