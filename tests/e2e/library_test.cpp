// A library build: one shared library for a package's modules, imported by the build
// interpreter, its wheel repaired by auditwheel and installed with pip, and the same wheel in
// an embedded directory.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>


namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> libraryFiles = {
    {"pyproject.toml", R"([project]
name = "geomlib"
version = "0.3.0"
description = "Plane figures"
requires-python = ">=3.11"
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
    // Loads the library's modules from the one shared library, as its package does.
    {"use_library.py", R"(import importlib.machinery
import importlib.util
import sys

library = sys.argv[1]


class Bundled:
    def find_spec(self, name, path, target=None):
        if name in ("_qvx_shared", "shapes", "units"):
            loader = importlib.machinery.ExtensionFileLoader(name, library)
            return importlib.util.spec_from_loader(name, loader)
        return None


sys.meta_path.insert(0, Bundled())
import shapes
import units

print(shapes.describe(2), round(units.cm_to_inch(5.08), 3), shapes.__file__ == library)
try:
    shapes.Circle(-1)
except ValueError as error:
    print("ValueError:", error)
)"},
};

// One build gives the library, its repaired wheel and an embedded directory with that wheel.
TEST(Library, ImportedWheeledAndEmbedded) {
  Project project("library", libraryFiles);
  const fs::path embedded = scratch("embedded") / "geomlib";
  const Outcome build = project.build({"--library", "--wheel", "dist", "--embed",
                                       embedded.string(), "shapes", "shapes.py", "units.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  {
    SCOPED_TRACE("the shared library, loaded by the build interpreter");
    const Outcome suffix = run({buildPython().string(), "-c",
                                "import sysconfig; print(sysconfig.get_config_var('EXT_SUFFIX'))"},
                               project.dir());
    const fs::path so =
        project.buildDir() / ("shapes" + suffix.out.substr(0, suffix.out.size() - 1));
    ASSERT_TRUE(fs::is_regular_file(so)) << so;
    const Outcome used = run({buildPython().string(), "use_library.py", so.string()},
                             project.dir());
    EXPECT_EQ(used.status, 0) << used.all();
    EXPECT_EQ(used.out, "circle r=2 area=12.566 2.0 True\nValueError: negative radius\n");
  }
  // Importing the library leaves the application's logging as it was.
  const std::string useIt = "import geomlib, geomlib.units as u, logging, sys\n"
                            "print(geomlib.describe(3), u.cm_to_inch(2.54))\n"
                            "print(sys.modules['geomlib'].__file__.startswith(sys.prefix))\n"
                            "print(logging.root.handlers, logging.root.level)";
  {
    SCOPED_TRACE("the repaired wheel, installed with pip");
    const fs::path wheel = onlyWheel(project.dir() / "dist");
    EXPECT_NE(wheel.filename().string().find("manylinux"), std::string::npos)
        << "auditwheel names the repaired wheel by its policy: " << wheel;
    const Outcome checked = checkWheel(wheel);
    EXPECT_EQ(checked.status, 0) << checked.all();
    EXPECT_EQ(checked.out, "geomlib 0.3.0\n");

    const fs::path venv = freshVenv("geomlib");
    const fs::path python = pipInstall(venv, wheel);
    const Outcome imported = runClean({python.string(), "-c", useIt}, venv);
    EXPECT_EQ(imported.status, 0) << imported.all();
    EXPECT_EQ(imported.out, "circle r=3 area=28.274 1.0\nTrue\n[] 30\n");
    const Outcome asProgram = runClean({python.string(), "-m", "geomlib"}, venv);
    EXPECT_EQ(asProgram.status, 0) << asProgram.all();
    EXPECT_EQ(asProgram.out, "circle r=1 area=3.142\n");
  }
  {
    SCOPED_TRACE("the embedded directory, which got the wheel and no program");
    const Outcome imported =
        runClean({(embedded / "bin" / "python").string(), "-c", useIt}, embedded);
    EXPECT_EQ(imported.status, 0) << imported.all();
    EXPECT_EQ(imported.out, "circle r=3 area=28.274 1.0\nTrue\n[] 30\n");
    EXPECT_FALSE(fs::exists(embedded / "bin" / "shapes"));
  }
}

} // namespace
} // namespace quorvex::e2e
