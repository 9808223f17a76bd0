// The build's reading of a main module for main(), through the build interpreter, and the
// warning that names what [project.scripts] starts instead.
#include "frontend/main_function.hpp"

#include "core/plugin.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

using namespace quorvex;
using builder::MainBinding;

TEST(MainFunction, BindingsOfMainAsTheModuleScopeHasThem) {
  quorvex::testing::TempDir dir;
  plugin::PluginManager manager;
  Context context(manager, quorvex::testing::installedTool);
  context.setInterpreter(quorvex::testing::buildFacts());
  const std::pair<std::string, MainBinding> cases[] = {
      {"def cli(): pass\nmain = cli\n", MainBinding::bound},
      {"if True:\n    async def main(): pass\n", MainBinding::bound},
      {"def setup():\n    global main\n    main = print\n", MainBinding::bound},
      {"from .app import run as main\n", MainBinding::bound},
      {"import main\n", MainBinding::bound},
      {"for main in [print]: pass\n", MainBinding::bound},
      {"(main := print)\n", MainBinding::bound},
      {"def cli(): pass\n", MainBinding::unbound},
      {"import os.main\nclass C:\n    main = 1\ndef f():\n    main = 2\n", MainBinding::unbound},
      {"lambda main: main\n", MainBinding::unbound},
      {"from os import *\n", MainBinding::unknown},
      {"def __getattr__(name): return print\n", MainBinding::unknown},
      {"def (:\n", MainBinding::unknown}};
  for (const auto& [source, expected] : cases) {
    quorvex::testing::writeFile("mod.py", source);
    EXPECT_EQ(builder::mainBindingOf(context, "mod.py"), expected) << source;
  }
  EXPECT_EQ(builder::mainBindingOf(context, "missing.py"), MainBinding::unknown);
}

TEST(MainFunction, WarningNamesTheFunctionsTheProjectScriptsStart) {
  quorvex::testing::TempDir dir;
  quorvex::testing::writeFile("pyproject.toml", "[project]\nname = \"tool\"\n[project.scripts]\n"
                                       "tool = \" tool.cli : cli \"\nother = \"tool.other:run\"\n"
                                       "again = \"tool.cli:group\"\n");
  const auto scripts = builder::scriptsOfModule("pyproject.toml", "tool.cli");
  EXPECT_EQ(builder::missingMainWarning("tool.cli", scripts),
            "The main module tool.cli defines no main(), which the program calls once the "
            "module's body has run: unless that body ends the program itself (sys.exit()), the "
            "program then stops with the error \"Main module 'tool.cli' has no main() "
            "function\" and exit status 1. [project.scripts] starts it with group (again = "
            "\"tool.cli:group\"), cli (tool = \"tool.cli:cli\"): define main(), or bind it "
            "(main = group)");
  EXPECT_TRUE(builder::scriptsOfModule(std::nullopt, "tool.cli").empty());
  quorvex::testing::writeFile("pyproject.toml", "[project\n");
  EXPECT_TRUE(builder::scriptsOfModule("pyproject.toml", "tool.cli").empty());
  EXPECT_EQ(builder::missingMainWarning("app", {}),
            "The main module app defines no main(), which the program calls once the module's "
            "body has run: unless that body ends the program itself (sys.exit()), the program "
            "then stops with the error \"Main module 'app' has no main() function\" and exit "
            "status 1");
}
