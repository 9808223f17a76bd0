// Builtins replaced after the modules loaded, as test suites replace them: a module global that
// shadows a builtin (`mod.len = ...`, mock.patch("pkg.mod.open"), written through the module's
// dict), a replaced builtin (mock.patch("builtins.print"), "builtins.input", "builtins.open",
// `builtins.len = ...`), calls of builtins that compiled code makes C (len of a list, isinstance,
// max of C ints, sorted, globals(), ord) and plain ones, each undone again. Each case is a module
// with a report(); the cases are built as one program and as one library's wheel, and both
// answer as CPython does on the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> patchedCases = {"shadowing", "mocking", "forms"};

const std::map<std::string, std::string> patchedFiles = {
    // Module globals that shadow builtins, set and deleted as attributes and through the
    // module's dict, over the builtin and over a replaced one.
    {"shadowing.py", R"PY(import builtins
import sys

this = sys.modules[__name__]


def size(items):
    return len(items)


def size_of_list():
    return len([1, 2, 3])


def is_int(x):
    return isinstance(x, int)


def own_names():
    return sorted(name for name in globals() if name in ("this", "fake"))


def code_of(c):
    return ord(c)


def report():
    print(size("abc"), size_of_list(), is_int(1), own_names())
    this.len = lambda x: -1
    this.isinstance = lambda x, t: False
    this.globals = lambda: {"fake": 1}
    print(size("abc"), size_of_list(), is_int(1), own_names())
    del this.len, this.isinstance, this.globals
    print(size("abc"), size_of_list(), is_int(1), own_names())
    real_len = builtins.len
    builtins.len = lambda x: 99
    try:
        first = size("abc"), size_of_list()
        this.len = lambda x: 7
        second = size("abc")
        del this.len
        third = size("abc")
    finally:
        builtins.len = real_len
    print(first, second, third, size("abc"))
    vars(this)["ord"] = lambda c: 0
    shadowed = code_of("a")
    del vars(this)["ord"]
    print(shadowed, code_of("a"))
)PY"},
    // mock.patch of builtins.print, builtins.input and builtins.open, of the module's own open
    // and print, and the builtins again once each patch is undone.
    {"mocking.py", R"PY(import io
import sys
from unittest import mock


def greet(name):
    print("hello", name)


def ask():
    return input("name? ")


def read(path):
    with open(path) as file:
        return file.read()


def report():
    with mock.patch("builtins.print") as fake:
        greet("Ann")
    print(fake.call_args_list)
    greet("Bob")
    sys.stdin = io.StringIO("read from stdin\n")
    with mock.patch("builtins.input", return_value="Cy"):
        print(ask())
    with mock.patch(__name__ + ".open", mock.mock_open(read_data="module's own")):
        print(read("nowhere"))
    with mock.patch("builtins.open", mock.mock_open(read_data="replaced")):
        print(read("nowhere"))
    try:
        read("/nonexistent/file")
    except FileNotFoundError as error:
        print("the real open again:", type(error).__name__)
    said = []
    with mock.patch.object(sys.modules[__name__], "print", lambda *words: said.append(words)):
        greet("Dee")
    greet("Eve")
    print(said)
)PY"},
    // Calls that compiled code makes C, in methods, a comprehension, with C-typed arguments,
    // keywords and unpacking, while the module's names are patched and after.
    {"forms.py", R"PY(import sys
from unittest import mock

this = sys.modules[__name__]


class Box:
    def __init__(self, items):
        self.items = list(items)

    def count(self):
        n = len(self.items)
        return n * 2

    def __repr__(self):
        return "Box(%d)" % len(self.items)


def largest(a: int, b: int):
    return max(a, b)


def keys(d):
    return sorted(d)


def check(x):
    if isinstance(x, str):
        return "text"
    return "other"


def lengths(rows):
    return [len(row) for row in rows]


def answers(box):
    return box.count(), repr(box), largest(2, 5), keys({"b": 1, "a": 2}), check("s"), lengths(["ab"])


def keywords(xs, d):
    a: int = 7
    return max(*xs), sorted(d, reverse=True), min(xs, default=0), divmod(a, 2), getattr(d, "x", 0)


def report():
    box = Box("abc")
    print(answers(box))
    with mock.patch.object(this, "len", return_value=10), \
            mock.patch.object(this, "max", lambda a, b: -1), \
            mock.patch.object(this, "sorted", lambda d: ["patched"]), \
            mock.patch.object(this, "isinstance", return_value=False):
        print(answers(box))
    print(answers(box))
    names = ["max", "sorted", "min", "divmod", "getattr"]
    print(keywords([3, 1], {"a": 1}))
    with mock.patch.multiple(this, create=True, **{name: lambda *a, **k: "fake" for name in names}):
        print(keywords([3, 1], {"a": 1}))
    print(keywords([3, 1], {"a": 1}))
)PY"}};

TEST(ReplacedBuiltins, ProgramSeesWhatPythonSees) {
  expectCaseProgramAsPython("patching", patchedFiles, patchedCases);
}

TEST(ReplacedBuiltins, LibrarySeesWhatPythonSees) {
  expectCaseLibraryAsPython("patching", patchedFiles, patchedCases);
}

} // namespace
} // namespace quorvex::e2e
