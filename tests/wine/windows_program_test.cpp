// Real Windows products made by the Windows plug-in on this host and run under wine: a program
// whose main is Cython's embedded main with the Windows start-up block, a ".pyd" library (which
// the next CPython version loads too), and a program made from the start-up templates that
// starts processes, all against the Windows CPython that scripts/setup-windows installs.
#include "bootstrap/templates.hpp"
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"
#include "core/host.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "platforms/builtin.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <optional>
#include <regex>

namespace fs = std::filesystem;
using quorvex::testing::writeFile;

namespace {

// The variables of the set-up's env file; a missing toolchain fails the test, never skips it.
void loadWindowsEnv() {
  std::ifstream env(QUORVEX_VENV "/windows/env");
  ASSERT_TRUE(env) << "no Windows toolchain: scripts/setup-windows did not run or failed";
  static const std::regex line(R"re(export (\w+)="?([^"]*)"?)re");
  std::smatch match;
  for (std::string text; std::getline(env, text);)
    if (std::regex_match(text, match, line))
      setenv(match[1].str().c_str(), match[2].str().c_str(), 1);
}

quorvex::process::Result wine(const std::vector<std::string>& argv) {
  auto command = argv;
  command.insert(command.begin(), "wine");
  // CPython under wine cannot start with a regular file as a standard stream.
  auto result = quorvex::process::run(command, {.timeout = std::chrono::seconds(120), .input = ""});
  std::cout << argv.front() << " printed:\n"
            << result.output << "exit status " << result.exitCode << "\n";
  return result;
}

// The toolchain directory for QRV_MINGW32 that the plug-in searches, made in the working
// directory: it looks for the driver by its Windows name.
std::string windowsDriverDir() {
  fs::create_directories("tc/bin");
  fs::create_symlink(fs::path(std::getenv("QRV_MINGW32")) / "bin/x86_64-w64-mingw32-clang",
                     "tc/bin/x86_64-w64-mingw32-clang.exe");
  return (fs::current_path() / "tc").string();
}

// Each test in a directory of its own, with the set-up's Windows Python and toolchain.
class WindowsProgram : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(loadWindowsEnv());
    winPython = std::getenv("QUORVEX_WIN_PYTHON");
    include = std::getenv("QUORVEX_WIN_INCLUDE");
    libs = std::getenv("QUORVEX_WIN_LIBS");
    dir_.emplace();
    toolchain_.emplace("QRV_MINGW32", windowsDriverDir());
  }

  const fs::path& directory() const { return dir_->path(); }

  fs::path winPython;
  std::string include;
  std::string libs;

private:
  std::optional<quorvex::testing::TempDir> dir_;
  std::optional<quorvex::utils::withEnv> toolchain_;
};

} // namespace

TEST_F(WindowsProgram, BuiltByThePluginRunsUnderWine) {

  writeFile("mod.pyx", "def area(int w, int h):\n    return w * h\n");
  writeFile("app.pyx", "import sys\nimport mod\n\ncdef long fact(long n):\n"
                       "    return 1 if n < 2 else n * fact(n - 1)\n\n"
                       "print(sys.version)\nprint('values', fact(10), mod.area(6, 7))\n"
                       "print('prefix', sys.prefix)\nsys.exit(fact(3) + 1)\n");
  {
    quorvex::plugin::PluginManager host({}, {".linuxplatform"}, quorvex::platforms::builtinPlugins());
    quorvex::Context context(host, quorvex::testing::installedTool);
    quorvex::compiler::cythonCall(context, {"--embed", "app.pyx", "-o", "app.c"});
    quorvex::compiler::cythonCall(context, {"mod.pyx", "-o", "mod.c"});
  }

  quorvex::host::PlatformOverride windows("win32");
  quorvex::plugin::PluginManager manager({}, {".winplatform"},
                                         quorvex::platforms::builtinPlugins());
  ASSERT_EQ(manager.plugins.size(), 1u);
  quorvex::Context context(manager, quorvex::testing::installedTool);
  manager.extendBuild({});
  quorvex::compiler::patchEmbeddedBootstrap(manager, "app.c");
  // The embedded layout: the program and the library beside python312.dll and the stdlib.
  fs::copy(winPython, "dist", fs::copy_options::recursive);
  fs::remove("dist/python312._pth"); // so that the program's own start-up finds the home
  for (bool library : {false, true}) {
    auto compiler = manager.newCompiler(!library);
    ASSERT_EQ(compiler->compiler().compiler_type(), "mingw32");
    compiler->_library = library;
    compiler->_libraryPath = manager.getRuntimeLibPath(winPython, ".");
    auto objects = compiler->compile({library ? "mod.c" : "app.c"}, {.include_dirs = {include}});
    if (library)
      compiler->link_shared_object(objects, "dist/mod.pyd", {.library_dirs = {libs}});
    else
      compiler->link_executable(objects, "app", {.output_dir = "dist", .library_dirs = {libs}});
  }
  ASSERT_EQ(manager.resolveExePath("dist/app"), fs::path("dist/app.exe"));

  auto program = wine({"dist/app.exe"});
  EXPECT_EQ(program.exitCode, 7);
  EXPECT_NE(program.output.find("MSC v."), std::string::npos);
  EXPECT_NE(program.output.find("values 3628800 42"), std::string::npos);
  auto home = "Z:" + (directory() / "dist").string();
  std::replace(home.begin(), home.end(), '/', '\\');
  EXPECT_NE(program.output.find("prefix " + home + "\r\n"), std::string::npos) << home;

  auto python = wine({"dist/python.exe", "-c", "import mod; print(mod.area(5, 8), mod.__file__)"});
  EXPECT_TRUE(python.ok());
  EXPECT_EQ(python.output.substr(0, 3), "40 ");

  // The library is built against the stable ABI, as its wheel's abi3 tag promises: it takes
  // CPython from python3.dll, so that the next version loads it as well.
  const auto imports = quorvex::process::run({"llvm-readobj-19", "--coff-imports", "dist/mod.pyd"});
  ASSERT_TRUE(imports.ok()) << imports.output;
  EXPECT_NE(imports.output.find("Name: python3.dll\n"), std::string::npos) << imports.output;
  EXPECT_EQ(imports.output.find("python312.dll"), std::string::npos) << imports.output;
  const char* nextPython = std::getenv("QUORVEX_WIN_PYTHON313");
  ASSERT_NE(nextPython, nullptr) << "no Windows CPython 3.13: run scripts/setup-windows again";
  fs::copy(nextPython, "dist313", fs::copy_options::recursive);
  fs::copy_file("dist/mod.pyd", "dist313/mod.pyd");
  auto later = wine(
      {"dist313/python.exe", "-c", "import sys, mod; print(sys.version_info[:2], mod.area(5, 8))"});
  EXPECT_TRUE(later.ok());
  EXPECT_EQ(later.output, "(3, 13) 40\r\n");
}

// A program made from the start-up templates as the compile step makes one, whose main() starts
// processes under spawn, the only start method on Windows: it does not call freeze_support(),
// and its children run the work, not main().
TEST_F(WindowsProgram, StartsProcessesBySpawnUnderWine) {

  writeFile("app.py", "import multiprocessing\nimport sys\n\n\ndef square(x):\n    return x * x\n\n\n"
                      "def main():\n    print('main', sys.argv[1:], flush=True)\n"
                      "    with multiprocessing.Pool(2) as pool:\n"
                      "        print(pool.map(square, range(5)))\n"
                      "    worker = multiprocessing.Process(target=square, args=(3,))\n"
                      "    worker.start()\n    worker.join()\n    print('exit', worker.exitcode)\n"
                      "    return 4\n");
  {
    quorvex::plugin::PluginManager host({}, {".linuxplatform"}, quorvex::platforms::builtinPlugins());
    quorvex::Context context(host, quorvex::testing::installedTool);
    const nlohmann::json values = {
        {"modules", nlohmann::json::array({nlohmann::json::array({"app", "app"})})},
        {"library", false}, {"packages", nlohmann::json::array()},
        {"mainModule", "app"}, {"code", ""}, {"features", nlohmann::json::object()},
        {"exports", nlohmann::json::object()}, {"debug", false},
        {"compiledTypes", std::string(quorvex::templates::compiledTypesText)},
        {"childProcesses", std::string(quorvex::templates::childProcessesText)}};
    quorvex::utils::template_(context, std::string(quorvex::templates::bootstrapTemplate),
                              "_qvx_bootstrap.pyx", values);
    quorvex::utils::template_(context, std::string(quorvex::templates::headerTemplate),
                              "__main__.h", {{"symbols", {"app"}}});
    quorvex::compiler::cythonCall(context, {"--generate-shared", "_qvx_shared.c", "--module-name",
                                            "_qvx_shared"});
    quorvex::compiler::cythonCall(context, {"--embed", "--shared", "_qvx_shared", "--embed-modules",
                                            "_qvx_shared", "_qvx_bootstrap.pyx"});
    quorvex::compiler::cythonCall(context, {"--shared", "_qvx_shared", "app.py"});
  }

  quorvex::host::PlatformOverride windows("win32");
  quorvex::plugin::PluginManager manager({}, {".winplatform"},
                                         quorvex::platforms::builtinPlugins());
  quorvex::Context context(manager, quorvex::testing::installedTool);
  manager.extendBuild({});
  quorvex::compiler::patchEmbeddedBootstrap(manager, "_qvx_bootstrap.c");
  fs::copy(winPython, "dist", fs::copy_options::recursive);
  fs::remove("dist/python312._pth");
  auto compiler = manager.newCompiler(true);
  compiler->_libraryPath = manager.getRuntimeLibPath(winPython, ".");
  auto objects = compiler->compile({"_qvx_bootstrap.c", "_qvx_shared.c", "app.c"},
                                   {.include_dirs = {include, "."}});
  compiler->link_executable(objects, "app", {.output_dir = "dist", .library_dirs = {libs}});

  auto program = wine({"dist/app.exe", "first"});
  EXPECT_EQ(program.exitCode, 4);
  EXPECT_EQ(program.output, "main ['first']\r\n[0, 1, 4, 9, 16]\r\nexit 0\r\n");
}
