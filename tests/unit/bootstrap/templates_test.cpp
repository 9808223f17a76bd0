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

/// The compile step's values for a program (with `mainModule`) or a library (without).
json values(const json& modules, const json& mainModule, const json& features) {
  json table = json::array();
  for (const auto& module : modules) table.push_back({module, module.get<std::string>() + "_s"});
  return {{"modules", table}, {"library", mainModule.is_null()}, {"prefixed", false},
          {"packages", json::array()}, {"mainModule", mainModule}, {"code", ""},
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
                            values(toolModules, "cli", json::object()));

  EXPECT_TRUE(contains(text, "package = \"__main__\"\n"));
  std::string table = "definitions = {\n";
  for (const auto& module : toolModules) {
    std::string name = module.get<std::string>();
    table += "    _prefix + \"" + name + "\": PyInit_" + name + "_s,\n";
  }
  EXPECT_TRUE(contains(text, table + "}\n")) << text;
  EXPECT_TRUE(contains(text, "def debugMsg(*args):\n    pass\n"));
  EXPECT_TRUE(contains(text, "__import__(\"cli\")\n    _main_mod = sys.modules[\"cli\"]\n"));

  json debug = values({"x"}, nullptr, nullptr);
  debug["debug"] = true;
  text = render(templates::bootstrapTemplate, debug);
  EXPECT_TRUE(contains(text, "def debugMsg(*args):\n    print(*args)\n"));
  EXPECT_TRUE(contains(text, "package = __name__.rpartition(\".\")[0]\n"));
  EXPECT_FALSE(contains(text, "__import__"));
}

TEST(HeaderTemplate, DeclaresEverySymbol) {
  EXPECT_EQ(render(templates::headerTemplate, {{"symbols", {"app", "qvx_1P3app"}}}),
            "\n#include <string.h>\n\n#include \"Python.h\"\n"
            "extern PyObject* PyInit_app(void);\n"
            "extern PyObject* PyInit_qvx_1P3app(void);\n");
}
