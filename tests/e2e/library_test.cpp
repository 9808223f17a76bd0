// Library builds: one shared library for a project of several top-level names (one of them not
// ASCII), each served under its own name, its wheel (with the project's version in its normal
// form and its entry points) repaired by auditwheel and installed with pip, and the same wheel in an embedded
// directory; and a project of nested packages, built as a program and as a library, behaving as
// CPython does on its sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>


namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> libraryFiles = {
    {"pyproject.toml", R"([project]
name = "geomlib"
version = "0.3-beta"
description = "Plane figures"
requires-python = ">=3.11"

[project.scripts]
geom-describe = "shapes:main"

[project.entry-points."geomlib.converters"]
inch = "units:cm_to_inch"
circle = "shapes:Circle"
)"},
    {"shapes.py", R"(import math


class Circle:
    def __init__(self, radius):
        if radius < 0:
            raise ValueError("negative radius")
        self.radius = radius

    def area(self):
        return math.pi * self.radius ** 2


def describe(radius):
    return f"circle r={radius} area={Circle(radius).area():.3f}"


def main():
    print(describe(1))
)"},
    {"units.py", R"(def cm_to_inch(value):
    return value / 2.54
)"},
    // A module named in non-ASCII letters, whose recursion stops at the recursion limit.
    {"maße.py", R"(import sys


def down(n):
    return down(n + 1) + 1


def depth(n):
    return 0 if n == 0 else depth(n - 1) + 1


def recursion():
    try:
        down(0)
    except RecursionError as error:
        caught = f"{type(error).__name__}: {error}"
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(3000)
    try:
        return __name__, caught, depth(2500)
    finally:
        sys.setrecursionlimit(limit)
)"},
    {"alpha/__init__.py", "from beta import twice\nVALUE = twice(21)\n"},
    {"beta/__init__.py", "import importlib.resources\n\n\ndef twice(x):\n    return 2 * x\n\n\n"
                         "DATA = importlib.resources.files(__name__).joinpath('d.txt').read_text()\n"},
    {"beta/d.txt", "beta data"},
    // No Python name: importlib reaches it by its file name; the wheel ships it as source.
    {"beta/table-1.py", "ROWS = (1, 2, 3)\n"},
    {"beta/__main__.py", "import beta\nprint('run as', __name__, beta.DATA)\n"},
};

// One build gives the library, its repaired wheel and an embedded directory with that wheel.
TEST(Library, ImportedWheeledAndEmbedded) {
  Project project("library", libraryFiles);
  const fs::path embedded = scratch("embedded") / "geomlib";
  const Outcome build =
      project.build({"--library", "--wheel", "dist", "--embed", embedded.string(), "shapes",
                     "shapes.py", "units.py", "maße.py", "alpha/*.py", "beta/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  // Importing the library leaves the application's logging as it was.
  const std::string useIt =
      "import shapes, units as u, alpha, beta, logging, os, maße\n"
      "print(shapes.describe(3), u.cm_to_inch(2.54), alpha.VALUE, beta.DATA, u.__name__)\n"
      "print(maße.recursion(), __import__('importlib').import_module('beta.table-1').ROWS)\n"
      "print([os.path.relpath(m.__file__, os.path.dirname(u.__file__)) for m in (u, alpha)])\n"
      "print(logging.root.handlers, logging.root.level)";
  const Outcome expected = run({buildPython().string(), "-c", useIt}, project.dir());
  ASSERT_EQ(expected.status, 0) << expected.all();
  const Outcome expectedMain =
      run({buildPython().string(), "-c", "import shapes; shapes.main()"}, project.dir());
  ASSERT_EQ(expectedMain.status, 0) << expectedMain.all();
  {
    SCOPED_TRACE("the repaired wheel, installed with pip");
    const fs::path wheel = onlyWheel(project.dir() / "dist");
    EXPECT_NE(wheel.filename().string().find("manylinux"), std::string::npos)
        << "auditwheel names the repaired wheel by its policy: " << wheel;
    EXPECT_TRUE(wheel.filename().string().starts_with("geomlib-0.3b0-")) << "normal version";
    const Outcome checked = checkWheel(wheel);
    EXPECT_EQ(checked.status, 0) << checked.all();
    EXPECT_EQ(checked.out, "geomlib 0.3b0\n");

    const fs::path venv = freshVenv("geomlib");
    const fs::path python = pipInstall(venv, wheel);
    // Like an extension module, the library takes CPython from the Python that imports it: it
    // needs no libpython and searches no path of the build machine.
    int libraries = 0;
    for (const auto& entry : fs::recursive_directory_iterator(venv / "lib"))
      if (entry.path().extension() == ".so") {
        ++libraries;
        EXPECT_EQ(runPathsOf(entry.path()), std::vector<std::string>{}) << entry.path();
        const Outcome dynamic = run({"readelf", "-d", entry.path().string()}, venv);
        EXPECT_EQ(dynamic.out.find("libpython"), std::string::npos) << dynamic.out;
      }
    EXPECT_EQ(libraries, 1);
    const Outcome imported = runClean({python.string(), "-c", useIt}, venv);
    EXPECT_EQ(imported.status, 0) << imported.all();
    EXPECT_EQ(imported.out, expected.out);
    const Outcome asProgram = runClean({python.string(), "-m", "beta"}, venv);
    EXPECT_EQ(asProgram.status, 0) << asProgram.all();
    EXPECT_EQ(asProgram.out, "run as __main__ beta data\n");

    // The entry points: pip's console script runs the compiled main(), and the group's entries
    // load the compiled objects.
    const Outcome script = runClean({(venv / "bin" / "geom-describe").string()}, venv);
    EXPECT_EQ(script.status, 0) << script.all();
    EXPECT_EQ(script.out, expectedMain.out);
    const Outcome loaded = runClean(
        {python.string(), "-c",
         "from importlib.metadata import entry_points\n"
         "eps = entry_points(group='geomlib.converters')\n"
         "print(sorted(eps.names), eps['inch'].load()(5.08), eps['circle'].load()(2).radius)\n"
         "print(eps['circle'].load().area.__qualname__, eps['circle'].load() is "
         "__import__('shapes').Circle)"},
        venv);
    EXPECT_EQ(loaded.status, 0) << loaded.all();
    EXPECT_EQ(loaded.out, "['circle', 'inch'] 2.0 2\nCircle.area True\n");

    // With a stack of 1 MiB, and uncaught: status 1 and CPython's last line.
    const std::string smallStack = "ulimit -s 1024 && exec \"$@\"";
    const Outcome small =
        runClean({"/bin/sh", "-c", smallStack, "sh", python.string(), "-c", useIt}, venv);
    EXPECT_EQ(small.status, 0) << small.all();
    EXPECT_EQ(small.out, expected.out);
    for (const auto& shell : {std::string("exec \"$@\""), smallStack}) {
      const Outcome runaway = runClean(
          {"/bin/sh", "-c", shell, "sh", python.string(), "-c", "import maße; maße.down(0)"}, venv);
      EXPECT_EQ(runaway.status, 1) << runaway.all();
      EXPECT_TRUE(runaway.err.ends_with("\nRecursionError: maximum recursion depth exceeded\n"))
          << runaway.err;
    }
  }
  {
    SCOPED_TRACE("the embedded directory, which got the wheel and no program");
    const Outcome imported =
        runClean({(embedded / "bin" / "python").string(), "-c", useIt}, embedded);
    EXPECT_EQ(imported.status, 0) << imported.all();
    EXPECT_EQ(imported.out, expected.out);
    EXPECT_FALSE(fs::exists(embedded / "bin" / "shapes"));
    const Outcome script = runClean({(embedded / "bin" / "geom-describe").string()}, embedded);
    EXPECT_EQ(script.out, expectedMain.out) << script.all();
  }
  // A module alone is served under its own name, as pip installs a one-module project.
  ASSERT_EQ(project.build({"--library", "--wheel", "one", "units", "units.py"}).status, 0);
  const fs::path python = pipInstall(freshVenv("one"), onlyWheel(project.dir() / "one"));
  const std::string useOne = "import units; print(units.__name__, units.cm_to_inch(2.54))";
  EXPECT_EQ(runClean({python.string(), "-c", useOne}, "/").out, "units 1.0\n");

  // quorvex-wheel wraps the library built before: the project's package serves its module.
  fs::path built;
  for (const auto& entry : fs::directory_iterator(project.buildDir()))
    if (entry.path().filename().string().starts_with("units.") && entry.path().extension() == ".so")
      built = entry.path();
  const Outcome wrapped =
      run({wheelTool().string(), "--library", built.string(), "wrapped"}, project.dir());
  ASSERT_EQ(wrapped.status, 0) << wrapped.all();
  const fs::path wrappedPython =
      pipInstall(freshVenv("wrapped"), onlyWheel(project.dir() / "wrapped"));
  EXPECT_EQ(runClean({wrappedPython.string(), "-c",
                      "import geomlib; print(geomlib.units.__name__, geomlib.cm_to_inch(2.54))"},
                     "/")
                .out,
            "geomlib.units 1.0\n");
}

// Relative imports at three depths, package bodies that import their own modules, a guarded
// import of a module that fails, an import that None in sys.modules blocks, a namespace package,
// two modules named "util", a project named unlike its package, a name bound nowhere (Python
// 2's `long`), a NameError only when it runs, and a package's namespace and docstring.
const std::map<std::string, std::string> packageFiles = {
    {"pyproject.toml", "[project]\nname = \"Pkg-Demo\"\nversion = \"0.1\"\n"},
    {"app/__init__.py",
     "'Demo.'\nVERSION = '1.0'\nfrom .core import greet\nimport app.sub.inner.mod\n"
     "from .globals import STATE\n"},
    {"app/globals.py", "STATE = 'a submodule named globals'\n"},
    {"app/core.py", "from . import util\n\n\ndef greet():\n    return 'hello from ' + util.NAME\n"
                    "def upto(text):\n    out = []\n    try:\n        out.extend(int(c) for c in text)\n"
                    "    except ValueError:\n        return out\n"},
    {"app/util.py", "try:\n    from . import optional\nexcept ImportError:\n    pass\n"
                    "NAME = 'app.util'\n"
                    "try:\n    TEXT = long\nexcept NameError:\n    TEXT = 'str'\n"
                    "import sys\nsys.modules['gone'] = None\ntry:\n    import gone\nexcept ImportError as e:\n    GONE = e\n"},
    {"app/optional.py", "import no_such_module_anywhere\n"},
    {"app/__main__.py", "import sys\nfrom .core import greet\n\n"
                        "if __name__ == '__main__':\n    print(greet())\n    sys.exit(4)\n"},
    {"app/other/util.py", "NAME = 'app.other.util'\n"},
    {"app/sub/__init__.py", "from .deep import LEVEL\n"},
    {"app/sub/deep.py", "from ..core import greet\nfrom ..other import util\n\n"
                        "LEVEL = 'deep: ' + greet() + ' ' + util.NAME\n"},
    {"app/sub/inner/__init__.py", ""},
    {"app/sub/inner/mod.py", "from ... import util\nfrom .. import deep\n\n"
                             "WHERE = (__name__, __package__, __spec__.parent, util.NAME)\n"},
    {"app/sub/data.json", "{\"n\": 1}\n"},
    {"app/templates/page.txt", "page\n"},
    {"app/sub/reader.py", R"(import importlib.resources, os, pkgutil
import app.sub
HERE = os.path.dirname(__file__)
print(importlib.resources.files('app.sub').joinpath('data.json').read_text(),
      open(os.path.join(HERE, 'data.json')).read(), pkgutil.get_data('app.sub', 'data.json'),
      (importlib.resources.files('app') / 'templates' / 'page.txt').read_text(),
      __spec__.origin == __file__, os.path.dirname(app.sub.__file__) == app.sub.__path__[0] == HERE)
)"},
    {"app/main.py", R"(import app
import app.sub.inner.mod
from app import util
from app.other import util as other_util


def main():
    print(app.VERSION, app.greet(), app.sub.LEVEL, app.core.upto('12x3'))
    print(util.NAME, other_util.NAME, util.TEXT, repr(util.GONE))
    print(*app.sub.inner.mod.WHERE)
    print(app.__package__, app.sub.__package__, app.core.__package__, app.other.__path__ != [])
    print(app.__doc__, sorted(name for name in vars(app) if not name.startswith('__')))
)"},
};

TEST(Packages, BehaveAsUnderCPythonAsProgramAndAsLibrary) {
  Project project("packages", packageFiles);
  const std::string mainCall = "import app.main; app.main.main()";
  const Outcome expected = run({buildPython().string(), "-c", mainCall}, project.dir());
  ASSERT_EQ(expected.status, 0) << expected.all();
  EXPECT_NE(expected.out.find("app.sub.inner.mod app.sub.inner app.sub.inner app.util"),
            std::string::npos) << expected.out;

  const Outcome program = project.build({"app.main", "app/**/*.py"});
  ASSERT_EQ(program.status, 0) << program.all();
  const Outcome ran = run({(project.buildDir() / "app").string()}, project.dir());
  EXPECT_EQ(ran.status, 0) << ran.all();
  EXPECT_EQ(ran.out, expected.out);
  EXPECT_EQ(ran.err, expected.err) << "a failed import that the importer handles prints nothing";

  // The library also reads its package data beside its modules.
  const std::string withData = mainCall + "; import app.sub.reader";
  const Outcome expectedData = run({buildPython().string(), "-c", withData}, project.dir());
  ASSERT_EQ(expectedData.status, 0) << expectedData.all();
  const Outcome library =
      project.build({"--library", "--wheel", "dist", "app.main", "app/**/*.py"});
  ASSERT_EQ(library.status, 0) << library.all();
  const fs::path python = pipInstall(freshVenv("packages"), onlyWheel(project.dir() / "dist"));
  // Imported by its package's name, not by the project's.
  const Outcome imported =
      runClean({python.string(), "-c", "import app, app.sub.inner.mod; " + withData}, "/");
  EXPECT_EQ(imported.status, 0) << imported.all();
  EXPECT_EQ(imported.out, expectedData.out);
  EXPECT_EQ(imported.err, expectedData.err);
  // The package's own __main__.py runs for `python -m`, as under CPython.
  const Outcome asMain = runClean({python.string(), "-m", "app"}, "/");
  EXPECT_EQ(asMain.status, 4) << asMain.all();
  EXPECT_EQ(asMain.out, "hello from app.util\n");
  // A compiled module has no code object, as an extension module has none: `python -m` on one
  // stops as CPython stops for an extension module, without a traceback.
  const Outcome asModule = runClean({python.string(), "-m", "app.sub.deep"}, "/");
  EXPECT_EQ(asModule.status, 1) << asModule.all();
  EXPECT_EQ(asModule.out, "");
  EXPECT_TRUE(asModule.err.ends_with(": No code object available for app.sub.deep\n"))
      << asModule.err;
  EXPECT_EQ(asModule.err.find("Traceback"), std::string::npos) << asModule.err;
}

} // namespace
} // namespace quorvex::e2e
