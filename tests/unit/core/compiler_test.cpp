// The compiler layer on real programs: gcc through the compiler object, a program embedding
// CPython through the platform wrapper, and the macros that decide the limited API.
#include "core/ccompiler.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/context.hpp"
#include "support/log_recorder.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace quorvex;
namespace qt = quorvex::testing;
using Argv = std::vector<std::string>;

TEST(UnixCompiler, BuildsAProgramAgainstASharedObjectAndNamesAFailingCommand) {
  qt::TempDir dir;
  qt::writeFile("src/greet.c", "const char* greeting(void) { return GREETING; }\n");
  qt::writeFile("src/main.c", "#include <stdio.h>\nconst char* greeting(void);\n"
                              "int main(void) { puts(greeting()); return 0; }\n");
  auto compiler = ccompiler::new_compiler("unix", qt::buildFacts());
  compiler->define_macro("GREETING", std::string("\"hello from a shared object\""));
  const Argv libObjects = compiler->compile({"src/greet.c"}, {.output_dir = "build/obj"});
  ASSERT_EQ(libObjects, Argv{"build/obj/src/greet.o"});
  compiler->link_shared_object(libObjects, "libgreet.so", {.output_dir = "build/lib"});
  const std::string libDir = (dir.path() / "build/lib").string();
  compiler->link_executable(compiler->compile({"src/main.c"}), "greeter",
                            {.output_dir = "build/bin",
                             .libraries = {"greet"},
                             .library_dirs = {libDir},
                             .runtime_library_dirs = {libDir}});
  const auto result = process::run({(dir.path() / "build/bin/greeter").string()});
  EXPECT_EQ(result.output, "hello from a shared object\n");

  qt::writeFile("bad.c", "this is not C\n");
  try {
    compiler->compile({"bad.c"});
    FAIL() << "a failing compile must throw";
  } catch (const ccompiler::CompileError& error) {
    EXPECT_TRUE(std::string(error.what()).ends_with(" -c bad.c -o bad.o' failed with exit code 1"))
        << error.what();
  }
  EXPECT_THROW(compiler->compile({"notes.txt"}), ccompiler::CompileError);
}

// The stable ABI is asked for exactly where the wheel is tagged abi3.
TEST(ConfigureCompiler, MacrosFollowNoInitVersionAndBuildMode) {
  using Macros = std::vector<std::pair<std::string, std::optional<std::string>>>;
  plugin::PluginManager none;
  auto settings = [&](bool noInit, int minor, bool freeThreaded) {
    Context context(none, qt::installedTool);
    context.setInterpreter({.major = 3,
                            .minor = minor,
                            .paths = {{"include", "/py/include"}},
                            .configVars = {{"Py_GIL_DISABLED", freeThreaded ? 1 : 0}}});
    auto compiler = ccompiler::new_compiler("unix", qt::buildFacts());
    utils::configureCompiler(context, *compiler, noInit);
    EXPECT_EQ(compiler->include_dirs, Argv{"/py/include"});
    Macros list;
    for (const auto& macro : compiler->macros) list.emplace_back(macro.name, macro.value);
    return list;
  };
  const std::pair<std::string, std::optional<std::string>> ndebug{"NDEBUG", std::nullopt},
      strings{"CYTHON_COMPRESS_STRINGS", "0"};
  EXPECT_EQ(settings(true, 12, false),
            (Macros{ndebug, {"CYTHON_NO_PYINIT_EXPORT", "1"}, strings}));
  EXPECT_EQ(settings(false, 12, false),
            (Macros{ndebug, strings, {"Py_LIMITED_API", std::to_string(0x030C0000)}}));
  EXPECT_EQ(settings(false, 11, false).back().second, std::to_string(0x030B0000));
  EXPECT_EQ(settings(false, 10, false), (Macros{ndebug, strings}));
  EXPECT_EQ(settings(false, 13, true), (Macros{ndebug, strings, {"Py_GIL_DISABLED", "1"}}));
}

// The platform's share merged into the caller's link: its extra object linked in, libraries
// and directories without repeats, pre-arguments in order; a failed link says so on stderr.
TEST(PlatformCompiler, BuildsAndRunsAProgramEmbeddingCPython) {
  qt::TempDir dir;
  plugin::PluginManager none;
  Context context(none, qt::installedTool);
  const interpreter::Facts& facts = context.interpreter();
  const std::string libDir = facts.configVar("LIBDIR").value();
  const std::string ldLibrary = facts.configVar("LDLIBRARY").value(); // libpython3.12.so
  const std::string libName = ldLibrary.substr(3, ldLibrary.find(".so") - 3);
  qt::writeFile("embed/main.c", "#include <Python.h>\n"
                                "const char* statement(void);\n"
                                "int main(void) {\n"
                                "  Py_Initialize();\n"
                                "  PyRun_SimpleString(statement());\n"
                                "  return Py_FinalizeEx() < 0 ? 120 : 0;\n"
                                "}\n");
  qt::writeFile("embed/extra.c", "const char* statement(void) {\n"
                                 "  return \"import sys; print(6 * 7, sys.version_info[:2])\";\n"
                                 "}\n");
  auto raw = ccompiler::new_compiler("unix", qt::buildFacts());
  utils::configureCompiler(context, *raw, true);
  Argv extraObjects = raw->compile({"embed/extra.c"});
  utils::PlatformCompiler compiler(
      std::move(raw), {}, {"-fPIC"}, [&](const std::string&, const std::optional<fs::path>&) {
        return plugin::LinkerInfo{.extraObjects = extraObjects,
                                  .linkerArgs = Argv{"-Wl,--as-needed"},
                                  .libraryDirs = Argv{libDir, libDir},
                                  .libraries = Argv{libName, "m", libName},
                                  .runtimeLibraryDirs = Argv{libDir},
                                  .linkerArgsEntangle = Argv{"-Wl,-z,relro"}};
      });
  qt::LogRecorder log;
  compiler.link_executable(compiler.compile({"embed/main.c"}), "embedded",
                           {.output_dir = "out",
                            .libraries = {"m"},
                            .library_dirs = {libDir},
                            .extra_preargs = {"-Wl,-O1"}});
  process::Result result = process::run({(dir.path() / "out/embedded").string()});
  EXPECT_TRUE(result.ok()) << result.output;
  EXPECT_EQ(result.output,
            "42 (" + std::to_string(facts.major) + ", " + std::to_string(facts.minor) + ")\n");
  const std::string link = log.messages(log::INFO).back();
  EXPECT_NE(link.find(" -Wl,-O1 -Wl,--as-needed -Wl,-z,relro embed/main.o embed/extra.o -L" +
                      libDir + " -Wl,"),
            std::string::npos)
      << link;
  EXPECT_NE(link.find(" -lm -l" + libName + " -o out/embedded"), std::string::npos) << link;
  auto count = [&](const std::string& word) {
    std::size_t n = 0;
    for (auto at = link.find(word); at != std::string::npos; at = link.find(word, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count(" -l"), 2u) << link;
  EXPECT_EQ(count(" -L"), 1u) << link;

  extraObjects = {"embed/missing.o"};
  ::testing::internal::CaptureStderr();
  const std::string error = qt::thrownMessage(
      [&] { compiler.link_executable(compiler.compile({"embed/main.c"}), "broken"); });
  const std::string stderrText = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(error.find("failed with exit code 1"), std::string::npos) << error;
  EXPECT_TRUE(stderrText.ends_with("\nLink failed: " + error + "\n")) << stderrText;
  EXPECT_EQ(stderrText.find("Link failed: "), stderrText.rfind("Link failed: "));
  // Only an executable's link says so.
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(compiler.link_shared_object({"embed/extra.o"}, "lib.so"), ccompiler::LinkError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr().find("Link failed: "), std::string::npos);
}
