// A library wheel around a real extension library: the generated package must serve the
// compiled modules from the one library and run the main module's main().
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

// Two modules in one library, as a library build links them: the shared utility module and
// the main module.
constexpr const char* librarySource = R"(#include <Python.h>
static PyObject* cli_main(PyObject* self, PyObject* args) {
  PySys_WriteStdout("main of %s\n", PyModule_GetName(self));
  Py_RETURN_NONE;
}
static PyMethodDef cli_methods[] = {{"main", cli_main, METH_NOARGS, NULL}, {NULL, NULL, 0, NULL}};
static struct PyModuleDef cli_def = {PyModuleDef_HEAD_INIT, "cli", NULL, -1, cli_methods};
PyMODINIT_FUNC PyInit_cli(void) { return PyModule_Create(&cli_def); }
static struct PyModuleDef shared_def = {PyModuleDef_HEAD_INIT, "_qvx_shared", NULL, -1, NULL};
PyMODINIT_FUNC PyInit__qvx_shared(void) { return PyModule_Create(&shared_def); }
)";

class LinuxTagPlatform : public plugin::Plugin {
public:
  std::optional<std::string> fixPlatformName(const std::string& name) override { return name; }
  std::optional<fs::path> getExePath(const fs::path& path, const std::string& name) override {
    return path.parent_path() / name;
  }
};

TEST(LibraryWheel, InstalledPackageImportsAndRunsItsMainModule) {
  TempDir dir;
  const auto& facts = interpreter::facts();
  std::string extSuffix = facts.configVar("EXT_SUFFIX").value_or(".so");
  writeFile("lib.c", librarySource);
  fs::path library = "cli" + extSuffix;
  auto compiled = process::run({"gcc", "-shared", "-fPIC", "-I" + facts.path("include"), "lib.c",
                                "-o", library.string()});
  ASSERT_TRUE(compiled.ok()) << compiled.output;
  writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = \"0.1\"\n");

  std::vector<std::unique_ptr<plugin::Plugin>> plugins;
  plugins.push_back(std::make_unique<LinuxTagPlatform>());
  plugin::PluginManager manager(std::move(plugins));
  WheelOptions options;
  options.library = true;
  options.moduleNames = std::vector<std::string>{"cli"};
  options.mainModuleName = "cli";
  options.sourcePath = dir.path();
  fs::path wheel = createWheel(library, dir.path(), options,
                               {manager, buildInterpreterValues(), [] { return std::nullopt; }});

  std::string python = QUORVEX_VENV "/bin/python";
  auto install = process::run({python, "-m", "pip", "install", "--no-deps", "--no-index",
                               "--disable-pip-version-check", "--target", "site", wheel.string()},
                              {.timeout = std::chrono::seconds(300)});
  ASSERT_TRUE(install.ok()) << install.output;
  auto run = process::run({python, "-c",
                           "import runpy, sys; sys.path.insert(0, 'site'); import demo; "
                           "print(demo.main is sys.modules['demo.cli'].main); "
                           "runpy.run_module('demo', run_name='__main__')"});
  EXPECT_EQ(run.output, "True\nmain of demo.cli\n");
}

} // namespace
} // namespace quorvex::whl
