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

// What the running program cannot show: the module table's order, the silent debug printer
// and the launch line. Everything else is run for real by the start-up program tests.
TEST(BootstrapTemplate, ToolValuesGiveLoggerModuleTableAndLaunch) {
  std::string text = render(templates::bootstrapTemplate,
                            values("__main__", toolModules, "cli", json::object()));

  EXPECT_TRUE(contains(text, "logger = logging.getLogger(f\"bootstrap __main__\")"));
  std::string table = "definitions = {\n";
  std::string modulesSet = "    modules_set = [";
  for (const auto& module : toolModules) {
    std::string name = module.get<std::string>();
    table += "    \"" + name + "\": PyInit_" + name + ",\n";
    modulesSet += "'" + name + "', ";
  }
  modulesSet.resize(modulesSet.size() - 2);
  EXPECT_TRUE(contains(text, table + "}\n")) << text;
  EXPECT_TRUE(contains(text, modulesSet + "]\n")) << text;
  EXPECT_TRUE(contains(text, "def debugMsg(*args):\n    pass\n"));
  EXPECT_TRUE(contains(text, "_main_mod = importlib.import_module(\"cli\")\n"));

  json debug = values("P", {"x"}, nullptr, nullptr);
  debug["debug"] = true;
  text = render(templates::bootstrapTemplate, debug);
  EXPECT_TRUE(contains(text, "def debugMsg(*args):\n    print(*args)\n"));
  EXPECT_TRUE(contains(text, "\n__path__ = [f\"{sys.executable}/P\"]\n"));
  EXPECT_FALSE(contains(text, "import_module"));
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
