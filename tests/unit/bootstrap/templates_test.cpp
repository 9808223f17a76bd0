// Rendering of the bootstrap and header templates with the values the compile step passes.
#include "bootstrap/templates.hpp"
#include "core/utils.hpp"
#include "native_build.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using nlohmann::json;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
namespace templates = quorvex::templates;
namespace utils = quorvex::utils;

namespace {

const json toolModules = {"builder", "cli",      "compiler",      "cross",    "embed",
                          "linuxplatform", "macplatform", "othertemplate", "plugin", "pristine",
                          "runtime", "target",   "templates",     "utils",    "version",
                          "whl",     "winplatform", "wintemplate"};

json programValues() {
  return {{"modules", toolModules}, {"package", "__main__"}, {"packages", json::array()},
          {"qualifiedModules", json::array()}, {"mainModule", "cli"}, {"code", ""},
          {"features", json::object()}, {"exports", json::object()}, {"debug", false}};
}

json packageValues() {
  return {{"modules", {"x", "y"}}, {"package", "P"}, {"packages", json::array()},
          {"qualifiedModules", json::array()}, {"mainModule", nullptr}, {"code", ""},
          {"features", nullptr}, {"exports", nullptr}, {"debug", false}};
}

std::string render(std::string_view text, const json& values, const fs::path& target) {
  utils::template_(std::string(text), target, values);
  return readFile(target);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

} // namespace

TEST(BootstrapTemplate, ToolValuesGiveLoggerModuleTableAndLaunch) {
  TempDir dir;
  std::string text = render(templates::bootstrapTemplate, programValues(), "_qvx_bootstrap.pyx");

  EXPECT_TRUE(contains(text, "package = \"__main__\"\npackages = []\n"));
  EXPECT_TRUE(contains(text, "logger = logging.getLogger(f\"bootstrap __main__\")"));
  std::string table = "definitions = {\n";
  std::string modulesSet = "    modules_set = [";
  std::string declarations = "cdef extern from \"__main__.h\":\n    pass\n";
  for (const auto& module : toolModules) {
    std::string name = module.get<std::string>();
    table += "    \"" + name + "\": PyInit_" + name + ",\n";
    modulesSet += "'" + name + "', ";
    declarations += "    object PyInit_" + name + "()\n";
  }
  modulesSet.resize(modulesSet.size() - 2);
  EXPECT_TRUE(contains(text, table + "}\n")) << text;
  EXPECT_TRUE(contains(text, modulesSet + "]\n")) << text;
  EXPECT_TRUE(contains(text, declarations)) << text;
  EXPECT_TRUE(contains(text, "def debugMsg(*args):\n    pass\n"));
  EXPECT_FALSE(contains(text, "print(*args)"));
  EXPECT_TRUE(contains(text, "    feature_map.update({})\n"));
  EXPECT_FALSE(contains(text, "runtime_module.__features__ = feature_map\n    runtime_module."));
  EXPECT_TRUE(contains(text, "_main_mod = importlib.import_module(\"cli\")\n    _main_mod.main()"));
  EXPECT_TRUE(contains(text, "if \"cli\" in sys.modules:\n    del sys.modules[\"cli\"]"));
  EXPECT_FALSE(contains(text, "__path__ = [f\"{sys.executable}/"));
}

TEST(BootstrapTemplate, PackageBootstrapSetsItsPathAndLaunchesNothing) {
  TempDir dir;
  std::string text = render(templates::bootstrapTemplate, packageValues(), "P.pyx");

  EXPECT_TRUE(contains(text, "package = \"P\"\npackages = []\n"));
  EXPECT_TRUE(contains(text, "cdef extern from \"P.h\":"));
  EXPECT_TRUE(contains(text, "package_runtime_name = f\"P.quorvex_runtime\""));
  EXPECT_TRUE(contains(text, "    modules_set = ['x', 'y']\n"));
  // None features: an empty argument list, the mapping stays as it was.
  EXPECT_TRUE(contains(text, "    feature_map.update()\n"));
  EXPECT_TRUE(contains(text, "\n__path__ = [f\"{sys.executable}/P\"]\n"));
  EXPECT_FALSE(contains(text, "sys.frozen"));
  EXPECT_FALSE(contains(text, "import_module"));
}

TEST(BootstrapTemplate, CodeFeaturesExportsAndDebugAreRendered) {
  TempDir dir;
  json values = packageValues();
  values["code"] = "def _answer():\n    return 42\n";
  values["features"] = {{"fast", true}};
  values["exports"] = {{"answer", "_answer()"}, {"name", "package"}};
  values["debug"] = true;
  std::string text = render(templates::bootstrapTemplate, values, "P.pyx");

  EXPECT_TRUE(contains(text, "\ndef _answer():\n    return 42\n"));
  EXPECT_TRUE(contains(text, "    feature_map.update({'fast': True})\n"));
  EXPECT_TRUE(contains(text, "    runtime_module.answer = _answer()\n"
                             "    runtime_module.name = package\n"));
  EXPECT_TRUE(contains(text, "def debugMsg(*args):\n    print(*args)\n"));
  // The plug-in code runs after the classes and before the three steps.
  std::size_t code = text.find("def _answer()");
  EXPECT_LT(text.find("class CythonPackageMetaPathFinder"), code);
  EXPECT_LT(code, text.find("\nbootstrap_cython_submodules()\n"));
}

TEST(BootstrapTemplate, RenderedTextIsValidCython) {
  TempDir dir;
  json values = programValues();
  values["exports"] = {{"answer", "40 + 2"}};
  render(templates::bootstrapTemplate, values, "_qvx_bootstrap.pyx");
  render(templates::bootstrapTemplate, packageValues(), "P.pyx");
  quorvex::testing::cython({"--embed", "--shared", "_qvx_shared", "--embed-modules",
                            "_qvx_shared", "_qvx_bootstrap.pyx"});
  quorvex::testing::cython({"--shared", "_qvx_shared", "P.pyx"});
  EXPECT_TRUE(contains(readFile("_qvx_bootstrap.c"), "PyConfig_InitPythonConfig(&config);"));
  EXPECT_TRUE(fs::exists("P.c"));
}

TEST(BootstrapTemplate, MissingValueFailsWithoutWritingTheTarget) {
  TempDir dir;
  json values = programValues();
  values.erase("exports");
  EXPECT_THROW(utils::template_(std::string(templates::bootstrapTemplate), "out.pyx", values),
               std::runtime_error);
  EXPECT_FALSE(fs::exists("out.pyx"));
}

TEST(HeaderTemplate, DeclaresModulesThenPackages) {
  TempDir dir;
  std::string program = render(templates::headerTemplate,
                               {{"modules", {"app", "helper"}}, {"packages", {"P", "Q"}}},
                               "__main__.h");
  EXPECT_EQ(program, "\n#include <string.h>\n\n#include \"Python.h\"\n"
                     "extern PyObject* PyInit_app(void);\n"
                     "extern PyObject* PyInit_helper(void);\n"
                     "PyMODINIT_FUNC  PyInit_P(void);\n"
                     "PyMODINIT_FUNC  PyInit_Q(void);\n");

  std::string package = render(
      templates::headerTemplate,
      {{"modules", {"x"}}, {"packages", json::array()}, {"package", "P"}}, "P.h");
  EXPECT_EQ(package,
            "\n#include <string.h>\n\n#include \"Python.h\"\nextern PyObject* PyInit_x(void);\n");
}
