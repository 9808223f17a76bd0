#include "core/ccompiler.hpp"
#include "core/interpreter.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"
#include "unit/core/log_recorder.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace quorvex;
namespace qt = quorvex::testing;
using ccompiler::LinkArgs;
using Argv = std::vector<std::string>;

namespace {

// A compiler object of `kind` whose command lines are recorded instead of run.
std::unique_ptr<ccompiler::CCompiler> recordingCompiler(const std::string& kind,
                                                        std::vector<Argv>& commands) {
  auto compiler = ccompiler::new_compiler(kind);
  compiler->set_spawner([&commands](const Argv& argv) { commands.push_back(argv); });
  return compiler;
}

std::string run(const Argv& argv) {
  process::Result result = process::run(argv);
  EXPECT_TRUE(result.ok()) << argv.front() << ": " << result.output;
  return result.output;
}

} // namespace

TEST(UnixCompiler, CompilesAndLinksARealProgramAgainstARealSharedObject) {
  qt::TempDir dir;
  qt::writeFile("src/greet.c", "const char* greeting(void) { return GREETING; }\n");
  qt::writeFile("src/main.c", "#include <stdio.h>\nconst char* greeting(void);\n"
                                   "int main(void) { puts(greeting()); return 0; }\n");
  auto compiler = ccompiler::new_compiler("unix");
  compiler->define_macro("GREETING", std::string("\"hello from a shared object\""));

  const Argv libObjects = compiler->compile({"src/greet.c"}, {.output_dir = "build/obj"});
  ASSERT_EQ(libObjects, Argv{"build/obj/src/greet.o"});
  compiler->link_shared_object(libObjects, "libgreet.so", {.output_dir = "build/lib"});
  ASSERT_TRUE(fs::exists("build/lib/libgreet.so"));

  const Argv objects = compiler->compile({"src/main.c"});
  ASSERT_EQ(objects, Argv{"src/main.o"});
  const std::string libDir = (dir.path() / "build/lib").string();
  compiler->link_executable(objects, "greeter",
                            {.output_dir = "build/bin",
                             .libraries = {"greet"},
                             .library_dirs = {libDir},
                             .runtime_library_dirs = {libDir}});
  EXPECT_EQ(run({(dir.path() / "build/bin/greeter").string()}), "hello from a shared object\n");
}

TEST(UnixCompiler, LogsEachCommandLineAndNamesItWhenTheRunFails) {
  qt::TempDir dir;
  qt::writeFile("bad.c", "this is not C\n");
  auto compiler = ccompiler::new_compiler("unix");
  qt::LogRecorder recorder;
  try {
    compiler->compile({"bad.c"});
    FAIL() << "a failing compile must throw";
  } catch (const ccompiler::CompileError& error) {
    const std::vector<std::string> logged = recorder.messages(log::INFO);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_TRUE(logged[0].ends_with(" -c bad.c -o bad.o")) << logged[0];
    EXPECT_EQ(std::string(error.what()), "command '" + logged[0] + "' failed with exit code 1");
  }

  try {
    compiler->link_executable({"missing.o"}, "prog");
    FAIL() << "a failing link must throw";
  } catch (const ccompiler::LinkError& error) {
    EXPECT_TRUE(std::string(error.what()).ends_with("missing.o -o prog' failed with exit code 1"))
        << error.what();
  }
}

TEST(UnixCompiler, TakesProgramsFromTheInterpreterWithTheEnvironmentOnTop) {
  const interpreter::Facts& facts = interpreter::facts();
  // Compile, shared-object link and executable link, under the given environment.
  auto commandsWith = [](std::vector<std::pair<const char*, const char*>> environment) {
    std::vector<std::unique_ptr<utils::withEnv>> guards;
    for (auto [name, value] : environment)
      guards.push_back(std::make_unique<utils::withEnv>(name, value));
    std::vector<Argv> commands;
    auto compiler = recordingCompiler("unix", commands);
    compiler->compile({"a.c"});
    compiler->link_shared_object({"a.o"}, "a.so");
    compiler->link_executable({"a.o"}, "a");
    return commands;
  };
  const auto contains = [](const Argv& argv, const std::string& word) {
    return std::find(argv.begin(), argv.end(), word) != argv.end();
  };

  const std::string cc = facts.configVar("CC").value_or("cc");
  std::vector<Argv> commands = commandsWith({});
  EXPECT_EQ(commands[0].front(), cc);
  EXPECT_TRUE(contains(commands[0], facts.configVar("CCSHARED").value_or("-fPIC")));
  EXPECT_EQ(commands[2], (Argv{cc, "a.o", "-o", "a"}));

  // The configured LDSHARED starts with CC, so the new compiler takes its place there too.
  commands = commandsWith(
      {{"CC", "ccache-gcc"}, {"CFLAGS", "-DFROM_ENV"}, {"LDFLAGS", "-Wl,--no-undefined"}});
  EXPECT_EQ(commands[0].front(), "ccache-gcc");
  EXPECT_TRUE(contains(commands[0], "-DFROM_ENV"));
  EXPECT_EQ(commands[1].front(), "ccache-gcc");
  EXPECT_TRUE(contains(commands[1], "-Wl,--no-undefined"));
  EXPECT_EQ(commands[2], (Argv{"ccache-gcc", "a.o", "-o", "a"}));

  EXPECT_EQ(commandsWith({{"LDSHARED", "ld.lld -shared"}})[1],
            (Argv{"ld.lld", "-shared", "a.o", "-o", "a.so"}));
}

TEST(UnixCompiler, LinkCommandOrderAndObjectNames) {
  std::vector<Argv> commands;
  auto compiler = recordingCompiler("unix", commands);
  // setuptools' spelling: RUNPATH with the GNU linker, which LD_LIBRARY_PATH may override.
  const std::string rpath = interpreter::facts().configVar("GNULD") == "yes"
                                ? "-Wl,--enable-new-dtags,-rpath,"
                                : "-Wl,-R";
  compiler->add_library("z");
  compiler->add_library_dir("/own/lib");
  compiler->add_runtime_library_dir("/own/run");
  compiler->link_executable({"a.o", "b.o"}, "prog",
                            {.output_dir = "out",
                             .libraries = {"python3.12"},
                             .library_dirs = {"/py/lib"},
                             .runtime_library_dirs = {"$ORIGIN"},
                             .debug = 1,
                             .extra_preargs = {"-Xlinker", "-export-dynamic"},
                             .extra_postargs = {"-s"}});
  ASSERT_EQ(commands.size(), 1u);
  const Argv tail(commands[0].begin() + 1, commands[0].end());
  EXPECT_EQ(tail, (Argv{"-Xlinker", "-export-dynamic", "-g", "a.o", "b.o", "-L/py/lib",
                        "-L/own/lib", rpath + "$ORIGIN", rpath + "/own/run", "-lpython3.12", "-lz",
                        "-o", "out/prog", "-s"}));

  EXPECT_EQ(compiler->object_filename("pkg/mod.c", std::nullopt), "pkg/mod.o");
  EXPECT_EQ(compiler->object_filename("/abs/mod.c", std::string("build")), "build/abs/mod.o");
  try {
    compiler->compile({"notes.txt"});
    FAIL() << "an unknown suffix must throw";
  } catch (const ccompiler::CompileError& error) {
    EXPECT_EQ(std::string(error.what()), "unknown file type '.txt' (from 'notes.txt')");
  }
  EXPECT_THROW(ccompiler::new_compiler("borland"), std::invalid_argument);
}

// The Windows kinds are driven on this host with recorded commands: what matters is where
// objects and outputs go and that Windows, having no run-time search path, gets none.
TEST(WindowsCompilers, ObjectAndOutputNames) {
  qt::TempDir dir;
  const auto mentions = [](const std::vector<Argv>& commands, const std::string& text) {
    for (const Argv& argv : commands)
      for (const std::string& word : argv)
        if (word.find(text) != std::string::npos) return true;
    return false;
  };
  std::vector<Argv> msvc;
  auto cl = recordingCompiler("msvc", msvc);
  EXPECT_EQ(cl->compile({"src/app.c", "src/app.rc"}, {.output_dir = "obj"}),
            (Argv{"obj/src/app.obj", "obj/src/app.res"}));
  EXPECT_TRUE(fs::is_directory("obj/src"));
  cl->link_executable({"obj/src/app.obj"}, "app", {.runtime_library_dirs = {"C:/run"}});
  LinkArgs dllArgs{.output_dir = "out"};
  dllArgs.export_symbols = {"PyInit_mod"};
  cl->link_shared_object({"obj/src/app.obj"}, "mod.pyd", dllArgs);
  ASSERT_EQ(msvc.size(), 4u);
  EXPECT_EQ(msvc[2].back(), "/OUT:app.exe");
  EXPECT_EQ(Argv(msvc[3].end() - 3, msvc[3].end()),
            (Argv{"obj/src/app.obj", "/OUT:out/mod.pyd", "/IMPLIB:obj/src/mod.lib"}));
  EXPECT_TRUE(mentions(msvc, "/EXPORT:PyInit_mod"));
  EXPECT_FALSE(mentions(msvc, "C:/run"));

  utils::withEnv cc("CC", "x86_64-w64-mingw32-clang");
  std::vector<Argv> mingw;
  auto gcc = recordingCompiler("mingw32", mingw);
  const Argv objects = gcc->compile({"app.c", "app.rc"});
  EXPECT_EQ(objects, (Argv{"app.o", "app.rc.o"}));
  gcc->link_executable(objects, "app", {.output_dir = "out", .runtime_library_dirs = {"C:/run"}});
  ASSERT_EQ(mingw.size(), 3u);
  EXPECT_EQ(mingw[0].front(), "x86_64-w64-mingw32-clang");
  EXPECT_EQ(mingw[2].back(), "out/app.exe");
  EXPECT_FALSE(mentions(mingw, "C:/run"));
}
