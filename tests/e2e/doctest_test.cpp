// Doctest on compiled modules, built as a program and as a library's wheel: it finds the tests
// that CPython finds on the same sources (in the module docstring, functions, methods plain,
// static and class, properties and nested classes, and a module's own __test__), with as many
// examples each, attempts as many and reports the failing one once. A module that asks for
// Cython's test dict with its own `# cython: autotestdict=True` gets it.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::string checkSource = R"(import contextlib
import doctest
import io
import sys

import examples, keeps, own


def found(module):
    # What testmod is given: every test the finder makes, with its number of examples.
    finder = doctest.DocTestFinder(exclude_empty=False)
    return sorted((test.name, len(test.examples)) for test in finder.find(module))


def run(module):
    # testmod's verdict and the tests whose examples it reports failing (the reports also name
    # files and lines, which are the build's own).
    report = io.StringIO()
    with contextlib.redirect_stdout(report):
        results = doctest.testmod(module, report=False)
    failing = [line.rsplit(", in ", 1)[1] for line in report.getvalue().splitlines()
               if line.startswith("File ")]
    return results, failing


def main():
    if sys.argv[1:] == ["keeps"]:
        print(sorted(vars(keeps).get("__test__", {})))
        return
    for module in (examples, own):
        print(module.__name__, "defines __test__:", "__test__" in vars(module))
        print(found(module))
        print(run(module))
        print("unittest cases:", doctest.DocTestSuite(module).countTestCases())


if __name__ == "__main__":
    main()
)";

const std::map<std::string, std::string> doctestFiles = {
    {"pyproject.toml", "[project]\nname = \"doctest-cases\"\nversion = \"1.0\"\n"},
    {"check.py", checkSource},
    {"examples.py", R"("""Examples of every kind.

>>> area(2, 3)
6
"""
import functools

from own import half as halve

square = lambda side: side * side


def area(width, height):
    """The area.

    >>> area(3, 4)
    12
    >>> area(0, 4)
    0
    """
    return width * height


def wrong():
    """
    >>> wrong()
    2
    """
    return 1


def plain(value):
    return value


@functools.lru_cache(maxsize=None)
def cached(n):
    """
    >>> cached(3)
    6
    """
    return 2 * n


def counting(n):
    """
    >>> list(counting(2))
    [0, 1]
    """
    yield from range(n)


class Box:
    """A box.

    >>> Box(2).side
    2
    """

    def __init__(self, side):
        self.side = side

    def grow(self, by):
        """
        >>> Box(1).grow(2).side
        3
        """
        return Box(self.side + by)

    @staticmethod
    def unit():
        """
        >>> Box.unit().side
        1
        """
        return Box(1)

    @classmethod
    def of(cls, side):
        """
        >>> Box.of(5).side
        5
        """
        return cls(side)

    @property
    def volume(self):
        """
        >>> Box(3).volume
        27
        """
        return self.side ** 3

    class Lid:
        """
        >>> Box.Lid().open
        False
        """
        open = False

        def lift(self):
            """
            >>> lid = Box.Lid()
            >>> lid.lift()
            >>> lid.open
            True
            """
            self.open = True
)"},
    {"own.py", R"("""Defines its own __test__.

>>> 1 + 1
2
"""
__test__ = {"extra": ">>> 2 + 2\n4\n"}


def half(value):
    """
    >>> half(4)
    2.0
    """
    return value / 2
)"},
    {"keeps.py", R"(# cython: autotestdict=True
"""Asks for Cython's test dict.

>>> 2 * 3
6
"""


def twice(value):
    """
    >>> twice(4)
    8
    """
    return 2 * value
)"},
};

// CPython's answers on the sources, checked to hold what the cases are for.
void expectCasesHold(const Outcome& python) {
  ASSERT_EQ(python.status, 0) << python.all();
  EXPECT_NE(python.out.find("TestResults(failed=1, attempted=15), ['examples.wrong']"),
            std::string::npos)
      << python.out;
  EXPECT_NE(python.out.find("('examples.Box.Lid.lift', 3)"), std::string::npos) << python.out;
  EXPECT_NE(python.out.find("('own.__test__.extra', 1)"), std::string::npos) << python.out;
}

TEST(Doctest, FindsAndRunsWhatPythonDoesInProgramsAndLibraries) {
  Project project("doctests", doctestFiles);
  {
    SCOPED_TRACE("program");
    const Outcome build = project.build({"check", "*.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    const std::string program = (project.buildDir() / "check").string();
    expectCasesHold(run({buildPython().string(), "check.py"}, project.dir()));
    expectSameAsPython(program, "check.py", {}, project.dir());
    const Outcome keeps = run({program, "keeps"}, project.dir());
    EXPECT_EQ(keeps.out, "['twice (line 9)']\n") << keeps.all();
  }
  {
    SCOPED_TRACE("library");
    const Outcome build = project.build(
        {"--library", "--wheel", "dist", "examples", "examples.py", "own.py", "keeps.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    const fs::path python = pipInstall(freshVenv("doctests"), onlyWheel(project.dir() / "dist"));
    const Outcome expected = run({buildPython().string(), "-c", checkSource}, project.dir());
    expectCasesHold(expected);
    const Outcome imported = runClean({python.string(), "-c", checkSource}, "/");
    EXPECT_EQ(imported.status, 0) << imported.all();
    EXPECT_EQ(imported.out, expected.out);
    EXPECT_EQ(imported.err, "");
    const Outcome keeps = runClean({python.string(), "-c", checkSource, "keeps"}, "/");
    EXPECT_EQ(keeps.out, "['twice (line 9)']\n") << keeps.all();
  }
}

} // namespace
} // namespace quorvex::e2e
