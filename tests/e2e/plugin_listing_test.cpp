// What plug-in frameworks find of a program's packages: pkgutil's listings over a package's
// __path__, over a string path below it and walked, find_spec, and migration-named modules
// ("0001_initial.py", which only importlib reaches) imported by name, all compared with CPython
// running the same sources; the one warning of the package data a program leaves behind; and
// the files that no import reaches, still refused.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const char* appSource = R"(import importlib, importlib.util, os, pkgutil, sys
import plugins

def show(title, infos):
    print(title, [(info.name, info.ispkg) for info in infos])

def main():
    show("listed", pkgutil.iter_modules(plugins.__path__))
    show("prefixed", pkgutil.iter_modules(plugins.__path__, "plugins."))
    # A string path below the package, as Django's find_commands builds it.
    commands = os.path.join(plugins.__path__[0], "commands")
    show("string", pkgutil.iter_modules([commands]))
    show("slash", pkgutil.iter_modules([commands + os.sep]))
    # A plug-in loader that asks each listing's finder for the bare name.
    for info in pkgutil.iter_modules([commands]):
        found = info.module_finder.find_spec(info.name)
        module = importlib.util.module_from_spec(found)
        found.loader.exec_module(module)
        print("loaded", info.name, getattr(module, "run", lambda: None)())
    show("data dir", pkgutil.iter_modules([os.path.join(plugins.__path__[0], "sql")]))
    show("nowhere", pkgutil.iter_modules([os.path.join(plugins.__path__[0], "nothing")]))
    show("walked", pkgutil.walk_packages(plugins.__path__, "plugins."))
    show("top", [info for info in pkgutil.iter_modules() if info.name in ("app", "plugins")])
    loose = importlib.import_module("plugins.loose")
    show("namespace", pkgutil.iter_modules(loose.__path__, "plugins.loose."))
    # As Django's migration loader: every module of the package that is no package, by name.
    migrations = importlib.import_module("plugins.migrations")
    for info in pkgutil.iter_modules(migrations.__path__):
        if info.ispkg or info.name[0] in "_~":
            continue
        module = importlib.import_module("plugins.migrations." + info.name)
        print(info.name, module.__name__, module.__package__, module.Migration.__module__,
              module.Migration.__qualname__, module.Migration.apply.__module__, module.run())
    for name in ("plugins.alpha", "plugins.beta.deep", "plugins.migrations.0001_initial",
                 "plugins.migrations.0002_add-field", "plugins.loose", "plugins.nothing",
                 "plugins.beta.missing"):
        found = importlib.util.find_spec(name)
        print("found", name, found and found.name, found and found.submodule_search_locations is not None)
    found = importlib.util.find_spec("plugins.commands.hello")
    print(found.name, found.parent, found.submodule_search_locations)
    hello = importlib.import_module("plugins.commands.hello")
    print(hello.run(), hello is sys.modules["plugins.commands.hello"])
    try:
        importlib.import_module("plugins.migrations.0003_missing")
    except ImportError as error:
        print(type(error).__name__, error)
    try:
        importlib.import_module("plugins.migrations.~0002_broken")
    except ZeroDivisionError as error:
        print(type(error).__name__, error)

if __name__ == "__main__":
    main()
)";

const char* migrationSource = R"(import importlib

class Migration:
    dependencies = {dependencies!r}

    def apply(self):
        return "applied " + __name__.rpartition(".")[2]

def run():
    for name in Migration.dependencies:
        importlib.import_module("." + name, __package__)
    from . import _helpers
    return _helpers.done(Migration().apply())
)";

std::string migration(const std::string& dependencies) {
  std::string text = migrationSource;
  text.replace(text.find("{dependencies!r}"), 16, dependencies);
  return text;
}

TEST(PluginListing, ProgramPackagesListAndImportAsTheSources) {
  Project project(
      "plugapp",
      {{"app.py", appSource},
       {"plugins/__init__.py", ""},
       {"plugins/alpha.py", "A = 1\n"},
       {"plugins/_private.py", ""},
       {"plugins/alpha_beta.py", ""},
       {"plugins/beta/__init__.py", ""},
       {"plugins/beta/gamma.py", ""},
       {"plugins/beta/deep/__init__.py", ""},
       {"plugins/beta/deep/leaf.py", ""},
       {"plugins/loose/inside.py", ""},
       {"plugins/commands/__init__.py", ""},
       {"plugins/commands/hello.py", "def run():\n    return 'hello'\n"},
       {"plugins/commands/_hidden.py", ""},
       {"plugins/migrations/__init__.py", ""},
       {"plugins/migrations/_helpers.py", "def done(text):\n    return text + ' (done)'\n"},
       {"plugins/migrations/0001_initial.py", migration("[]")},
       {"plugins/migrations/0002_add-field.py", migration("['0001_initial']")},
       {"plugins/migrations/~0002_broken.py", "1 / 0\n"},
       {"plugins/migrations/0010_more.py", migration("['0001_initial', '0002_add-field']")},
       {"plugins/templates/plugins/index.html", "<p>{{ x }}</p>\n"},
       {"plugins/sql/schema.sql", "create table t (x int);\n"},
       {"plugins/fixtures.json", "[]\n"},
       {"plugins/py.typed", ""}});
  const Outcome built = project.build({"app", "app.py", "plugins/**/*.py"});
  ASSERT_EQ(built.status, 0) << built.all();
  const std::string all = built.out + built.err;
  const std::string warning = "A program does not carry the data files of its packages (3 files: "
                              "plugins/fixtures.json, plugins/sql/schema.sql, "
                              "plugins/templates/plugins/index.html)";
  const auto at = all.find(warning);
  EXPECT_NE(at, std::string::npos) << all;
  EXPECT_EQ(all.find("does not carry the data files", at + warning.size()), std::string::npos)
      << all;
  EXPECT_NE(all.find("A library wheel (--library --wheel) ships them"), std::string::npos) << all;

  // Run from elsewhere, so that CPython finds only the sources beside its script.
  const Outcome ran = expectSameAsPython((project.buildDir() / "app").string(),
                                         (project.dir() / "app.py").string(), {}, "/");
  EXPECT_EQ(ran.status, 0) << ran.all();
  EXPECT_NE(ran.out.find("string [('_hidden', False), ('hello', False)]\n"), std::string::npos)
      << ran.out;
  EXPECT_NE(ran.out.find("0010_more plugins.migrations.0010_more plugins.migrations "
                         "plugins.migrations.0010_more Migration plugins.migrations.0010_more "
                         "applied 0010_more (done)\n"),
            std::string::npos)
      << ran.out;

  // What no import reaches stays refused: a dot inside a file name or a directory name.
  int count = 0;
  for (const std::string file : {"plugins/migrations/0003.old.py", "plugins/v1.2/mod.py"}) {
    Project refused("refused" + std::to_string(++count),
                    {{"app.py", appSource}, {"plugins/__init__.py", ""}, {file, ""}});
    const Outcome outcome = refused.build({"app", "app.py", "plugins/**/*.py"});
    EXPECT_EQ(outcome.status, 1) << outcome.all();
    EXPECT_NE(outcome.err.find("The source '" + file +
                               "' has no Python module name (each part of its path must be an "
                               "identifier), so a program cannot carry it"),
              std::string::npos)
        << outcome.all();
  }
}

} // namespace
} // namespace quorvex::e2e
