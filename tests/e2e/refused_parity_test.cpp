// Valid code that Cython once refused, crashed on or compiled wrongly, built as a program and as
// a library's wheel and run beside CPython on the same sources: an expression nested as deep as
// CPython compiles, the parts of a complex read in the stable ABI, the words of a division of
// int literals by zero, the names of traceback entries of functions that share a line, and
// forms of Python 3.7 to 3.10 that Cython's parser or typing did not take.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// A sum of `terms` terms over the names a and b, left to right as CPython nests it.
std::string longSum(int terms) {
  std::string sum = "a";
  for (int term = 1; term < terms; ++term) sum += term % 2 ? " + b" : " + a";
  return sum;
}

std::map<std::string, std::string> refusedFiles() {
  return {
      {"refused.py", R"(import deep
import entries
import forms
import parts
import zero


def main():
    for case in (deep, parts, zero, entries, forms):
        case.report()


if __name__ == "__main__":
    main()
)"},
      // 2,000 terms: CPython compiles up to about 3,000, Cython crashed from a few hundred on.
      {"deep.py", "def total(a, b):\n    return " + longSum(2000) + "\n\n\n" +
                      "def joined(a, b):\n    return " + longSum(1500) + "\n\n\n" +
                      "def report():\n"
                      "    print(total(1, 2), total(0.5, 1), joined('x', 'y')[:8],\n"
                      "          len(joined('x', 'yz')))\n"},
      {"parts.py", R"(def parts(x):
    z = complex(x)
    return z.real, z.imag, complex(x).real + complex(x).imag


class Twisted(complex):
    pass


def report():
    print(parts(3), parts(1.5 - 2j), parts("4+5j"), parts(Twisted(1, -1)))
    for bad in (None, "x"):
        try:
            parts(bad)
        except (TypeError, ValueError) as error:
            print(type(error).__name__, error)
)"},
      {"zero.py", R"(def attempt(divide):
    try:
        return divide()
    except ZeroDivisionError as error:
        return str(error)


def report():
    print(attempt(lambda: 1 / 0), attempt(lambda: 1.0 / 0), attempt(lambda: 1 / 0.0),
          attempt(lambda: 1 // 0), attempt(lambda: 1 % 0), attempt(lambda: 7 / (3 - 3)))
)"},
      // Compiled entries name a function with its module and class (Cython's "entries.Shape.area"
      // for CPython's "area"): the last part is compared.
      {"entries.py", R"(import traceback


def total(xs):
    return sum(10 / x for x in xs)


def helper(values):
    return sorted(values, key=lambda v: 1 / v)


class Shape:
    def area(self, xs):
        return [1 / x for x in xs]


def outer(n):
    def inner(k):
        return k / n
    return inner(3)
    # A lambda that never runs, as CPython's own tests hold some, names no entry.
    unreachable = lambda: 1 / 0


def shown(call, *args):
    try:
        call(*args)
    except ZeroDivisionError as error:
        return [(entry.name.rpartition(".")[2], entry.lineno)
                for entry in traceback.extract_tb(error.__traceback__)[1:]]


def report():
    for _ in range(2):
        print(shown(total, [1, 0]), shown(helper, [1, 0]), shown(Shape().area, [1, 0]))
        print(shown(outer, 0), shown(lambda: 1 / 0), shown(total, [0]))
)"},
      // Forms Cython's parser or its typing refused or never finished: assignment expressions
      // bare in subscripts and sets, an asynchronous generator expression outside `async def`,
      // `%`, `//` and ordering of complex numbers (TypeError when they run), infinite imaginary
      // literals, and variables that take tuples of themselves (a nested tuple, a cons list),
      // whose typing never ended.
      {"forms.py", R"(import asyncio


def walrus():
    a = [10, 20, 30]
    table = {0: "zero", 2: "two"}
    got = a[b := 1], b, table[k := 2], k, a[(j := 2)], j
    seen = {x := 5, x + 1}
    return got, sorted(seen), [[1, 2], [3, 4]][m := 1][m - 1]


def doubled(n):
    async def source():
        for i in range(n):
            yield i
    return (i * 2 async for i in source())


async def collect(agen):
    return [x async for x in agen]


def attempt(function):
    try:
        return function()
    except TypeError as error:
        return "TypeError: " + str(error)


def complex_operations():
    z, w = 1 + 1j, 2j

    def remainder_in_place():
        v = 1j
        v %= 2
        return v

    return [attempt(f) for f in (lambda: z % 1, lambda: z // 1, lambda: z < w,
                                 lambda: 1 >= z, lambda: z == w, remainder_in_place,
                                 lambda: z / 2)]


def infinite_imaginary():
    z0, z1 = -1e1000j, 1e1000j
    return z0, z1, 2e400j + 1, z1.imag, (lambda: 1e999j)()


def nested(a, n):
    t = (a,)
    for _ in range(n):
        t = (t,)
    return t


def cons(items):
    rest = None
    for item in items:
        rest = (item, rest)
    return rest


def report():
    print(walrus(), asyncio.run(collect(doubled(4))), type(doubled(1)).__name__)
    print(complex_operations(), infinite_imaginary())
    print(nested(1, 3), cons("abc"))
)"},
  };
}

TEST(RefusedProgram, ComputesWhatPythonComputes) {
  Project project("refused", refusedFiles());
  const Outcome build = project.build({"refused", "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  const Outcome outcome = expectSameAsPython((project.buildDir() / "refused").string(),
                                             "refused.py", {}, project.dir());
  EXPECT_EQ(outcome.status, 0) << outcome.all();
  EXPECT_NE(outcome.out.find("division by zero"), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.err, "");
}

TEST(RefusedLibrary, AnswersWhatPythonAnswers) {
  std::map<std::string, std::string> files = refusedFiles();
  files["pyproject.toml"] = "[project]\nname = \"refused-cases\"\nversion = \"1.0\"\n";
  Project project("refused-library", files);
  const Outcome build = project.build(
      {"--library", "--wheel", "dist", "deep", "deep.py", "parts.py", "zero.py", "entries.py",
       "forms.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string useIt = "import deep, entries, forms, parts, zero\n"
                            "for case in (deep, parts, zero, entries, forms):\n"
                            "    case.report()\n";
  expectWheelAnswersAsPython(project.dir(), "refused", useIt);
}

// A .pxd beside a module is applied only when the module defines everything it declares: a
// package's C API for cimporters and declarations written for a .pyx of the module's name are
// left out, and the module computes what CPython computes; a module's own declarations type it.
TEST(RefusedDeclarations, ApplyOnlyWhatTheModuleDefines) {
  Project project(
      "declared",
      {{"app.py", "import md\nimport mdict\nimport units\n\n\ndef main():\n"
                  "    print(md.mess_ratio('ab'), mdict.version(mdict.MultiDict(a=1)))\n"
                  "    print(units.area(1, 2), units.Box().volume(3))\n\n\n"
                  "if __name__ == '__main__':\n    main()\n"},
       {"mdict/__init__.py", "class MultiDict(dict):\n    pass\n\n\n"
                             "def version(md):\n    return len(md)\n"},
       {"mdict/__init__.pxd",
        "from cpython.object cimport PyObject\n\n\ncdef extern from \"mdict_capi.h\":\n"
        "    ctypedef struct MultiDict_CAPI:\n        pass\n\n"
        "    MultiDict_CAPI *MultiDict_GetCAPI() except NULL\n"
        "    object MultiDict_New(MultiDict_CAPI *capi, Py_ssize_t size)\n\n\n"
        "cdef inline object MultiDict_Make(MultiDict_CAPI *capi):\n"
        "    return MultiDict_New(capi, 0)\n"},
       {"md.py", "class CharInfo:\n    def __init__(self, character):\n"
                 "        self.character = character\n        self.alpha = character.isalpha()\n"
                 "\n\nclass Plugin:\n    def feed_info(self, character, info):\n"
                 "        self.seen = info.alpha\n\n\ndef mess_ratio(text):\n"
                 "    plugin = Plugin()\n    for character in text:\n"
                 "        plugin.feed_info(character, CharInfo(character))\n"
                 "    return plugin.seen\n"},
       {"md.pxd", "from libc.stdint cimport uint32_t\n\n\ncdef class CharInfo:\n"
                  "    cdef readonly str character\n    cdef readonly bint alpha\n\n\n"
                  "cdef CharInfo _char_info_from_codepoint(Py_UCS4 codepoint)\n\n\n"
                  "cdef class Plugin:\n    cdef bint seen\n"
                  "    cpdef void feed_info(self, str character, CharInfo info)\n"
                  "    cdef inline void _feed(self, Py_UCS4 codepoint, CharInfo info) noexcept\n"},
       {"units.py", "def area(w, h):\n    return w * h\n\n\nclass Box:\n"
                    "    def volume(self, d):\n        return d * 2\n"},
       {"units.pxd", "cpdef double area(double w, double h)\n"}});
  const Outcome build = project.build({"app", "*.py", "mdict/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  const Outcome outcome = run({(project.buildDir() / "app").string()}, project.dir());
  const Outcome expected = run({buildPython().string(), "app.py"}, project.dir());
  EXPECT_EQ(expected.out, "True 1\n2 6\n") << expected.all();
  // units.pxd is applied: area() takes and gives C doubles.
  EXPECT_EQ(outcome.out, "True 1\n2.0 6\n") << outcome.all();
  EXPECT_EQ(outcome.status, 0);

  // A module's own declarations that Cython refuses fail its build, naming the .pxd applied.
  Project refused("declared-wrongly",
                  {{"half.py", "def half(x):\n    return x / 2\n"},
                   {"half.pxd", "cpdef int half(int x, int y)\n"}});
  const Outcome failed = refused.build({"half", "half.py"});
  EXPECT_NE(failed.status, 0) << failed.all();
  EXPECT_NE(failed.all().find("half.pxd was applied to it"), std::string::npos) << failed.all();
  EXPECT_NE(failed.all().find("move it away"), std::string::npos) << failed.all();
}

} // namespace
} // namespace quorvex::e2e
