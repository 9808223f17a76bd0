// Code that compiled programs once computed differently from CPython, built as one program and
// run beside CPython on the same sources, one case at a time: each helper module of the
// project holds a case, and parity.main() runs the cases named on its command line (all of
// them without arguments). Cases of compiled functions are also built as a library's wheel.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> parityFiles = {
    {"parity.py", R"(import importlib
import sys

# Each case is a module of its own with a report(): one that fails to load fails its case alone.
CASES = ["order", "kinds", "decorated", "unbound", "characters", "names", "deep", "places",
         "anonymous", "supers", "defaults", "namespace", "features", "pythontypes",
         "importhook", "control"]


def main():
    for name in sys.argv[1:] or CASES:
        print(f"[{name}]")
        importlib.import_module(name).report()


if __name__ == "__main__":
    main()
)"},
    // Operands are evaluated left to right, also when a later one rebinds a name read earlier.
    {"order.py", R"(def displays(x):
    made = (x, x := x + 1), [x, x := x + 1, x], {x, (x := x + 1)}
    return made, {x: x, "next": (x := x + 1), "last": x}


def call_arguments(x):
    def given(*args, **kwargs):
        return args, kwargs
    return given(x, x := x + 1), given(x, key=(x := x + 1)), given(*[x], x := x * 2)


def c_integers(text):
    n = len(text)
    m = len(text)
    return (n + (n := 100), (n, n := n - 1, n)), m * 2 < (m := m * 3)


def graphemes(text):
    # how rich splits a text into spans
    spans = []
    index = 0
    while index < len(text):
        spans.append((index, index := index + 1, text[index - 1]))
    return spans


def comprehension(values):
    total = 0
    return [(total, total := total + value) for value in values], total


def rebound_by_inner_function():
    x = 1

    def bump():
        nonlocal x
        x += 1
        return x
    return (x, bump()), [x, bump(), x], x + bump(), {x: bump()}


def report():
    print(displays(10))
    print(call_arguments(10))
    print(c_integers("abc"))
    print(graphemes("a\u00e9\u4e2d"))
    print(comprehension([1, 2, 3]))
    print(rebound_by_inner_function())
)"},
    // A value that is an int in one place and a float in another stays an int where it is one.
    {"kinds.py", R"(def number(text):
    # how docutils reads a length
    try:
        value = int(text)
    except ValueError:
        value = float(text)
    return value


def branches(text, wide):
    if wide:
        size = len(text)
    else:
        size = 0.5
    ratio = 2
    if not wide:
        ratio = 2.5
    both = 1
    if not text:
        both = 1j
    return size, ratio, both


def expressions(text, wide):
    n = len(text)
    picked = n if wide else 0.5
    return picked, n or 0.5, max(n, 0.5), min(0.5, n, 10.0), max(2, 0.5)


def items(text):
    seen = [item for item in (len(text), 2.5)]
    at = 0
    return seen, [3, 2.5][at]


def by_zero():
    # Division by a zero of each kind, in the words Python uses for it.
    one, zero, half, nothing = 1, 0, 0.5, 0.0
    for divide in (lambda: one / zero, lambda: one // zero, lambda: one % zero,
                   lambda: half / nothing, lambda: half // nothing, lambda: half % nothing,
                   lambda: one / nothing, lambda: divmod(one, zero),
                   lambda: divmod(half, nothing), lambda: 7 % zero):
        try:
            divide()
        except ZeroDivisionError as error:
            print(error, end="; ")
    print()


def unpacking():
    # Displays that do not unpack raise when the line runs; the module compiles.
    def three():
        a, b = [1, 2, 3]

    def text():
        x, y = "abc"

    def nested():
        (a, b), c = [1, 2, 3], 4

    def short():
        a, *b, c, d = [1, 2]
    for case in (three, text, nested, short):
        try:
            case()
        except ValueError as error:
            print(case.__name__, str(error).startswith("too many"), end="; ")
    a, b = [1, 2]
    (c, d), *e = (3, 4), 5, 6
    print(a, b, c, d, e)


def report():
    by_zero()
    unpacking()
    print([number(text) for text in ("8", "12", "1.5", "-3")])
    print(["%s%s" % (number(text), unit) for text, unit in (("12", "em"), ("8", "ex"))])
    print(branches("abc", True), branches("", False))
    print(expressions("abc", True), expressions("abc", False))
    print(items("abcd"))
)"},
    // Decorators apply from the bottom up, also when staticmethod is one of them.
    {"decorated.py", R"(import functools
from abc import ABC, abstractmethod


class Directive(ABC):
    # how mistune declares its directives
    @staticmethod
    @abstractmethod
    def parse_type(m):
        """The directive's type."""
        raise NotImplementedError()

    @classmethod
    @abstractmethod
    def create(cls):
        raise NotImplementedError()

    @property
    @abstractmethod
    def name(self):
        raise NotImplementedError()


class Fenced(Directive):
    @staticmethod
    def parse_type(m):
        return m.upper()

    @classmethod
    def create(cls):
        return cls()

    @property
    def name(self):
        return "fenced"


class Squares:
    @staticmethod
    @functools.lru_cache(maxsize=None)
    def square(n):
        return n * n


def report():
    try:
        Directive()
    except TypeError as error:
        print(type(error).__name__, sorted(Directive.__abstractmethods__))
    plain = Directive.__dict__["parse_type"]
    print(type(plain).__name__, plain.__isabstractmethod__, Directive.parse_type.__doc__)
    print(Fenced.parse_type("admonition"), Fenced.create().name, Fenced.__abstractmethods__)
    print(Squares.square(3), Squares().square(3), Squares.square.cache_info())
)"},
    // Anonymous functions carry Python's names, which code tests to tell them apart.
    {"names.py", R"(key = lambda item: item[1]


class Table:
    sort = lambda self, rows: sorted(rows, key=key)


def report():
    scale = lambda n: n * 2
    squares = (n * n for n in range(3))
    for function in (key, Table.sort, scale, squares):
        print(function.__name__, function.__qualname__, function.__name__ == "<lambda>")
    print(list(squares), Table().sort([(1, 2), (3, 1)]))
)"},
    // Lambdas that hold lambdas, comprehensions and generator expressions, at every level.
    {"anonymous.py", R"(count = lambda t: sum(1 for x in t if x)
first = lambda t: next((x for x in t), None)
joined = lambda t: "".join(str(x) for x in t)
doubled = lambda t: (x * 2 for x in t)
scale = lambda n: (lambda k: n * k)
listed = lambda t: [x + 1 for x in t]
kinds = lambda t: {x % 3 for x in t}
squares = lambda t: {x: x * x for x in t}
deep = lambda a: (lambda b: (lambda c: [a + b + c + x for x in range(2)]))


class Shapes:
    any_empty = lambda self, t: any(not x for x in t)
    maker = lambda self: (lambda k: [k] * 2)
    sizes = staticmethod(lambda t: {len(x) for x in t})


def local():
    pick = lambda t: [x for x in t if x]
    pair = lambda n: (lambda k: (n, k))
    return pick, pair, lambda t: (y for y in t)


def report():
    pick, pair, lazy = local()
    for function in (count, first, joined, doubled, doubled([1]), scale, scale(2), listed, kinds,
                     squares, deep, deep(1), deep(1)(2), Shapes.any_empty, Shapes.maker,
                     Shapes().maker(), Shapes.sizes, pick, pair, pair(1), lazy, lazy([])):
        print(function.__name__, function.__qualname__)
    print(count([0, 1, 2]), first([]), first("ab"), joined([1, 2]), list(doubled([1, 2])))
    print(scale(3)(4), listed([1, 2]), sorted(kinds(range(5))), squares([1, 2]), deep(1)(2)(3))
    print(Shapes().any_empty([1, ""]), Shapes().maker()(5), sorted(Shapes.sizes(["a", "bb"])))
    print(pick([0, 1, None, 2]), pair(1)(2), list(lazy("ab")))
)"},
    // Future statements bind their features' names, and change what they changed before. A
    // function lists Python's attributes, less the few that the README names.
    {"features.py", R"PY("""Future statements follow a docstring."""
from __future__ import annotations, division as true_division
from __future__ import generator_stop
import sys

OTHERWISE = {"__annotate__", "__annotate_cython__", "__vectorcalloffset__", "__builtins__",
             "__type_params__"}


def scaled(x: Unknown) -> list[Unknown]:
    return x / 2


class Shape:
    def area(self, scale: Unknown = 1):
        return [scale for _ in range(2)]


def report():
    for function in (scaled, Shape.area, Shape().area, lambda: 0):
        print([name for name in dir(function) if name not in OTHERWISE])
    print(scaled(3), scaled.__annotations__, Shape.area.__annotations__)
    print(sorted(name for name in globals() if not name.startswith("__")))
    future = sys.modules["__future__"]
    print(annotations is future.annotations, true_division is future.division,
          generator_stop is future.generator_stop, repr(annotations))
)PY"},
    // Zero-argument super() in the comprehensions of a method is the method's.
    {"supers.py", R"(class Base:
    def split(self, sep=None):
        return ["base", sep]

    def scaled(self, k):
        return k * 2

    @classmethod
    def made(cls, k):
        return cls.__name__, k


class Markup(str):
    # how markupsafe splits its strings
    def split(self, sep=None, maxsplit=-1):
        return [self.__class__(v) for v in super().split(sep, maxsplit)]

    def splitlines(self, keepends=False):
        return list(self.__class__(v) for v in super().splitlines(keepends))


class Child(Base):
    def lists(self):
        return [super().scaled(k) for k in super().split("x")]

    def sets(self):
        return {super().scaled(k) for k in (1, 2)}

    def dicts(self):
        return {k: super().scaled(k) for k in (1, 2)}

    def lazy(self):
        return list(k for k in super().split("x"))

    def nested(self):
        return [[super().scaled(j) for j in range(i)] for i in range(3)]

    def generator(self):
        yield [super().scaled(k) for k in (1,)]

    @classmethod
    def made_all(cls):
        return {k: super().made(k) for k in (1, 2)}


def report():
    parts = Markup("a b").split()
    print(parts, type(parts[0]).__name__, Markup("x\ny").splitlines())
    child = Child()
    print(child.lists(), child.sets(), child.dicts(), child.lazy(), child.nested())
    print(list(child.generator()), Child.made_all())
)"},
    // Calls use the defaults assigned to a function, silently.
    {"defaults.py", R"(def attempt(call):
    try:
        return repr(call())
    except TypeError as error:
        return f"TypeError: {error}"


def power(base, exp=2, *rest, mod=None, **more):
    return base, exp, rest, mod, more


def listed(items=[], *, into={}):
    return items, into


class Vector:
    def scaled(self, k=1):
        return k

    @staticmethod
    def unit(n=1):
        return n


def wide(a, b=0, c=0, d=0, e=0, f=0, g=0, h=0, i=0, j=0, k=0, l=0, *, m=0, n=0, o=0):
    return a, b, c, d, e, f, g, h, i, j, k, l, m, n, o


def deprecated(fn):
    # how pyparsing's replaced_by_pep8 makes its functions of old names
    def inner(*args, **kwargs):
        return fn(*args, **kwargs)
    inner.__kwdefaults__ = None
    return inner


def report():
    print(power(3), power.__defaults__, power.__kwdefaults__)
    power.__defaults__ = (3,)
    power.__kwdefaults__ = {"mod": 5}
    print(power(2), power(2, 4), power(2, mod=1), power(2, 3, 4, x=1))
    print(power.__defaults__, power.__kwdefaults__, deprecated(power)(1, mod=2))
    power.__defaults__ = None
    print(attempt(lambda: power()), attempt(lambda: power(1)), power(1, 2))
    power.__kwdefaults__ = {}
    print(attempt(lambda: power(1, 2)), attempt(lambda: power(exp=1, mod=0)), power(1, 2, mod=3))
    del power.__defaults__, power.__kwdefaults__
    print(power.__defaults__, power.__kwdefaults__, attempt(lambda: power(1, 2)))
    listed.__kwdefaults__ = {"into": "new"}
    print(listed(), listed.__defaults__)
    listed.__defaults__ = ((1,),)
    print(listed(), listed.__kwdefaults__)
    Vector.scaled.__defaults__ = (7,)
    Vector.unit.__defaults__ = (8,)
    print(Vector().scaled(), Vector.unit(), Vector().unit(2))
    shift = lambda x, by=1: x + by
    shift.__defaults__ = (10, 20)
    print(shift(), shift(1), shift(1, 2))
    wide.__defaults__ = tuple(range(1, 12))
    wide.__kwdefaults__ = {"m": 12, "n": 13, "o": 14}
    print(wide(0), wide(0, e=-4, o=-14), wide(*range(12), n=-13), attempt(lambda: wide(b=1)))
)"},
    // Code that once ended compiled code by a signal where CPython raises or goes on.
    {"control.py", R"PY(def unbound_locals():
    try:
        raise ValueError
    except ValueError as e:
        pass
    # `e` is unbound here; bumped() below writes a name `e` through nonlocal
    return sorted(locals()), eval("len(dir())")


def bumped():
    e = 0

    def bump():
        nonlocal e
        e += 1
    bump()
    return e, sorted(locals())


def nested_recursion():
    def down(n):
        return down(n + 1) + 1

    def forever():
        return forever()
    for runaway in (lambda: down(0), forever):
        try:
            runaway()
        except RecursionError as error:
            print(type(error).__name__, error)

    def depth(n, acc):
        return acc if n == 0 else depth(n - 1, acc + 1)
    print(depth(500, 0))


def leaving_finally(x):
    # how test_grammar checks break and continue in finally after return
    for count in [0, 1]:
        count2 = 0
        while count2 < 20:
            count2 += 10
            try:
                return count + count2
            finally:
                if x:
                    break
    return "end", count, count2


def continuing_finally(x):
    for count in (0, 1):
        for count2 in [10, 20]:
            try:
                try:
                    return [count, count2]
                finally:
                    if x > 1:
                        continue
            finally:
                if x:
                    continue
    return "end", count, count2


def deleted_cells():
    # `del` of a variable a nested function uses, also through nonlocal and as the implicit
    # deletion of an `except ... as` target that a lambda keeps
    x = 1

    def read():
        return x
    seen = [read()]
    del x
    seen.append(attempt(read))
    x = 3
    seen.append(read())
    y = 2

    def forget():
        nonlocal y
        del y
    forget()
    seen.append(attempt(lambda: y))
    try:
        seen.append(y)
    except NameError as error:
        seen.append((type(error).__name__, str(error)))
    try:
        raise ValueError("kept")
    except ValueError as e:
        keep = lambda: e
    seen.append(attempt(keep))
    return seen


def attempt(call):
    try:
        return call()
    except NameError as error:
        return type(error).__name__, str(error)


def refused_once():
    # valid code that Cython or gcc once refused: Python raises or answers when it runs
    add = set.add
    items = set()
    add(items, 1)
    for call in (lambda: add(), lambda: add(0), lambda: float(x=2), lambda: float(**{}),
                 lambda: float(*["1.5"])):
        try:
            print(repr(call()), end="; ")
        except TypeError as error:
            print(error, end="; ")
    listed = []
    print(items, listed.append == listed.append, listed.append == [].append,
          listed.append != listed.append, {}.get == {}.get)

    class Meta(int):
        def __new__(cls, name, bases, attrs, **kwargs):
            return bases, kwargs

    keywords = {"metaclass": Meta}

    class A(0, 1, 2, **keywords):
        pass

    class B(0, *range(1, 3), **keywords, foo="bar"):
        pass
    print(A, B)


def report():
    print(unbound_locals(), bumped())
    print(deleted_cells())
    refused_once()
    nested_recursion()
    print([leaving_finally(x) for x in (False, True)])
    print([continuing_finally(x) for x in (0, 1, 2)])
)PY"},
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
    // A local variable read before it is assigned raises UnboundLocalError, whatever it holds.
    {"unbound.py", R"(def attempt(function, *args):
    try:
        return repr(function(*args))
    except NameError as error:
        return f"{type(error).__name__}: {error}"


def branch(flag):
    if flag:
        count = 1
    return count


def halved(flag):
    if flag:
        ratio = 1.5
    return ratio / 2


def last_index(items):
    for index in range(len(items)):
        pass
    return index


def derived(flag):
    if flag:
        base = 3
    following = base + 1
    return following


def produced(flag):
    if flag:
        step = 2
    yield step


def dropped(flag):
    kept = 5
    if flag:
        del kept
    return kept


def always(text):
    # assigned before every read: typed as before
    n = len(text)
    total = 0
    for k in range(n):
        total += k
    return total, n


def report():
    for function, arg in ((branch, 0), (branch, 1), (halved, 0), (halved, 1), (last_index, []),
                          (last_index, [1, 2]), (derived, 0), (derived, 1), (dropped, 1),
                          (dropped, 0), (always, "abc")):
        print(function.__name__, attempt(function, arg))
    print(attempt(lambda: list(produced(0))), attempt(lambda: list(produced(1))))
)"},
    // A module body's locals are its namespace: exec and eval without one (six's exec_) and
    // writes to the caller's f_locals, from a function made by exec or a compiled one, reach
    // the module, in a package's __init__ as well; names the frame machinery uses keep the
    // module's values.
    {"namespace.py", R"PY(import builtins
import sys
import spaces

exec_ = getattr(builtins, "exec")
eval_ = getattr(builtins, "eval")
exec_("def made_by_exec():\n    return 42\n")
exec_("def plant_by_exec(name, value):\n    sys._getframe(1).f_locals[name] = value\n")
plant_by_exec("PLANTED", 7)


def plant(name, value):
    sys._getframe(1).f_locals[name] = value


plant("PLANTED_HERE", 8)
SAME = eval_("locals() is globals()")
f, args, kwds, run, module = "f", "args", "kwds", "run", "module"
exec_("f, args = args, f")
NAMES = eval_("sorted(name for name in locals() if not name.startswith('__'))")
BODY_LOCALS = sys._getframe(0).f_locals is globals()


def report():
    print(made_by_exec(), PLANTED, PLANTED_HERE, SAME, BODY_LOCALS, f, args, kwds, run, module)
    print(NAMES)
    print(spaces.raise_from.__module__, spaces.SAME, spaces.inner.WHERE, sorted(spaces.inner.SEEN))
    try:
        spaces.raise_from(ValueError("outer"), KeyError("inner"))
    except ValueError as error:
        print(repr(error), repr(error.__cause__))
)PY"},
    {"spaces/__init__.py", R"PY(import builtins

getattr(builtins, "exec")("def raise_from(value, from_value):\n"
                          "    raise value from from_value\n")
SAME = getattr(builtins, "eval")("locals() is globals()")
from . import inner
)PY"},
    {"spaces/inner.py", R"PY(import builtins

WHERE = getattr(builtins, "eval")("__name__")
SEEN = getattr(builtins, "eval")("[n for n in locals() if n in ('builtins', 'WHERE')]")
)PY"},
    // chr() of a constant raises what Python's chr raises for it. An int compared with a
    // one-character string is compared with the string, not with the character's code.
    // Constant arguments that differ only in the sign of a zero stay apart; False and True
    // index as bools, not as 0 and 1.
    {"characters.py", R"(import sys


def attempt(make):
    try:
        return repr(make())
    except (ValueError, OverflowError, TypeError) as error:
        return f"{type(error).__name__}: {error}"


def compare():
    n = 1
    print(attempt(lambda: 1 < "a"), attempt(lambda: n < b"a"), attempt(lambda: True < "a"))
    print([i for i in range(100) if i == "a"], len("x" * 97) == "a", ord("a") != "a",
          len(sys.argv) == "\x01")
    print([c == "l" for c in "hello"], [c == b"a" for c in b"ab"], "a" == b"a")
    for item in (b"a", b"b"):
        print(item, item == b"b", end=" ")
    for item in ("a", "b"):
        print(item, item == "b", item < "b")


def signs(*values):
    return repr(values)


class Keys:
    def __getitem__(self, key):
        return type(key).__name__, key

    def __setitem__(self, key, value):
        print("set", type(key).__name__, key, value)


def report():
    compare()
    print(signs(0.0, 1.0), signs(-0.0, 1.0), signs((-0.0,), 2), signs((0.0,), 2))
    print(signs(0j, 1), signs(-0.0 + 0j, 1), signs(complex(-0.0, -0.0), 1))
    keys = Keys()
    keys[True] = "value"
    print(keys[False], keys[True], keys[0], [1, 2][True], "ab"[False], {0: "zero"}[False])
    print(attempt(lambda: chr(65)), attempt(lambda: chr(0x10FFFF)))
    print(attempt(lambda: chr(-1)), attempt(lambda: chr(0x110000)))
    print(attempt(lambda: chr(2**31)), attempt(lambda: chr(-2**31 - 1)))
    print(attempt(lambda: chr(2**32 + 65)), attempt(lambda: chr(2**40)))
    print(attempt(lambda: chr(2**64 + 65)), attempt(lambda: chr(-2**100)))
    # a value known only when running: Cython words the overflow its own way
    for value in (65, -1, 2**40):
        try:
            print(repr(chr(value)))
        except (ValueError, OverflowError) as error:
            print(type(error).__name__)
)"},
    // Compiled functions, methods, generators, coroutines and async generators are what Python's
    // own are to isinstance() and to what asks their __class__, while type() stays Cython's.
    {"pythontypes.py", R"PY(import collections.abc
import copy
import functools
import inspect
import pickle
import types
import typing
from unittest import mock


def plain(x: int) -> int:
    return x


def gen():
    yield 1


async def coro():
    return 1


async def agen():
    yield 1


class K:
    def meth(self):
        return 1


TYPES = ["FunctionType", "LambdaType", "MethodType", "GeneratorType", "CoroutineType",
         "AsyncGeneratorType", "BuiltinFunctionType"]
PREDICATES = ["isfunction", "ismethod", "isgenerator", "iscoroutine", "isasyncgen", "isbuiltin",
              "isroutine", "isgeneratorfunction", "iscoroutinefunction", "isasyncgenfunction"]


@functools.singledispatch
def kind(obj):
    return "other"


@kind.register
def _(obj: types.FunctionType):
    return "function"


@kind.register
def _(obj: types.GeneratorType):
    return "generator"


def attempt(action):
    try:
        return action()
    except Exception as error:
        return f"{type(error).__name__}: {error}"


def report():
    made = {"function": plain, "lambda": lambda: 0, "method": K().meth, "generator": gen(),
            "coroutine": coro(), "async generator": agen(), "builtin": len}
    for label, obj in made.items():
        print(label, [name for name in TYPES if isinstance(obj, getattr(types, name))],
              [name for name in PREDICATES if getattr(inspect, name)(obj)],
              obj.__class__.__name__, kind(obj),
              isinstance(obj, collections.abc.Callable), isinstance(obj, typing.Hashable))
    made["coroutine"].close()
    for function in (gen, coro, agen):
        print(function.__name__, [name for name in PREDICATES if getattr(inspect, name)(function)])
    print(K().meth.__func__.__class__ is types.FunctionType,
          isinstance(K.meth, types.FunctionType), isinstance(K.meth, types.MethodType))
    # What else asks __class__ or the type: copies, pickles, hints, mocks and assignment.
    print(copy.copy(plain) is plain, copy.deepcopy(plain) is plain,
          pickle.loads(pickle.dumps(plain)) is plain, typing.get_type_hints(plain))
    print(attempt(lambda: pickle.dumps(gen())).startswith("TypeError: cannot pickle"))
    spec = mock.create_autospec(plain)
    spec(3)
    print(attempt(lambda: spec.assert_called_once_with(3)), attempt(lambda: spec(1, 2)))
    with mock.patch.object(K, "meth", autospec=True) as patched:
        K().meth()
        print(patched.call_count, len(patched.call_args.args))

    def assign():
        plain.__class__ = K

    def delete():
        del plain.__class__
    print(attempt(assign), attempt(delete), type(plain.__class__).__name__)
    print(sorted(set(dir(lambda: 0)) - set(dir(plain))))

    # types.coroutine marks a generator function awaitable; a coroutine function stays itself.
    @types.coroutine
    def ticks(n):
        for _ in range(n):
            yield "tick"
        return n

    async def waits():
        return await ticks(2) + 1
    running, steps = waits(), []
    try:
        while True:
            steps.append(running.send(None))
    except StopIteration as done:
        print(steps, done.value, ticks.__name__, types.coroutine(coro) is coro)
)PY"},
    // Import statements ask a replaced builtins.__import__, with what CPython gives it.
    {"importhook.py", R"PY(import builtins
import sys
from unittest import mock

real_import = builtins.__import__
seen = []


def spy(name, globals=None, locals=None, fromlist=(), level=0):
    # Only this module's own imports: the modules they load import others.
    if globals is not None and globals.get("__name__") == __name__:
        seen.append((name, None if locals is None else locals is globals, fromlist, level))
    return real_import(name, globals, locals, fromlist, level)


def imports():
    import json
    from os import path, sep
    import xml.etree.ElementTree as tree
    return json.__name__, path.__name__, sep, tree.__name__


def refuse(name, globals=None, locals=None, fromlist=(), level=0):
    if name == "csv":
        raise ImportError(f"{name} refused")
    if name == "made_up":
        return types_namespace(name)
    return real_import(name, globals, locals, fromlist, level)


def types_namespace(name):
    import types
    return types.SimpleNamespace(__name__=name, answer=42)


def blocked():
    try:
        import csv
    except ImportError as error:
        return repr(error)
    return "imported"


def made_up():
    import made_up
    from made_up import answer
    return made_up.__name__, answer


def report():
    with mock.patch("builtins.__import__", spy):
        print(imports())
        exec("from json import *", globals())
    print(seen)
    with mock.patch("builtins.__import__", refuse):
        print(blocked(), made_up())
    seen.clear()
    print(builtins.__import__ is real_import, imports(), seen, blocked())
    del builtins.__import__
    try:
        import json
    except ImportError as error:
        print(repr(error))
    finally:
        builtins.__import__ = real_import
)PY"},
    // unittest's loader takes a compiled test method named on its command line for a function.
    {"suite.py", R"PY(import unittest


class Cases(unittest.TestCase):
    def setUp(self):
        self.value = 2

    def test_bound(self):
        self.assertEqual(self.value, 2)

    def test_other(self):
        self.fail("not run by name")
)PY"},
};

// `argv` run with a stack of 1 MiB, an eighth of the usual size.
std::vector<std::string> smallStack(std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"/bin/sh", "-c", "ulimit -s 1024 && exec \"$@\"", "sh"});
  return argv;
}


TEST(ParityProgram, ComputesWhatPythonComputes) {
  Project project("parity", parityFiles);
  const Outcome build = project.build({"parity", "*.py", "pkg/**/*.py", "spaces/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string program = (project.buildDir() / "parity").string();
  const std::string python = buildPython().string();
  expectCasesAsPython(program, "parity.py",
                      {"order", "kinds", "decorated", "unbound", "characters", "names", "deep",
                       "places", "anonymous", "supers", "defaults", "namespace", "features",
                       "pythontypes", "importhook", "control"},
                      project.dir());
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

// The cases of compiled functions, built as a library's wheel and imported by CPython, answer
// as their sources do.
TEST(ParityLibrary, AnswersWhatPythonAnswers) {
  std::map<std::string, std::string> files = {
      {"pyproject.toml", "[project]\nname = \"parity-cases\"\nversion = \"1.0\"\n"}};
  for (const std::string name :
       {"anonymous.py", "supers.py", "defaults.py", "namespace.py", "features.py",
        "pythontypes.py", "importhook.py", "control.py", "suite.py", "spaces/__init__.py",
        "spaces/inner.py"})
    files.insert(*parityFiles.find(name));
  Project project("parity-library", files);
  const Outcome build = project.build(
      {"--library", "--wheel", "dist", "anonymous", "anonymous.py", "supers.py", "defaults.py",
       "namespace.py", "features.py", "pythontypes.py", "importhook.py", "control.py",
       "suite.py", "spaces/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();

  const std::string useIt =
      "import anonymous, supers, defaults, namespace, features, pythontypes, importhook, control\n"
      "for case in (anonymous, supers, defaults, namespace, features, pythontypes, importhook,\n"
      "             control):\n"
      "    case.report()\n";
  const fs::path python = expectWheelAnswersAsPython(project.dir(), "parity", useIt).python;

  // One test method run by name binds to its test case, as its source's does.
  const std::string testName = "suite.Cases.test_bound";
  const Outcome sourceRun =
      run({buildPython().string(), "-m", "unittest", testName}, project.dir());
  const Outcome compiledRun = runClean({python.string(), "-m", "unittest", testName}, "/");
  for (const Outcome* outcome : {&sourceRun, &compiledRun}) {
    EXPECT_EQ(outcome->status, 0) << outcome->all();
    EXPECT_EQ(lastLine(outcome->err), "OK");
    EXPECT_NE(outcome->err.find("Ran 1 test in"), std::string::npos) << outcome->all();
  }
}

} // namespace
} // namespace quorvex::e2e
