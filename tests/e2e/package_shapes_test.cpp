// Shapes of code from widely used packages that compiled products crashed on (pylint's class
// patterns), computed differently (tenacity's relative imports in a subpackage's __init__) or
// refused to build (pyasn1's and-or tuples, threadpoolctl's decorated classes, ANTLR's tabs
// beside spaces), built as a program and as a library's wheel and run beside CPython on the
// same sources. cases.main() runs the cases named on its command line, all without arguments.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::vector<std::string> caseNames = {"patterns", "andor", "decorated_classes", "tabbed",
                                            "relative"};

std::map<std::string, std::string> caseFiles() {
  std::map<std::string, std::string> files = {
      {"cases.py", R"PY(import importlib
import sys

# Each case is a module of its own with a report(): one that fails to load fails its case alone.
# "module.function" runs that function instead.
CASES = ["patterns", "andor", "decorated_classes", "tabbed", "relative"]


def main():
    for name in sys.argv[1:] or CASES:
        print(f"[{name}]")
        module, _, function = name.partition(".")
        getattr(importlib.import_module(module), function or "report")()


if __name__ == "__main__":
    main()
)PY"},
      {"patterns.py",
       R"PY(# Class patterns with or-patterns among their sub-patterns (how pylint matches nodes), and the
# shapes around them: positional, nested, guarded, in mappings and sequences, captured.
import enum


class Color(enum.Enum):
    RED = 1
    GREEN = 2


class Name:
    __match_args__ = ("name",)

    def __init__(self, name):
        self.name = name


class Attribute:
    __match_args__ = ("attrname", "expr")

    def __init__(self, attrname, expr):
        self.attrname = attrname
        self.expr = expr


def keyword_or(node):
    match node:
        case Attribute(attrname="nan" | "NaN", expr=Name(name=name)):
            return ("nan", name)
    return None


def positional_or(node):
    match node:
        case Attribute("inf" | "Inf", Name(n)):
            return ("inf", n)
        case Attribute("x" | "y" as which, _):
            return which
    return None


def nested(node):
    match node:
        case Attribute(expr=Attribute(attrname="a" | "b", expr=Name(name="s" | "t" as s))):
            return s
        case Attribute(expr=Name("q" | "r")):
            return "qr"
    return None


def guarded(node, flag):
    match node:
        case Attribute(attrname="g" | "h") if flag:
            return "guarded"
        case Attribute(attrname="g" | "h", expr=e) if e is None:
            return "none-expr"
    return None


def mapping(value):
    match value:
        case {"k": 1 | 2, "n": Name(name="a" | "b")}:
            return "map-name"
        case {"k": 3 | 4, **rest}:
            return ("rest", sorted(rest))
        case {"k": Color.RED | Color.GREEN as c}:
            return c.name
    return None


def sequence(value):
    match value:
        case [1 | 2, Name("z" | "w"), *tail]:
            return ("seq", len(tail))
        case (Attribute(attrname="p" | "o"), x):
            return ("pair", x)
    return None


def builtins_or(value):
    match value:
        case str("a" | "b"):
            return "str"
        case int(1 | 2) | float(1.5 | 2.5):
            return "number"
        case Name(name=None | True | False as flag):
            return ("flag", flag)
        case Name() | Attribute(attrname="zz"):
            return "either"
    return None


def alternatives_capture(value):
    match value:
        case Attribute(attrname=("one" | "two") as got, expr=[x] | (x, _)):
            return (got, x)
        case Attribute(expr=Name(name=x) | Attribute(attrname=x)):
            return ("inner", x)
    return None


def class_alternatives(value):
    match value:
        case Attribute(attrname="a" | "b") | Name(name="c" | "d"):
            return "alt"
        case [Attribute(attrname="e" | "f"), *_] | {"x": Name("g" | "h")}:
            return "inside"
        case Name(name=str() | bytes() as text) if len(text) > 3:
            return "long"
    return None


SUBJECTS = [Attribute("a", 1), Name("d"), [Attribute("f", 0), 1], {"x": Name("h")}, Name("long"),
    Name(b"four"), Name("abc"), {"x": Name("i")},

    Attribute("nan", Name("x")), Attribute("NaN", Name("y")), Attribute("nan", 5),
    Attribute("inf", Name("i")), Attribute("x", None), Attribute("y", 1),
    Attribute("n", Attribute("a", Name("s"))), Attribute("n", Attribute("b", Name("u"))),
    Attribute("n", Name("q")), Attribute("g", None), Attribute("h", 2),
    Attribute("one", [7]), Attribute("two", (8, 9)), Attribute("one", "ab"),
    Attribute("m", Name("deep")), Attribute("m", Attribute("k", None)), Attribute("zz", 0),
    Name("a"), Name(None), Name(True), Name(0), Name(1),
    {"k": 1, "n": Name("a")}, {"k": 2, "n": Name("c")}, {"k": 3, "x": 1, "y": 2},
    {"k": Color.GREEN}, {"k": 1},
    [1, Name("z"), 3, 4], (2, Name("w")), [3, Name("z")], [Attribute("p", 1), 2],
    "a", "c", 1, 2, 1.5, 3.0, True, None, 5, object(), [], {},
]


class Failing:
    __match_args__ = ("value",)

    @property
    def value(self):
        raise KeyError("value")


def escaping():
    # An exception raised while matching leaves the match statement as Python's does.
    match Failing():
        case Failing(value=1 | 2):
            return "matched"
    return "not matched"


def report():
    try:
        escaping()
    except KeyError as error:
        print("KeyError", error)
    for function in (keyword_or, positional_or, nested, mapping, sequence, builtins_or,
                     alternatives_capture, class_alternatives):
        print(function.__name__, [function(subject) for subject in SUBJECTS])
    for flag in (True, False):
        print("guarded", flag, [guarded(subject, flag) for subject in SUBJECTS])
)PY"},
      {"andor.py",
       R"PY(# `value and (1,) or (0,)` (how pyasn1 picks a tag's encoding): tuples of C values as operands.
def pick(value):
    return value and (1,) or (0,)


def chain(value, other):
    return value and (1, 2) or other and (3,) or ()


def nested(value):
    first = value and [1] or [0]
    return first, not (value and (1,) or ()), (2.5, "x") if value else (1, 2)


def report():
    print([pick(value) for value in (1, 0, "", "x", None)])
    print([chain(value, other) for value in (0, 2) for other in (0, 1)])
    print(nested(0), nested(5), (4,) or (5,), () or (6, 7))
)PY"},
      {"decorated_classes.py",
       R"PY(# Generator expressions, comprehensions and lambdas in a class's decorators and bases (how
# threadpoolctl declares its controllers) run in the scope around the class.
def options(**kwargs):
    def apply(cls):
        cls.OPTIONS = {**getattr(cls, "OPTIONS", {}), **kwargs}
        return cls
    return apply


def base(*parts):
    return type("Base", (), {"PARTS": parts})


@options(X=", ".join(a for a in ("a", "b")), key=lambda v: v * 2)
class Controller:
    pass


def local(n):
    @options(squares=[i * i for i in range(n)], scaled=(a * n for a in range(n)),
             key=lambda v: v + n)
    @options(inner={k: n for k in "ab"})
    class Local(base(*(p for p in (n, n + 1)))):
        pass
    return Local


def report():
    made = local(3)
    print(Controller.OPTIONS["X"], Controller.OPTIONS["key"](4))
    print(Controller.OPTIONS["key"].__qualname__, made.OPTIONS["key"].__qualname__)
    print(made.OPTIONS["scaled"].__qualname__, made.OPTIONS["scaled"].__name__)
    print(made.OPTIONS["squares"], list(made.OPTIONS["scaled"]), made.OPTIONS["key"](1))
    print(made.PARTS, made.__qualname__, made.__mro__[1].__name__, sorted(made.OPTIONS))
)PY"},
      {"relative.py", R"PY(import retrying.retry
import retrying
import retrying.asyncio
import retrying.asyncio.deeper


def report():
    package = retrying.asyncio
    print(package.retry_if_result(lambda v: v * 10), package.retry_if_result.__module__)
    print(package.OWN_KIND, package.own_retry.__name__, package.parent_retry.__name__,
          package.PARENT_KIND, package.DEPTH)
    print(package.AsyncRetrying.retry(str), retrying.retry_if_result(str), retrying.KIND)
    deeper = retrying.asyncio.deeper
    print(deeper.ASYNC_KIND, deeper.top_retry.__name__, deeper.more.__name__)
)PY"},
      {"retrying/__init__.py",
       R"PY(# how tenacity lays out its package: the parent's module of a name is loaded first
from .retry import retry_if_result, KIND
from .asyncio import AsyncRetrying
)PY"},
      {"retrying/retry.py", R"PY(KIND = "sync"


def retry_if_result(predicate):
    return ("sync", predicate(1))
)PY"},
      {"retrying/asyncio/__init__.py", R"PY(from .retry import retry_if_result
from .retry import KIND as OWN_KIND
from . import retry as own_retry
from .. import retry as parent_retry
from ..retry import KIND as PARENT_KIND
from .deeper.more import DEPTH


class AsyncRetrying:
    retry = staticmethod(retry_if_result)
)PY"},
      {"retrying/asyncio/retry.py", R"PY(KIND = "async"


def retry_if_result(predicate):
    return ("async", predicate(2))
)PY"},
      {"retrying/asyncio/deeper/__init__.py", R"PY(from ..retry import KIND as ASYNC_KIND
from ... import retry as top_retry
from . import more
)PY"},
      {"retrying/asyncio/deeper/more.py", R"PY(from .. import retry as async_retry
from ...retry import KIND

DEPTH = (async_retry.KIND, KIND)
)PY"},
  };
  // Tabs written as escapes: each block is consistent, as Python requires, the file is not.
  files["tabbed.py"] =
      "# Blocks indented with tabs beside blocks indented with spaces, as ANTLR writes parsers.\n"
      "def tabs(x):\n"
      "\tif x:\n"
      "\t\treturn \"tab\"\n"
      "\treturn \"\"\"lines\n"
      "\twith a tab\"\"\"\n"
      "\n"
      "\n"
      "def spaces(x):\n"
      "    total = (1,\n"
      "\t     2)\n"
      "    if x:\n"
      "        for item in [\n"
      "\t\t3,\n"
      "  4]:\n"
      "            total += (item,)\n"
      "    return total\n"
      "\n"
      "\n"
      "class Parser:\n"
      "\tdef rule(self, token):\n"
      "\t\tif token:\n"
      "\t\t        return \"both\"\n"
      "\t\telse:\n"
      "\t\t\treturn \"tabs\"\n"
      "\n"
      "    \n"
      "\tdef other(self):\n"
      "\t\treturn [c for c in \"ab\"]\n"
      "\n"
      "\n"
      "def report():\n"
      "    print(tabs(1), tabs(0), spaces(0), spaces(1))\n"
      "    print(Parser().rule(1), Parser().rule(0), Parser().other())\n";
  return files;
}

// An exception raised while matching a class pattern ends the product as it ends CPython.
void expectSameEscape(const Outcome& actual, const Outcome& expected) {
  EXPECT_EQ(expected.status, 1) << expected.all();
  EXPECT_EQ(actual.status, 1) << actual.all();
  EXPECT_EQ(lastLine(actual.err), "KeyError: 'value'");
  EXPECT_EQ(lastLine(actual.err), lastLine(expected.err));
}

TEST(PackageShapesProgram, ComputesWhatPythonComputes) {
  Project project("package-shapes", caseFiles());
  const Outcome build = project.build({"cases", "*.py", "retrying/**/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string program = (project.buildDir() / "cases").string();
  expectCasesAsPython(program, "cases.py", caseNames, project.dir());
  const Outcome expected =
      run({buildPython().string(), "cases.py", "patterns.escaping"}, project.dir());
  const Outcome actual = run({program, "patterns.escaping"}, project.dir());
  EXPECT_EQ(actual.out, "[patterns.escaping]\n");
  expectSameEscape(actual, expected);
}

// What Python's tokenizer refuses, a tab where the block was indented with spaces, the build
// refuses too, naming the module and the line.
TEST(PackageShapesProgram, RefusesWhatPythonRefuses) {
  Project project("inconsistent-tabs",
                  {{"inconsistent.py", "def main():\n    if 1:\n        x = 1\n\ty = 2\n"}});
  const Outcome python = run({buildPython().string(), "inconsistent.py"}, project.dir());
  EXPECT_EQ(lastLine(python.err), "TabError: inconsistent use of tabs and spaces in indentation");
  const Outcome build = project.build({"inconsistent", "inconsistent.py"});
  EXPECT_NE(build.status, 0) << build.all();
  EXPECT_NE(build.all().find("inconsistent.py:4"), std::string::npos) << build.all();
  EXPECT_NE(build.all().find("failed to translate module inconsistent"), std::string::npos);
  EXPECT_FALSE(fs::exists(project.buildDir() / "inconsistent"));
}

TEST(PackageShapesLibrary, AnswersWhatPythonAnswers) {
  std::map<std::string, std::string> files = caseFiles();
  files["pyproject.toml"] = "[project]\nname = \"package-shapes\"\nversion = \"1.0\"\n";
  Project project("package-shapes-library", files);
  const Outcome build =
      project.build({"--library", "--wheel", "dist", "cases", "*.py", "retrying/**/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string useAll = "import cases\ncases.main()\n";
  const std::string escape = "import patterns\npatterns.escaping()\n";
  const auto [python, imported] =
      expectWheelAnswersAsPython(project.dir(), "package-shapes", useAll);
  for (const std::string& name : caseNames)
    EXPECT_NE(imported.out.find("[" + name + "]\n"), std::string::npos) << name;
  expectSameEscape(runClean({python.string(), "-c", escape}, "/"),
                   run({buildPython().string(), "-c", escape}, project.dir()));
}

} // namespace
} // namespace quorvex::e2e
