// Compiled products side by side in one process: a program that imports two compiled libraries
// from its embedded directory, and the two libraries imported into one CPython. Every product
// carries a bootstrap, a shared utility module and Cython's function types under the same
// names; each must run on its own.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// One top-level package.
const std::map<std::string, std::string> packageLibrary = {
    {"pyproject.toml", "[project]\nname = \"rp\"\nversion = \"1.0\"\n"},
    {"rp/__init__.py", ""},
    {"rp/m.py", R"(def main():
    return 0


def scaled(values, factor=2):
    return [v * factor for v in values]


def counter(limit):
    yield from range(limit)


def adder(n):
    return lambda x: x + n


class Box:
    def __init__(self, item):
        self.item = item

    def unwrap(self):
        if self.item is None:
            raise LookupError("empty box")
        return self.item
)"},
};

// Two top-level modules: loaded from a private package.
const std::map<std::string, std::string> moduleLibrary = {
    {"pyproject.toml", "[project]\nname = \"ot-tools\"\nversion = \"2.0\"\n"},
    {"ot.py", R"(import otutil


def main():
    return 0


def pairs(items):
    for i, item in enumerate(items):
        yield otutil.tag(i), item
)"},
    {"otutil.py", "def tag(i, prefix='#'):\n    return f'{prefix}{i}'\n"},
};

const char* programSource = R"(import rp.m
import ot


def gen():
    yield "program"


def main():
    print(rp.m.main(), rp.m.scaled([1, 2]), rp.m.scaled([1], factor=3), list(rp.m.counter(3)))
    print(rp.m.adder(4)(1), rp.m.Box(5).unwrap(), list(ot.pairs("ab")), list(gen()))
    try:
        rp.m.Box(None).unwrap()
    except LookupError as error:
        print("caught", repr(error))
    return 3
)";

// What the two libraries show in one process: their behaviour, then that each runs its own
// compiled code (function and generator types, shared module) and that no product holds a name
// another product's modules would look up.
const char* bothLibraries = R"(import sys, rp.m, ot
print(rp.m.scaled([1, 2]), list(rp.m.counter(2)), list(ot.pairs("x")), rp.m.adder(1)(1))
print(type(rp.m.scaled) is not type(ot.pairs), type(rp.m.counter(1)) is not type(ot.pairs("")))
shared = [name for name in sys.modules if name.endswith("._qvx_shared")]
print(len(shared), len({id(sys.modules[name]) for name in shared}))
print([name for name in ("_qvx_shared", "_qvx_bootstrap") if name in sys.modules])
)";

TEST(Coexistence, ProgramImportsTwoCompiledLibrariesThatAlsoShareOneCPython) {
  Project rp("rp", packageLibrary);
  Project tools("ot-tools", moduleLibrary);
  const fs::path wheels = scratch("wheels");
  const Outcome rpBuild = rp.build({"--library", "--wheel", wheels.string(), "rp.m", "rp/*.py"});
  ASSERT_EQ(rpBuild.status, 0) << rpBuild.all();
  const Outcome toolsBuild =
      tools.build({"--library", "--wheel", wheels.string(), "ot", "ot.py", "otutil.py"});
  ASSERT_EQ(toolsBuild.status, 0) << toolsBuild.all();

  Project program("prog", {{"pyproject.toml",
                            "[project]\nname = \"prog\"\nversion = \"1.0\"\n"
                            "dependencies = [\"rp\", \"ot-tools\"]\n\n[tool.uv]\nno-index = true\n"
                            "find-links = [\"" + wheels.string() + "\"]\n"},
                           {"prog.py", programSource}});
  const fs::path embedded = scratch("embedded") / "prog";
  const Outcome build = program.build({"--embed", embedded.string(), "prog", "prog.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  // CPython on the sources of all three.
  const std::string path = "import sys; sys.path[:0] = ['" + rp.dir().string() + "', '" +
                           tools.dir().string() + "', '" + program.dir().string() + "']\n";
  const Outcome expected = run(
      {buildPython().string(), "-c", path + "import prog; sys.exit(prog.main())"}, "/");
  ASSERT_EQ(expected.status, 3) << expected.all();

  const Outcome ran = runClean({(embedded / "bin" / "prog").string()}, embedded);
  EXPECT_EQ(ran.status, 3) << ran.all();
  EXPECT_EQ(ran.out, expected.out);
  EXPECT_EQ(ran.err, "");

  // The program exports nothing of its own that a library's references could be bound to.
  const Outcome exported = run({"nm", "-D", "--defined-only", (embedded / "bin" / "prog").string()},
                               embedded);
  ASSERT_EQ(exported.status, 0) << exported.all();
  EXPECT_EQ(exported.out.find("PyInit_"), std::string::npos) << exported.out;
  EXPECT_EQ(exported.out.find("__pyx_"), std::string::npos) << exported.out;

  // Both libraries in the embedded directory's CPython, in either order.
  for (const char* order : {"import rp.m, ot\n", "import ot, rp.m\n"}) {
    SCOPED_TRACE(order);
    const Outcome both =
        runClean({(embedded / "bin" / "python").string(), "-c", order + std::string(bothLibraries)},
                 embedded);
    EXPECT_EQ(both.status, 0) << both.all();
    EXPECT_EQ(both.out, "[2, 4] [0, 1] [('#0', 'x')] 2\nTrue True\n2 2\n[]\n");
  }
}

} // namespace
} // namespace quorvex::e2e
