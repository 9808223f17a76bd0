// Function objects that libraries change as CPython lets them: the dict of keyword defaults
// changed in place, parameters with private names in class bodies, and an assigned __code__,
// which then runs with the function's own defaults and globals (networkx's argmap does all
// three). Each case is a module with a report(); functions.main() runs the cases named on its
// command line. The cases are built as one program and as one library's wheel, and both answer
// as CPython does on the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> functionCases = {"kwinplace", "mangled", "codeswap", "argmapped"};

const std::map<std::string, std::string> functionFiles = {
    // The dict that __kwdefaults__ gives, changed in place: calls (vectorcall, by tuple and dict,
    // through functools.partial, of a method) take what it holds, or miss what it lost.
    {"kwinplace.py", R"PY(import functools


def greet(name, *, greeting="hello", punct="!"):
    return f"{greeting} {name}{punct}"


def scaled(x, *, factor=2):
    return x * factor


class Counter:
    def step(self, *, by=1):
        return by


def report():
    print(greet("a"))
    defaults = greet.__kwdefaults__
    defaults["greeting"] = "hi"
    print(greet("b"), greet("c", greeting="yo"), greet(*["d"], **{}))
    print(functools.partial(greet, "e")(), defaults is greet.__kwdefaults__)
    del defaults["punct"]
    try:
        greet("f")
    except TypeError as error:
        print(error)
    defaults["punct"] = "?"
    print(greet("g"))
    Counter.step.__kwdefaults__["by"] = 5
    seen = scaled.__kwdefaults__
    print(scaled(3), scaled(3, factor=3), scaled.__kwdefaults__ is seen)
    seen["factor"] = 10
    print(scaled(3))
    print(Counter().step(), Counter.step(Counter()), Counter().step(by=2))
)PY"},
    // Private names of parameters in class bodies, at any depth, in lambdas and nested functions:
    // the keyword calls pass, __kwdefaults__, the code object's names and inspect.signature; a
    // class named only with underscores mangles nothing.
    {"mangled.py", R"PY(import inspect


class argmap:
    def __call__(self, f):
        def func(*args, __wrapper=None, **kwargs):
            return __wrapper is func, args, sorted(kwargs)
        func.__kwdefaults__["_argmap__wrapper"] = func
        return func


class _Private:
    def method(self, __p, q__=1, *__rest, __k=2, __d__=3, **__extra):
        return __p, q__, __rest, __k, __d__, sorted(__extra)

    shout = lambda self, __x=4: __x

    class Inner:
        def deep(self, __y=5):
            local = lambda __z=6: __z
            return __y, local(), local.__code__.co_varnames, self.nested()

        def nested(self):
            def local(__z=7, *, __w=8):
                return __z, sum(v for v in [__w])
            return local(_Inner__z=1), sorted(local.__kwdefaults__)


class __:
    def keep(self, __p=7):
        return __p


def show(function):
    parameters = inspect.signature(function).parameters.values()
    print([(p.name, p.kind.name) for p in parameters], sorted(function.__kwdefaults__ or ()),
          function.__code__.co_varnames)


def report():
    wrapped = argmap()(len)
    print(wrapped(1, __wrapper=2))
    show(wrapped)
    show(_Private.method)
    show(_Private.shout)
    print(_Private().method(1, 2, 3, _Private__k=4, __k=5, x=6))
    print(_Private().method(_Private__p=1))
    try:
        _Private().method(__p=1)
    except TypeError as error:
        print(type(error).__name__)
    print(_Private().shout(_Private__x=8), _Private.Inner().deep(_Inner__y=9))
    show(_Private.Inner.deep)
    show(__.keep)
    print(__().keep(__p=1))
)PY"},
    // An assigned __code__ runs with the function's defaults, keyword defaults and globals, in a
    // function and a method, as a generator, recursing through a global; the function's own code
    // assigned back; free variables and values that are no code objects refused.
    {"codeswap.py", R"PY(import inspect

SCALE = 10


def target(a, b=2, *, c=3):
    return "compiled"


def closure_of(value):
    def inner():
        return value
    return inner


def made(source, name="generated", namespace=None):
    local = {}
    exec(source, namespace if namespace is not None else {}, local)
    return local[name]


class Shape:
    def area(self, factor=2):
        return 0


def report():
    old = target.__code__
    new = made("def generated(a, b=100, *, c=100):\n    return (a, b, c, SCALE)\n")
    target.__code__ = new.__code__
    print(target(1), target(1, 5, c=6), target(a=7))
    print(target.__code__ is new.__code__, target.__code__.co_name, target.__name__)
    print(inspect.signature(target))
    target.__defaults__ = (20,)
    target.__kwdefaults__["c"] = 30
    print(target(1), target(*[1], **{"c": 4}))
    try:
        target()
    except TypeError as error:
        print(error)
    target.__code__ = old
    print(target(1))
    area = made("def area(self, factor=9):\n    return factor * SCALE\n", "area")
    Shape.area.__code__ = area.__code__
    print(Shape().area(), Shape().area(3))
    counter = made("def count(n):\n    return n if n < 1 else count(n - 1) + 1\n", "count")
    target.__code__ = counter.__code__
    try:
        target(3)
    except NameError as error:
        print(error)
    globals()["count"] = target
    print(target(3))
    steps = made("def steps(n):\n    yield from range(n)\n", "steps")
    target.__code__ = steps.__code__
    print(list(target(3)))
    free = made("def outer():\n    x = 1\n    def inner():\n        return x\n    return inner\n",
                "outer")()
    try:
        target.__code__ = free.__code__
    except ValueError as error:
        print(error)
    for value in (None, 1):
        try:
            target.__code__ = value
        except TypeError as error:
            print(error)
    try:
        del target.__code__
    except TypeError as error:
        print(error)
)PY"},
    // networkx's argmap: a wrapper that compiles its real body on first call and takes its code.
    {"argmapped.py", R"PY(# The way networkx's argmap compiles its wrappers lazily.
class argmap:
    def __call__(self, f):
        def func(*args, __wrapper=None, **kwargs):
            return argmap._lazy_compile(__wrapper)(*args, **kwargs)

        func.__name__ = f.__name__
        func.__qualname__ = f.__qualname__
        func.__defaults__ = f.__defaults__
        func.__kwdefaults__["_argmap__wrapper"] = func
        func.__wrapped__ = f
        func.__argmap__ = self
        return func

    @classmethod
    def _lazy_compile(cls, func):
        source = ("def argmap_{0}_1(x, y=2, *, _argmap__wrapper=None):\n"
                  "    return _{0}(x * 2, y)\n").format(func.__name__)
        namespace = {"_" + func.__name__: func.__wrapped__}
        local = {}
        exec(compile(source, "argmap compilation", "exec"), namespace, local)
        real = local["argmap_" + func.__name__ + "_1"]
        func.__code__ = real.__code__
        func.__globals__.update(namespace)
        return func


@argmap()
def add(x, y=2):
    return x + y


def report():
    print(add(1), add(1, 5), add(x=3))
    print(add.__code__.co_name, sorted(add.__kwdefaults__))
)PY"},
};

TEST(FunctionObjects, ProgramChangesThemAsPython) {
  expectCaseProgramAsPython("functions", functionFiles, functionCases);
}

TEST(FunctionObjects, LibraryChangesThemAsPython) {
  expectCaseLibraryAsPython("functions", functionFiles, functionCases);
}

} // namespace
} // namespace quorvex::e2e
