// Arithmetic and builtins that compiled code computed otherwise than CPython, and builtin types'
// methods called unbound on instances of subclasses that override them: float floor division
// (1.0 // 0.1), the result of a short `list.extend`, a bytearray extended in a program, `divmod`
// as a value beside C calls of it, `pow` and `exec` with keywords, `format` with a spec that is
// no str; `dict.setdefault(self, ...)` in an ordered multi-dict, `list.pop`, `bytes.join`,
// `bytearray.append` and the numbers' operators called through the builtin type, and operators'
// methods called by name.
// Each case is a module with a report(); cases.main() runs the cases named on its command line.
// The cases are built as one program and as one library's wheel, and both answer as CPython
// does on the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> builtinCases = {"arithmetic", "builtin_calls", "unbound"};

const std::map<std::string, std::string> builtinFiles = {
    // Float `//` of C doubles beside `%` and divmod (whole quotients, signed zeros, infinities,
    // NaN, `//=`); what `items.extend([x])` gives; a bytearray extended and appended to.
    {"arithmetic.py", R"PY(import math


def floor_division():
    a = 1.0
    b = 0.1
    c = 7.0
    d = -0.7
    out = [a // b, c // d, 1.0 // 0.1, 7.0 // -0.7, -7.5 // 2.0, a == (a // b) * b + a % b]
    for num, den in ((-1.0, 0.1), (0.0, -3.0), (-0.0, 3.0), (1e308, 1e-308), (math.inf, 2.0),
                     (3.0, math.inf), (-3.0, math.inf), (math.nan, 1.0), (6.0, 2.0)):
        out.append(repr(num // den))
    n = 7
    t = 0.3
    t //= 0.1
    out += [n // b, t, divmod(a, b)]
    zero = 0.0
    try:
        a // zero
    except ZeroDivisionError as e:
        out.append(type(e).__name__)
    return out


def extends():
    items = [1]
    first = items.extend([2])
    second = items.extend([3, 4])
    third = list.extend(items, [5])
    fourth = items.extend([])
    return first, second, third, fourth, items


def byte_arrays():
    buf = bytearray(b"ab")
    buf.extend(b"cd")
    buf.append(33)
    return bytes(buf)


def report():
    print(floor_division())
    print(extends())
    print(byte_arrays())
)PY"},
    // divmod of C ints, then divmod as a value; pow and exec called with keywords; format with
    // a spec that is None, an int or bytes.
    {"builtin_calls.py", R"PY(def divmods():
    n = 7
    m = 2
    return divmod(7, 2), divmod(n, m), divmod(-n, m), divmod(7.5, 2.0)


def divmod_values(op=divmod):
    pair = (9, 4)
    return op(9, 4), list(map(divmod, [7, 8], [2, 3])), divmod(*pair)


def powers():
    out = [pow(2, exp=10), pow(base=3, exp=2), pow(2, 10, mod=1000), pow(base=2, exp=5, mod=7)]
    try:
        pow(2, expo=3)
    except TypeError as e:
        out.append(type(e).__name__)
    return out


def formats():
    out = [format(3, "03")]
    for spec in (None, 5, b"x"):
        try:
            out.append(format(3, spec))
        except TypeError as e:
            out.append(str(e))
    return out


def execs():
    namespace = {}
    exec("def outer():\n    x = 41\n    def inner():\n        return x + 1\n    return inner\n",
         namespace)
    inner = namespace["outer"]()
    scope = {}
    exec(compile("result = 'ran'", "<s>", "exec"), scope, closure=None)
    out = [scope["result"], exec(inner.__code__, {}, closure=inner.__closure__)]
    try:
        exec(inner.__code__, {}, closure=None)
    except TypeError as e:
        out.append(type(e).__name__)
    return out


def report():
    print(divmods(), divmod_values())
    print(powers())
    print(formats())
    print(execs())
)PY"},
    // Unbound methods of dict, list, bytearray, bytes, int and float on subclasses that override
    // them; the ordered multi-dict's methods call the builtin's own.
    {"unbound.py", R"PY(class Ordered(dict):
    # An ordered multi-dict's way: values are kept in lists by the builtin's own methods.
    def setdefault(self, key, default=None):
        return dict.setdefault(self, key, [default])[0]

    def __setitem__(self, key, value):
        dict.__setitem__(self, key, [value])

    def get(self, key, default=None):
        return dict.get(self, key, [default])[0]

    def pop(self, key, default=None):
        return dict.pop(self, key, [default])[0]


class Stack(list):
    def pop(self, *index):
        return "override"

    def append(self, item):
        return "override"


class Buffer(bytearray):
    def append(self, item):
        return "override"

    def extend(self, items):
        return "override"


class Joiner(bytes):
    def join(self, parts):
        return "override"


class Number(int):
    __hash__ = int.__hash__

    def __add__(self, other):
        return "override"

    def __eq__(self, other):
        return "override"


class Real(float):
    def __add__(self, other):
        return "override"

    def __truediv__(self, other):
        return "override"


def report():
    m = Ordered()
    m["a"] = 1
    print(m.setdefault("a", 2), m.setdefault("b", 3), m.get("b"), m.get("q", 4), m.pop("b"),
          m.pop("q", 5), dict.setdefault(m, "c"), sorted(dict.items(m)))
    s = Stack([1, 2, 3])
    list.append(s, 4)
    print(list.pop(s), list.pop(s, 0), list.pop(s, -1), list(s))
    b = Buffer(b"x")
    bytearray.append(b, 121)
    bytearray.extend(b, b"z")
    print(bytes(b), bytes.join(Joiner(b"-"), [b"1", b"2"]))
    n = Number(6)
    r = Real(2.5)
    print(int.__add__(n, 1), int.__eq__(n, 6), int.__add__(n, 1.5), float.__add__(r, 1.0),
          float.__truediv__(r, 2.0))
    one = len("a")
    print(one.__add__(1.5), one.__eq__(1.0), (2.5).__mod__(1), one.__floordiv__(0.5))
)PY"},
};

TEST(BuiltinParity, ProgramComputesWhatPythonComputes) {
  expectCaseProgramAsPython("cases", builtinFiles, builtinCases);
}

TEST(BuiltinParity, LibraryAnswersWhatPythonAnswers) {
  expectCaseLibraryAsPython("cases", builtinFiles, builtinCases);
}

} // namespace
} // namespace quorvex::e2e
