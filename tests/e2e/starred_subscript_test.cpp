// Starred items in subscripts (Python 3.11): the key a class's __getitem__, __setitem__ and
// __delitem__ receive, variadic generics built from a TypeVarTuple (`tuple[int, *Ts]`,
// `Generic[*Ts]`, `Callable[[*Ts], None]`), and the strings kept for starred annotations, read
// back through __annotations__ and typing.get_type_hints. Each case is a module with a
// report(); the cases are built as one program and as one library's wheel, and both answer as
// CPython does on the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> starredCases = {"keys", "variadic", "hints"};

const std::map<std::string, std::string> starredFiles = {
    // What a subscript with starred items passes as its key, read, assigned, deleted and
    // augmented, with slices beside them, the items evaluated left to right; a number starred
    // there or in a display raises TypeError.
    {"keys.py", R"PY(class Keys:
    def __init__(self):
        self.seen = []

    def __getitem__(self, key):
        return key

    def __setitem__(self, key, value):
        self.seen.append(("set", key, value))

    def __delitem__(self, key):
        self.seen.append(("del", key))


def noisy(value, order):
    order.append(value)
    return value


def report():
    d, t, empty = Keys(), (1, 2), []
    print(d[*t], d[0, *t], d[*t, 3], d[*t, *t], d[*empty], d[*t,], d[*"ab"])
    print(d[1:2, *t], d[*t, ::2], d[*(x * 2 for x in t)], d[*range(3), ...])
    print((lambda a=d[*t]: (a, d[*a]))(), list(d[*t] for _ in t), [d[*t, i] for i in t])
    d[*t] = 5
    d[0, *t] = 6
    del d[*t]
    print(d.seen)
    counts = {}
    counts[*t] = 0
    counts[*t] += 1
    counts[*t, 3] = 2
    print(counts)
    order = []
    print(d[noisy("a", order), *noisy(t, order), noisy("b", order)], order)
    n = 5
    for make in (lambda: d[*5], lambda: d[0, *n], lambda: [*n], lambda: {1, *n}):
        try:
            print(make())
        except TypeError as error:
            print(type(error).__name__)
)PY"},
    // Variadic generics made at run time from a TypeVarTuple.
    {"variadic.py", R"PY(import typing
from typing import Callable, Generic, TypeVar, TypeVarTuple

Ts = TypeVarTuple("Ts")
T = TypeVar("T")


class Array(Generic[*Ts]):
    def __init__(self, *items):
        self.items = items


class Pair(Generic[T, *Ts]):
    pass


def report():
    print(Array.__parameters__, Array[int, str].__args__, Array[()].__args__)
    print(Pair.__parameters__, Pair[int, str, bytes].__args__, Pair[int].__args__)
    print(Array[int, str](1, "a").items, typing.get_origin(Array[int]) is Array)
    print(tuple[int, *Ts], tuple[int, *Ts][str, float], tuple[*Ts][()])
    print(typing.get_args(tuple[int, *Ts]), tuple[*tuple[int, ...]])
    print(Callable[[*Ts], None], Callable[[int, *Ts], T][str, bytes, float])
    print(Array[*tuple[int, str]].__args__, typing.Tuple[*Ts][int])
)PY"},
    // Annotations kept as strings, as a module under `from __future__ import annotations` keeps
    // them: a starred *args, starred items in subscripts, a tuple of one item.
    {"hints.py", R"PY(from __future__ import annotations

import typing
from typing import Generic, TypeVarTuple

Ts = TypeVarTuple("Ts")


class Array(Generic[*Ts]):
    pass


def variadic(*args: *Ts) -> tuple[*Ts]:
    return args


def mixed(first: tuple[int, *Ts], *rest: *tuple[str, ...]) -> Array[int, *Ts]:
    return first


def single(a: tuple[int,], b: Array[*Ts,], c: tuple[()], *d: *Ts | None) -> None:
    pass


class Holder:
    items: tuple[*Ts]
    pair: Array[int, *Ts] = None


def report():
    for function in (variadic, mixed, single):
        print(function.__name__, function.__annotations__)
    print(Holder.__annotations__)
    print(typing.get_type_hints(variadic))
    print(typing.get_type_hints(mixed))
    print(typing.get_type_hints(Holder))
    print(variadic(1, "a"))
)PY"},
};

TEST(StarredSubscripts, ProgramComputesWhatPythonComputes) {
  expectCaseProgramAsPython("starred", starredFiles, starredCases);
}

TEST(StarredSubscripts, LibraryAnswersWhatPythonAnswers) {
  expectCaseLibraryAsPython("starred", starredFiles, starredCases);
}

} // namespace
} // namespace quorvex::e2e
