// Code that compiled programs once computed differently from CPython, built as one program and
// run beside CPython on the same sources, one case at a time: each helper module of the
// project holds a case, and parity.main() runs the cases named on its command line (all of
// them without arguments).
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> parityFiles = {
    {"parity.py", R"(import importlib
import sys

# Each case is a module of its own with a report(): one that fails to load fails its case alone.
CASES = ["deep", "places"]


def main():
    for name in sys.argv[1:] or CASES:
        print(f"[{name}]")
        importlib.import_module(name).report()


if __name__ == "__main__":
    main()
)"},
    // Recursion ends in RecursionError at the recursion limit, wherever it runs.
    {"deep.py", R"(import sys
import threading


def down(n):
    return down(n + 1) + 1


def depth(n):
    return 0 if n == 0 else depth(n - 1) + 1


def nested(n):
    yield from nested(n + 1)


class Looping:
    def __repr__(self):
        return repr(self)


class Tree:
    # a structure that holds itself, walked as simplejson's encoder walks one
    def __init__(self):
        self.children = [self]

    def walk(self):
        return [child.walk() for child in self.children]


def report():
    for runaway in (lambda: down(0), lambda: Tree().walk(), lambda: list(nested(0))):
        try:
            runaway()
        except RecursionError as error:
            print(type(error).__name__, error)
    try:
        repr(Looping())
    except RecursionError as error:
        # CPython's own check in repr() may come first, in words of its own
        print(type(error).__name__)
    print(depth(900))
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(3000)
    try:
        print(depth(2500))
    finally:
        sys.setrecursionlimit(limit)
    found = []
    thread = threading.Thread(target=lambda: found.append(depth(500)))
    thread.start()
    thread.join()
    print(found)
)"},
    {"runaway.py", R"(def down(n):
    return down(n + 1) + 1


def report():
    print("before", flush=True)
    down(0)
)"},
    {"bottomless.py", R"(import sys

from runaway import down


def report():
    # a limit above what any stack holds of compiled frames
    sys.setrecursionlimit(10 ** 7)
    try:
        down(0)
    except RecursionError as error:
        print(type(error).__name__)
)"},
    // Modules with non-ASCII names, and packages whose __file__ lies in their __path__ entry.
    {"places.py", R"(import os

import módulo
import pkg
import pkg.sub
import pkg.sub.módulo
from pkg.sub import módulo as again


def report():
    print(módulo.WHERE, pkg.sub.módulo.WHERE, pkg.nested is again is pkg.sub.módulo)
    print(sorted(name for name in vars(pkg.sub) if not name.startswith("__")))
    for package in (pkg, pkg.sub):
        here = os.path.dirname(package.__file__)
        print(package.__name__, here == package.__path__[0], os.path.basename(here),
              package.__spec__.origin == package.__file__)
    print(os.path.dirname(again.__file__) == pkg.sub.__path__[0],
          os.path.dirname(pkg.sub.helper.__file__) == os.path.dirname(again.__file__))
)"},
    {"módulo.py", "WHERE = (__name__, __spec__.name)\n"},
    {"pkg/__init__.py", "from .sub import módulo as nested\n"},
    {"pkg/sub/__init__.py", ""},
    {"pkg/sub/módulo.py", R"(from . import helper
from .. import sub
from ..sub.helper import NAME

WHERE = (__name__, __package__, __spec__.parent, helper.NAME is NAME, sub.__name__)
)"},
    {"pkg/sub/helper.py", "NAME = 'helper'\n"},
};

// `argv` run with a stack of 1 MiB, an eighth of the usual size.
std::vector<std::string> smallStack(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/bin/sh", "-c", "ulimit -s 1024 && exec \"$@\"", "sh"});
  return argv;
}

std::string lastLine(const std::string& text) {
  const auto end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "";
  const auto start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

TEST(ParityProgram, RecursesAndPlacesModulesAsPythonDoes) {
  Project project("parity", parityFiles);
  const Outcome build = project.build({"parity", "*.py", "pkg/**/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string program = (project.buildDir() / "parity").string();
  const std::string python = buildPython().string();
  for (const std::string name : {"deep", "places"}) {
    SCOPED_TRACE(name);
    const Outcome outcome = expectSameAsPython(program, "parity.py", {name}, project.dir());
    EXPECT_EQ(outcome.status, 0) << outcome.all();
    EXPECT_NE(outcome.out, "[" + name + "]\n");
  }
  {
    SCOPED_TRACE("a stack of 1 MiB");
    const Outcome expected = run(smallStack({python, "parity.py", "deep"}), project.dir());
    const Outcome actual = run(smallStack({program, "deep"}), project.dir());
    EXPECT_EQ(actual.status, 0) << actual.all();
    EXPECT_EQ(actual.out, expected.out);
  }
  // Uncaught, it ends the program with status 1 and CPython's last line, whatever the stack.
  for (const bool small : {false, true}) {
    SCOPED_TRACE(small ? "a stack of 1 MiB" : "the usual stack");
    auto argv = [&](std::vector<std::string> command) {
      return small ? smallStack(command) : command;
    };
    const Outcome expected = run(argv({python, "parity.py", "runaway"}), project.dir());
    const Outcome actual = run(argv({program, "runaway"}), project.dir());
    EXPECT_EQ(expected.status, 1) << expected.all();
    EXPECT_EQ(actual.status, 1) << actual.all();
    EXPECT_EQ(actual.out, "[runaway]\nbefore\n");
    EXPECT_EQ(lastLine(actual.err), "RecursionError: maximum recursion depth exceeded");
    EXPECT_EQ(lastLine(actual.err), lastLine(expected.err));
  }
  // Compiled frames live on the C stack: with a limit that no stack can hold, the stack's end
  // raises RecursionError too (CPython, whose frames live in the heap, would go on for long).
  const Outcome bottomless = run(smallStack({program, "bottomless"}), project.dir());
  EXPECT_EQ(bottomless.status, 0) << bottomless.all();
  EXPECT_EQ(bottomless.out, "[bottomless]\nRecursionError\n");
}

} // namespace
} // namespace quorvex::e2e
