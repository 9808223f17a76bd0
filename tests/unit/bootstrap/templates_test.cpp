// Rendering of the bootstrap and header templates with the values the compile step passes.
#include "bootstrap/templates.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using nlohmann::json;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
namespace templates = quorvex::templates;

namespace {

const json toolModules = {"builder", "cli",      "compiler",      "cross",    "embed",
                          "linuxplatform", "macplatform", "othertemplate", "plugin", "pristine",
                          "runtime", "target",   "templates",     "utils",    "version",
                          "whl",     "winplatform", "wintemplate"};

/// The compile step's values for a program (`package` "__main__") or a package.
json values(const std::string& package, const json& modules, const json& mainModule,
            const json& features) {
  return {{"modules", modules}, {"package", package}, {"packages", json::array()},
          {"qualifiedModules", json::array()}, {"mainModule", mainModule}, {"code", ""},
          {"features", features}, {"exports", features}, {"debug", false}};
}

std::string render(std::string_view text, const json& values) {
  TempDir dir;
  quorvex::utils::template_(std::string(text), "out", values);
  return readFile("out");
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

} // namespace

TEST(BootstrapTemplate, ToolValuesGiveLoggerModuleTableAndLaunch) {
  std::string text = render(templates::bootstrapTemplate,
                            values("__main__", toolModules, "cli", json::object()));

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
  std::string text =
      render(templates::bootstrapTemplate, values("P", {"x", "y"}, nullptr, nullptr));

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
  json given = values("P", {"x"}, nullptr, {{"fast", true}});
  given["code"] = "def _answer():\n    return 42\n";
  given["exports"] = {{"answer", "_answer()"}, {"name", "package"}};
  given["debug"] = true;
  std::string text = render(templates::bootstrapTemplate, given);

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

TEST(HeaderTemplate, DeclaresModulesThenPackages) {
  const std::string head = "\n#include <string.h>\n\n#include \"Python.h\"\n";
  EXPECT_EQ(render(templates::headerTemplate,
                   {{"modules", {"app", "helper"}}, {"packages", {"P", "Q"}}}),
            head + "extern PyObject* PyInit_app(void);\n"
                   "extern PyObject* PyInit_helper(void);\n"
                   "PyMODINIT_FUNC  PyInit_P(void);\n"
                   "PyMODINIT_FUNC  PyInit_Q(void);\n");
  EXPECT_EQ(render(templates::headerTemplate,
                   {{"modules", {"x"}}, {"packages", json::array()}, {"package", "P"}}),
            head + "extern PyObject* PyInit_x(void);\n");
}
