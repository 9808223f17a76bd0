// A library wheel around a real extension library: the generated package must serve the
// compiled modules from the one library under their names inside the package, re-export the
// main module's names and run its main() when the package is run as a program.
#include "core/interpreter.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "packaging/whl.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

// Modules as a library build links them: multi-phase initialisation, so each module takes its
// name (and the package its relative imports resolve against) from the module spec it is loaded
// under. Each body runs Python code in the new module's namespace, as a compiled body would.
constexpr const char* librarySource = R"(#include <Python.h>
static int run_body(PyObject* module, const char* source) {
  PyObject* globals = PyModule_GetDict(module);
  PyObject* result = PyRun_String(source, Py_file_input, globals, globals);
  Py_XDECREF(result);
  return result ? 0 : -1;
}
#define MODULE(NAME, SOURCE)                                                        \
  static int NAME##_exec(PyObject* m) { return run_body(m, SOURCE); }               \
  static PyModuleDef_Slot NAME##_slots[] = {{Py_mod_exec, NAME##_exec}, {0, NULL}}; \
  static struct PyModuleDef NAME##_def = {                                          \
      PyModuleDef_HEAD_INIT, #NAME, NULL, 0, NULL, NAME##_slots};                   \
  PyMODINIT_FUNC PyInit_##NAME(void) { return PyModuleDef_Init(&NAME##_def); }
MODULE(_qvx_shared, "")
MODULE(core, "def hello():\n    return 'hello from ' + __name__\n")
MODULE(app, "from .core import hello\n"
            "def main():\n    print('main of ' + __name__ + ': ' + hello())\n")
MODULE(cli, "def main():\n    print('main of ' + __name__)\n")
MODULE(demo, "def hello():\n    return 'hello from ' + __name__\n"
             "def main():\n    print('main of ' + __name__)\n")
)";

class LinuxTagPlatform : public plugin::Plugin {
public:
  std::optional<std::string> fixPlatformName(const std::string& name) override { return name; }
  std::optional<fs::path> getExePath(const fs::path& path, const std::string& name) override {
    return path.parent_path() / name;
  }
};

const std::string python = QUORVEX_VENV "/bin/python";

// Builds the library of the project "demo" with the given modules and main module, wraps it
// in a library wheel and installs that into "site" of the working directory.
void installDemoLibrary(const std::vector<std::string>& moduleNames,
                        const std::string& mainModuleName) {
  const auto& facts = interpreter::facts();
  writeFile("lib.c", librarySource);
  fs::path library = "libdemo" + facts.configVar("EXT_SUFFIX").value_or(".so");
  auto compiled = process::run({"gcc", "-shared", "-fPIC", "-I" + facts.path("include"), "lib.c",
                                "-o", library.string()});
  ASSERT_TRUE(compiled.ok()) << compiled.output;
  writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = \"0.1\"\n");

  std::vector<std::unique_ptr<plugin::Plugin>> plugins;
  plugins.push_back(std::make_unique<LinuxTagPlatform>());
  plugin::PluginManager manager(std::move(plugins));
  WheelOptions options;
  options.library = true;
  options.moduleNames = moduleNames;
  options.mainModuleName = mainModuleName;
  options.sourcePath = fs::current_path();
  fs::path wheel = createWheel(library, fs::current_path(), options,
                               {manager, buildInterpreterValues(), [] { return std::nullopt; }});

  auto install = process::run({python, "-m", "pip", "install", "--no-deps", "--no-index",
                               "--disable-pip-version-check", "--target", "site", wheel.string()},
                              {.timeout = std::chrono::seconds(300)});
  ASSERT_TRUE(install.ok()) << install.output;
}

// Runs the installed package's interpreter with `args`, "site" on the module search path.
process::Result runWithSite(std::vector<std::string> args) {
  args.insert(args.begin(), {"env", "PYTHONPATH=site", python});
  return process::run(args);
}

TEST(LibraryWheel, TopLevelMainModuleIsServedInsideThePackage) {
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(installDemoLibrary({"cli"}, "cli"));
  // The main module is served as demo.cli only; no top-level "cli" appears in sys.modules.
  auto imported = runWithSite({"-c", "import sys, demo; "
                                     "print(demo.main is sys.modules['demo.cli'].main, "
                                     "'cli' in sys.modules)"});
  EXPECT_EQ(imported.output, "True False\n");
  EXPECT_EQ(runWithSite({"-m", "demo"}).output, "main of demo.cli\n");
}

TEST(LibraryWheel, PackageMainModuleImportsItsSiblingsRelatively) {
  TempDir dir;
  // A project laid out as the package demo/ with demo/core.py and demo/app.py.
  ASSERT_NO_FATAL_FAILURE(installDemoLibrary({"core", "app"}, "demo.app"));
  auto imported = runWithSite({"-c", "import sys, demo; print(demo.hello()); "
                                     "print(demo.main is sys.modules['demo.app'].main)"});
  EXPECT_EQ(imported.output, "hello from demo.core\nTrue\n");
  auto run = runWithSite({"-m", "demo"});
  EXPECT_EQ(run.output, "main of demo.app: hello from demo.core\n");
  EXPECT_EQ(run.exitCode, 0);
}

TEST(LibraryWheel, MainModuleNamedLikeTheProjectLeavesThePackageInPlace) {
  TempDir dir;
  ASSERT_NO_FATAL_FAILURE(installDemoLibrary({"demo"}, "demo"));
  auto imported = runWithSite({"-c", "import sys, demo; print(demo.hello()); "
                                     "print(sys.modules['demo'] is demo, demo.__file__.endswith("
                                     "'__init__.py'))"});
  EXPECT_EQ(imported.output, "hello from demo.demo\nTrue True\n");
  EXPECT_EQ(runWithSite({"-m", "demo"}).output, "main of demo.demo\n");
}

} // namespace
} // namespace quorvex::whl
