// What inspect and mock's autospec make of compiled code, in a program, in a library's wheel
// imported by CPython and in a program that imports it, beside a plain Cython extension; what
// the loader of a module that the registry patches answers before the module is imported.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// The program's module "local" and the library's "insplib.registry": a function table filled
// as jmespath fills its own, the four predicates and two that rest on them, mock's autospec.
const char* registrySource = R"PY(import asyncio, inspect
from unittest import mock


class Functions:
    def _func_length(self, value): return len(value)
    _func_first = staticmethod(lambda value: value[0])
    _func_builtin = len


TABLE = [n for n, _ in inspect.getmembers(Functions, inspect.isfunction) if n[:6] == "_func_"]


def numbers(): yield 0
async def fetch(): return 1
async def stream(): yield 2
async def drain(values): return [value async for value in values]


def report(*extra):
    made = numbers(), fetch(), stream()
    objects = (report, Functions()._func_length, numbers, fetch, stream, *made,
               eval("lambda: 0"), len, Functions, inspect, *extra)
    names = ("isfunction", "isgenerator", "iscoroutine", "isasyncgen", "ismethoddescriptor",
             "isasyncgenfunction")
    print(TABLE, ["".join(str(int(getattr(inspect, n)(o))) for n in names) for o in objects])
    print(list(made[0]), asyncio.run(made[1]), asyncio.run(drain(made[2])))
    with mock.patch.object(Functions, "_func_length", autospec=True) as patched:
        instance = Functions()
        instance._func_length([1])
        print(patched.call_args.args[0] is instance)
)PY";

// The program's module "probe" and the library's "insplib.probe": a finder of the program's
// own ahead of every other, and what the loader of unittest.mock, not yet imported, answers.
const char* probeSource = R"PY(import importlib.util, sys


class Counting:
    asked = 0

    def find_spec(self, name, path, target=None):
        Counting.asked += name == "unittest.mock"


def describe_loader():
    sys.meta_path.insert(0, Counting())
    spec = importlib.util.find_spec("unittest.mock")
    loader, origin = spec.loader, spec.origin
    print(loader.is_package("unittest.mock"), loader.get_filename("unittest.mock") == origin,
          loader.path == origin, loader.name, "def patch(" in loader.get_source("unittest.mock"),
          type(loader.get_code("unittest.mock")).__name__,
          type(loader.get_resource_reader("unittest.mock")).__name__, Counting.asked)
    from unittest import mock
    print(Counting.asked, type(mock.__loader__).__name__, mock.__spec__.loader is mock.__loader__)
)PY";

// The predicate bound by name at the top of the main module, which loaded before inspect did;
// "local" loads after.
const char* programSource = R"PY(from inspect import isfunction
import sys


def main():
    sys.path[:0] = sys.argv[1:]
    import probe
    probe.describe_loader()
    import local, plainext
    print(isfunction(main), isfunction(local.report), isfunction(len), isfunction(plainext.plain))
    local.report(main, plainext.plain, plainext.numbers())
    if len(sys.argv) > 2:
        __import__("insplib.registry").registry.report(main, plainext.plain)


if __name__ == "__main__":
    main()
)PY";

const char* makePlainExtension = R"PY(import shlex, subprocess, sys, sysconfig
get = lambda name: shlex.split(sysconfig.get_config_var(name))
subprocess.run([sys.executable, "-m", "cython", "-3", "plainext.py"], check=True)
subprocess.run([*get("CC"), *get("CFLAGS"), *get("CCSHARED"), "-I", *get("INCLUDEPY"),
                "-c", "plainext.c"], check=True)
subprocess.run([*get("LDSHARED"), "plainext.o", "-o", "plainext" + get("EXT_SUFFIX")[0]],
               check=True)
)PY";

TEST(Inspect, TakesCompiledCodeForPythonsInEveryProductAndNothingElse) {
  Project plain("plain",
                {{"plainext.py", "def plain():\n    pass\n\n\ndef numbers():\n    yield\n"},
                 {"make.py", makePlainExtension}});
  const Outcome plainBuild = run({buildPython().string(), "make.py"}, plain.dir());
  ASSERT_EQ(plainBuild.status, 0) << plainBuild.all();
  Project library("insplib",
                  {{"pyproject.toml", "[project]\nname = \"insplib\"\nversion = \"1\"\n"},
                   {"insplib/__init__.py", ""},
                   {"insplib/registry.py", registrySource},
                   {"insplib/probe.py", probeSource}});
  const Outcome built =
      library.build({"--library", "--wheel", "dist", "insplib.registry", "insplib/*.py"});
  ASSERT_EQ(built.status, 0) << built.all();
  Project program("inspprog", {{"prog.py", programSource},
                               {"local.py", registrySource},
                               {"probe.py", probeSource}});
  ASSERT_EQ(program.build({"prog", "prog.py", "local.py", "probe.py"}).status, 0);
  const std::string executable = (program.buildDir() / "prog").string();

  const Outcome alone =
      expectSameAsPython(executable, "prog.py", {plain.dir().string()}, program.dir());
  EXPECT_EQ(alone.out, "False True True unittest.mock True code FileReader 1\n"
                       "2 SourceFileLoader True\n"
                       "True True False False\n['_func_first', '_func_length'] ['100000', "
                       "'000000', '100000', '100000', '100001', '010000', '001000', '000100', "
                       "'100000', '000000', '000000', '000000', '100000', '000010', '000000']\n"
                       "[0] 1 [2]\nTrue\n");

  const fs::path python = pipInstall(freshVenv("insplib"), onlyWheel(library.dir() / "dist"));
  const std::string plainPath = "import sys; sys.path.insert(0, '" + plain.dir().string() + "')\n";
  const std::string useIt = "import plainext, insplib.registry as r; r.report(plainext.plain)";
  const Outcome expected =
      run({buildPython().string(), "-c",
           plainPath + "sys.path.insert(1, '" + library.dir().string() + "')\n" + useIt},
          "/");
  for (const std::string first : {"", "import inspect\n", "from unittest import mock\n"}) {
    SCOPED_TRACE("the library after " + first);
    const Outcome imported = runClean({python.string(), "-c", plainPath + first + useIt}, "/");
    EXPECT_EQ(imported.out, expected.out) << imported.all();
    EXPECT_EQ(imported.err, "");
  }

  {
    SCOPED_TRACE("the library's loader of unittest.mock");
    const std::string probe = "import insplib.probe as p; p.describe_loader()";
    const Outcome probed = runClean({python.string(), "-c", probe}, "/");
    EXPECT_EQ(probed.out,
              run({buildPython().string(), "-c", probe}, library.dir()).out) << probed.all();
    EXPECT_EQ(probed.out, "False True True unittest.mock True code FileReader 1\n"
                          "2 SourceFileLoader True\n");
    EXPECT_EQ(probed.err, "");
  }

  SCOPED_TRACE("the program and the library");
  const Outcome site =
      runClean({python.string(), "-c", "import site; print(*site.getsitepackages())"}, "/");
  const Outcome both = run(
      {executable, plain.dir().string(), site.out.substr(0, site.out.find('\n'))}, program.dir());
  const Outcome bothExpected =
      run({buildPython().string(), "prog.py", plain.dir().string(), library.dir().string()},
          program.dir());
  EXPECT_EQ(both.out, bothExpected.out) << both.all();
  EXPECT_EQ(both.err, "");
}

} // namespace
} // namespace quorvex::e2e
