// Type parameters on functions, methods, classes and type aliases, compiled: the TypeVar,
// TypeVarTuple and ParamSpec objects, their bounds and constraints evaluated lazily, Generic in
// a class's bases, aliases whose values are evaluated on first use (a recursive one, one in a
// class body that reads the class's names), the qualified names, and the names visible in the
// scopes they parametrize and nowhere else. Each case is a module with a report(); generics.main()
// runs the cases named on its command line. The cases are built as one program and as one
// library's wheel, and both answer as CPython does on the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> genericCases = {"functions", "classes", "bounds", "variadic",
                                               "aliases"};

const std::map<std::string, std::string> genericFiles = {
    // Generic functions: the parameters seen by the body and a nested function, defaults and
    // decorators evaluated outside their scope, a function made in a function, a module name
    // the parameter shadows only inside, and `__type_params__` of any function as
    // functools.wraps copies it.
    {"functions.py", R"PY(import functools

T = "module T"
limit = 10
def first[T](items: list[T]) -> T:
    return items[0]
def keyed[K, V](pairs, default: V = limit, *, strict=limit + 1) -> dict[K, V]:
    return dict(pairs), default, strict, K, V
def tag(function):
    function.tagged = True
    return function
@tag
def inside[T]():
    def nested():
        return T
    return nested
def factory(top):
    def clip[N](value: N, most=top) -> N:
        return min(value, most), N
    return clip


def report():
    print(first([3, 4]), first.__name__, first.__qualname__, first.__type_params__, T)
    print(keyed([(1, 2)]), keyed.__defaults__, keyed.__kwdefaults__, keyed.__type_params__)
    (param,) = first.__type_params__
    print(type(param).__name__, param.__name__, param.__bound__, param.__constraints__,
          param.__covariant__, param.__contravariant__, param.__infer_variance__,
          param.__module__, repr(param))
    print(inside.tagged, inside()(), inside().__qualname__)
    clip = factory(5)
    print(clip(9), clip.__qualname__, clip.__defaults__, clip.__type_params__)
    print(first.__type_params__[0] is not inside.__type_params__[0], tag.__type_params__)
    wrapper = functools.wraps(first)(lambda: None)
    print(wrapper.__type_params__, functools.wraps(tag)(first).__type_params__)
    try:
        tag.__type_params__ = [param]
    except TypeError as error:
        print("TypeError", error)
    # Builtins the typing modules' tests use: divmod as a value, exec with a closure keyword.
    pair, namespace = divmod, {}
    exec("x = divmod(7, 2)", namespace, closure=None)
    print(pair(7, 2), divmod(9, 4), namespace["x"])
    print(repr(first).split(" at ")[0], repr(lambda: 0).split(" at ")[0])
    print(sorted(name for name in globals() if not name.startswith("__")))
)PY"},
    // Generic classes: Generic[...] after the bases, subscription, super() and the class cell
    // in methods, generic methods and class methods, private names, a dataclass, an Enum, a
    // class made in a function, and CPython's error for Generic named twice.
    {"classes.py", R"PY(import dataclasses
import enum
from typing import Generic
class Base:
    def hello(self):
        return "base"
class Box[T](Base):
    """Holds one item."""
    kind = "box"

    def __init__(self, item: T):
        self.item = item

    def hello(self):
        return "box of " + super().hello() + " " + __class__.__name__

    def map[U](self, function) -> "Box[U]":
        return Box(function(self.item)).item, U, T

    def greet[G](self) -> G:
        return super().hello() + " " + __class__.__name__, G

    def greetings[G](self):
        yield super().hello()

    @classmethod
    def make[S](cls, item: S):
        return cls(item).item, S
class Private:
    def __hidden[__T](self):
        return __T

    def call(self):
        return self.__hidden(), self._Private__hidden.__qualname__
@dataclasses.dataclass
class Point[N]:
    x: N
    y: N = 0
class Color(enum.Enum):
    RED = 1
    Kind = int

    def pick[T: Kind](self, default: T) -> T:
        return default, T.__bound__

    def pick_[T](self):
        return T
def local_type(base):
    class Local[T](base):
        names = sorted([name for name in locals() if not name.startswith("__")])
    return Local


def report():
    print(Box.__type_params__, Box.__orig_bases__, Box.__parameters__, Box.__qualname__,
          Box.__doc__, Box.kind, [c.__name__ for c in Box.__mro__])
    print(Box[int], Box[int].__origin__ is Box, Box(1).hello(), Box(2).map(str))
    print(Box.make(3), Box.map.__qualname__, Box.map.__type_params__,
          Box.make.__type_params__, Box(4).greet(), list(Box(5).greetings()))
    print([key for key in vars(Box) if key in ("__type_params__", "__parameters__", "kind",
                                                "map")])
    print(Private().call(), Private._Private__hidden.__type_params__)
    print(Point(1, 2), Point.__type_params__, Point[int](3))
    print(list(Color), Color.RED.pick(3), Color.RED.pick_(), Color.pick.__qualname__)
    made = local_type(Base)
    print(made.__qualname__, [c.__name__ for c in made.__mro__], made.__type_params__,
          made.names)
    try:
        class Twice[T](Generic[T]):
            pass
    except TypeError as error:
        print("TypeError", error)
    print(sorted(name for name in globals() if not name.startswith("__")))
)PY"},
    // Bounds and constraints: evaluated on first use only and once, naming a class defined
    // later, naming another parameter, and CPython's NameError for a name missing.
    {"bounds.py", R"PY(calls = []
def counted():
    calls.append(1)
    return int
class Shape:
    pass
def measure[S: Shape, N: (int, float)](shape: S, number: N) -> N:
    return number
def lazy[T: counted()]():
    pass
def ahead[T: Later, U: (Later, T)]():
    pass
class Later:
    pass
def broken[T: Missing, C: (int, Gone)]():
    pass


def report():
    shape, number = measure.__type_params__
    print(shape.__bound__, shape.__constraints__, number.__bound__, number.__constraints__)
    print(len(calls))
    (param,) = lazy.__type_params__
    print(param.__bound__, param.__bound__, len(calls))
    later, other = ahead.__type_params__
    print(later.__bound__, other.__constraints__)
    missing, gone = broken.__type_params__
    for read in (lambda: missing.__bound__, lambda: gone.__constraints__):
        try:
            read()
        except NameError as error:
            print("NameError", error)
    print(measure(Shape(), 2.5), broken.__name__)
)PY"},
    // Variadic and parameter-spec parameters, on functions, classes and aliases.
    {"variadic.py", R"PY(from typing import Callable, Unpack
def call[*Ts, **P](function: Callable[P, None], *args, **kwargs):
    return function(*args, **kwargs), Ts, P, P.args, P.kwargs
class Record[*Fields]:
    pass
class Wrapped[**P, R]:
    def __init__(self, function: Callable[P, R]):
        self.function = function

    def __call__(self, *args: P.args, **kwargs: P.kwargs) -> R:
        return self.function(*args, **kwargs), R
type Row[*Cells] = tuple[int, Unpack[Cells]]
type Handler[**P] = Callable[P, None]


def report():
    print(call(max, 1, 5), [type(p).__name__ for p in call.__type_params__])
    print(Record.__type_params__, Record.__parameters__, Record[int, str])
    print(Wrapped.__type_params__, Wrapped[[int], str], Wrapped(abs)(-3))
    print(Row.__type_params__, Row[str, bytes], Row.__value__, Handler[[int]])
)PY"},
    // Type aliases: evaluated on first use, recursive, generic with a bound, one naming what is
    // missing, aliases in a class body reading the class's names (as they are when first
    // used), in a function reading its variables, private names, pickling by name, and the
    // parameters invisible outside.
    {"aliases.py", R"PY(import pickle
import typing
type Vector = list[float]
type Tree[T] = T | list[Tree[T]]
type Ahead = Defined
type Broken = Nowhere
type Pairs[K, V: int] = dict[K, V]
class Defined:
    pass
class Holder:
    Number = int
    type Alias = Number
    type Chain = list[Chain]
    type __Secret = str
    type Later = Number

    def local[T: Number](self):
        return T
def inside():
    item = int
    type Local = tuple[item, ...]
    return Local


def report():
    print(Vector, Vector.__value__, type(Vector).__name__,
          isinstance(Vector, typing.TypeAliasType), Vector.__module__, Vector.__name__,
          Vector.__type_params__, Vector.__parameters__)
    print(Tree.__value__, Tree[int], Tree[int].__origin__ is Tree, Tree.__type_params__)
    print(Ahead.__value__, Pairs.__type_params__[1].__bound__, Pairs[str, int])
    try:
        Broken.__value__
    except NameError as error:
        print("NameError", error)
    print(Holder.Alias.__value__, Holder.Chain.__value__, Holder._Holder__Secret.__name__)
    Holder.Number = float
    print(Holder().local().__bound__, Holder.Later.__value__)
    print(inside().__value__, inside().__name__, Vector | None)
    print(pickle.loads(pickle.dumps(Vector)) is Vector)
    try:
        T
    except NameError as error:
        print("NameError", error)
    print(sorted(name for name in globals() if not name.startswith("__")))
)PY"},
};

TEST(TypeParameters, ProgramComputesWhatPythonComputes) {
  expectCaseProgramAsPython("generics", genericFiles, genericCases);
}

TEST(TypeParameters, LibraryAnswersWhatPythonAnswers) {
  expectCaseLibraryAsPython("generics", genericFiles, genericCases);
}

} // namespace
} // namespace quorvex::e2e
