// What CPython's own language tests found compiled code doing otherwise than CPython, reduced to
// a few lines each: a class made with a cell its methods already read, names that a class body
// writes through its namespace, dicts changed while looped over, managers without the protocol,
// generators dropped unfinished, what async with and async for cannot await, generators thrown
// into, sent to and finished, lambdas that yield, dir() in functions, the class cell and the
// variables of functions, exception handlers and the names they leave unbound.
// Each case is a module with a report(); language.main() runs the cases named on its command
// line. The cases are built as one program and as one library's wheel, and both answer as
// CPython does on the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> languageCases = {"creation", "namespaces", "mutation", "protocols",
                                                "unfinished", "cells", "awaiting",
                                                "generators", "handlers"};

const std::map<std::string, std::string> languageFiles = {
    // Zero-argument super() and __class__ while the class is made: an Enum's own __new__, a
    // __set_name__ and an __init_subclass__ that call methods using them, a metaclass that sees
    // "__classcell__" in the namespace (only where a method needs the cell) and one that builds
    // the class from a copy of it; the most derived metaclass prepares the namespace of a class
    // that names a less derived one.
    {"creation.py", R"PY(import enum


class Coded(enum.Enum):
    RED = 1
    GREEN = 2

    def __new__(cls, value):
        member = object.__new__(cls)
        member._value_ = value
        member.base_new = super().__new__ is not None
        return member


class Named(str, enum.Enum):
    A = "a"
    B = "b"

    def __new__(cls, value):
        member = super().__new__(cls, value * 2)
        member._value_ = value
        return member


class Watcher:
    def __set_name__(self, owner, name):
        self.seen = owner.describe(name)


class Base:
    @classmethod
    def describe(cls, name):
        return "base:" + name


class Owner(Base):
    field = Watcher()

    @classmethod
    def describe(cls, name):
        return "owner/" + super().describe(name)


class Meta(type):
    seen = []

    def __new__(mcls, name, bases, namespace):
        Meta.seen.append((name, "__classcell__" in namespace))
        return super().__new__(mcls, name, bases, namespace)


class WithCell(metaclass=Meta):
    def method(self):
        return __class__.__name__


class Plain(metaclass=Meta):
    def method(self):
        return 1


class Copying(type):
    def __new__(mcls, name, bases, namespace):
        made = type.__new__(mcls, name, bases, dict(namespace))
        made.early = made.probe()
        return made


class Probed(metaclass=Copying):
    @classmethod
    def probe(cls):
        return __class__.__name__ + "/" + type(super()).__name__


class Hooked:
    def __init_subclass__(cls, **kwargs):
        super().__init_subclass__(**kwargs)
        cls.tag = cls.make()

    @classmethod
    def make(cls):
        return "hooked"


class Child(Hooked):
    @classmethod
    def make(cls):
        return "made by " + __class__.__name__ + " " + str(super().make is not None)

    @classmethod
    def later(cls):
        return super().make()

    def make_in_generator(self):
        yield __class__.__name__
        yield super().make()


class Preparing(type):
    @classmethod
    def __prepare__(mcls, name, bases, **kwargs):
        return {"prepared_by": mcls.__name__}


class Prepared(metaclass=Preparing):
    pass


class NamedPlainly(Prepared, metaclass=type):
    pass


def made_by_function(name, bases, namespace):
    return type(name, bases, dict(namespace, made=True))


class ByFunction(object, metaclass=made_by_function):
    pass



def report():
    print([(m.name, m.value, m.base_new) for m in Coded], Named.A, Named("b").value,
          str.__str__(Named.B))
    print(Owner.field.seen, Meta.seen, WithCell().method(), Plain().method())
    print(Probed.early, Probed.probe(), Child.tag, Child.later(), list(Child().make_in_generator()))
    print(NamedPlainly.prepared_by, type(NamedPlainly).__name__, ByFunction.made)
)PY"},
    // A class body that writes its namespace through vars() or locals() reads the names it
    // planted; a class body's comprehension of lambdas keeps its variable; exec() of a text
    // alone runs in its caller's namespaces; locals() leaves out what is unbound.
    {"namespaces.py", R"PY(import enum

TOTAL = 10


class Ignoring:
    vars()["planted"] = 1
    seen = planted + 1
    locals()["other"] = 5
    got = other
    vars()["later"] = "planted first"
    early = later
    later = "assigned"
    from_module = TOTAL + len("ab")


class Period(enum.Enum):
    _ignore_ = "Period i"
    Period = vars()
    for i in range(3):
        Period["day_%d" % i] = i


class Lambdas:
    items = [(lambda: i) for i in range(5)]
    squares = [(lambda k=k: k * k) for k in range(3)]
    pairs = [[(lambda: (a, b)) for b in "xy"] for a in "pq"]


def runs_exec():
    a = 5
    exec("print('exec sees', a)")
    exec("b = a * 2; print('exec made', b)")
    exec("a = 99")
    return a, eval("a + 1")


class Executing:
    exec("made = TOTAL * 3")


def maybe(flag):
    if flag:
        w = 1
    return locals()


def report():
    print(Ignoring.planted, Ignoring.seen, Ignoring.got, Ignoring.early, Ignoring.later,
          Ignoring.from_module)
    print([member.name for member in Period], hasattr(Period, "i"))
    print([f() for f in Lambdas.items], [f() for f in Lambdas.squares],
          [[f() for f in row] for row in Lambdas.pairs])
    print(runs_exec(), Executing.made)
    print(maybe(0), maybe(1))
)PY"},
    // A dict whose size or keys change while a loop goes over it, a legal change of a value,
    // list.sort() called on what is no list, and a float bound by a match compared by identity.
    {"mutation.py", R"PY(def attempt(loop):
    try:
        return loop()
    except RuntimeError as error:
        return str(error)


def grows():
    d = {1: 1, 2: 2}
    for k in d:
        d[k + 100] = 1


def keys_replaced():
    d = {}
    d[0] = 0
    for i in d:
        del d[0]
        d[0] = 0


def keys_replaced_over(view):
    d = {0: 0}
    for i in getattr(d, view)():
        del d[0]
        d[0] = 0


def items_unpacked(d):
    for k, v in d.items():
        d.pop(k)
        d[k + 1000] = v


def values_updated():
    d = {1: 1, 2: 2}
    for k in d:
        d[k] = k * 10
    for k, v in d.items():
        d[k] = v + 1
    return d


def sets_grow():
    s = {1, 2}
    for k in s:
        s.add(k + 100)


def sorts(value):
    try:
        list.sort(value)
        return value
    except TypeError as error:
        return f"TypeError: {error}"


def captured():
    x = 2.5
    match x:
        case float(z):
            same = z is x
    n = 10 ** 20
    m = n
    return same, m is n, x is not z


def report():
    print(attempt(grows), attempt(keys_replaced), attempt(values_updated))
    print([attempt(lambda: keys_replaced_over(view)) for view in ("keys", "values", "items")])
    print(attempt(lambda: items_unpacked({1: 1, 2: 2})), attempt(sets_grow))
    print(sorts((3, 1)), sorts([3, 1, 2]), sorts(None), captured())
)PY"},
    // with and async with on objects without the protocol, or with half of it, raise TypeError
    // in CPython's words; managers with it run as before. An exception group's split() and
    // subgroup() take compiled functions for predicates; other split() methods get theirs as is.
    {"protocols.py", R"PY(import asyncio
import collections
import threading


class Nothing:
    pass


class OnlyEnter:
    def __enter__(self):
        return self


class OnlyExit:
    def __exit__(self, *details):
        return False


class AsyncOnlyEnter:
    async def __aenter__(self):
        return self


class Suppressing:
    def __enter__(self):
        return "entered"

    def __exit__(self, kind, value, traceback):
        print("exit with", kind.__name__ if kind else None)
        return True


class AsyncManager:
    async def __aenter__(self):
        return "async entered"

    async def __aexit__(self, *details):
        return False


def plain(manager):
    try:
        with manager as value:
            return value
    except (TypeError, AttributeError) as error:
        return f"{type(error).__name__}: {error}"


async def asynchronous(manager):
    try:
        async with manager as value:
            return value
    except (TypeError, AttributeError) as error:
        return f"{type(error).__name__}: {error}"


def nested():
    with Suppressing() as first, Suppressing() as second:
        raise KeyError(first + second)
    return "suppressed"


def report():
    print([plain(m) for m in (Nothing(), OnlyEnter(), OnlyExit(), 3, collections.OrderedDict())])
    print(plain(Suppressing()), nested(), plain(threading.Lock()) is True)
    print([asyncio.run(asynchronous(m)) for m in (Nothing(), AsyncOnlyEnter(), Suppressing(),
                                                  AsyncManager())])
    print(*predicates(), sep="\n")


def is_type_error(error):
    return isinstance(error, TypeError)


class Splitter:
    def split(self, predicate):
        return predicate is is_type_error


def refused(error):
    raise KeyError("from the predicate")


def predicates():
    group = ExceptionGroup("outer", [TypeError(1), ValueError(2),
                                     ExceptionGroup("inner", [TypeError(3)])])
    yield group.split(lambda error: isinstance(error, TypeError))
    yield group.subgroup(is_type_error), group.split(is_type_error)[0].split(lambda e: False)
    yield group.subgroup(lambda error: error is group), group.split((ValueError,))
    separator = ","
    yield Splitter().split(is_type_error), "a,b".split(separator), "a b".split()
    for matcher in (refused, 42):
        try:
            group.split(matcher)
        except (KeyError, TypeError) as error:
            yield type(error).__name__, error
)PY"},
    // Generators and coroutines dropped unfinished are finalized, alone or in a cycle: a
    // suspended generator's finally blocks run, a coroutine never awaited is warned of, an
    // async generator never started is not.
    {"unfinished.py", R"PY(import gc
import warnings


async def never():
    return 1


async def numbers():
    yield 1


def suspended(log, name):
    try:
        yield 1
        yield 2
    finally:
        log.append(name + " closed")


def report():
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        never()
        numbers()
        gc.collect()
    print([str(warning.message) for warning in seen])
    log = []
    alone = suspended(log, "alone")
    next(alone)
    del alone
    log.append("dropped")
    holder = []
    cyclic = suspended(log, "cyclic")
    next(cyclic)
    holder.append([cyclic, holder])
    del cyclic, holder
    gc.collect()
    finished = suspended(log, "finished")
    print(list(finished), log)
)PY"},
    // The class cell and a function's variables where CPython's tests reach: `nonlocal
    // __class__`, a metaclass that returns no class, another one or drops the cell, super() in
    // nested functions and where it has nothing to take, a class body's comprehension of lambdas
    // in a function, reads of deleted arguments, names bound only in code that never runs.
    {"cells.py", R"PY(class Base:
    def who(self):
        return "base"


class Sub(Base):
    # Each method puts the class back: CPython's methods share the cell.
    def nested(self):
        def inner():
            nonlocal __class__
            seen = __class__.__name__
            __class__ = 42
            changed = (lambda: __class__)()
            __class__ = Sub
            return seen, changed
        return inner(), __class__.__name__

    def own(self):
        nonlocal __class__
        before = __class__.__name__, super().who()
        __class__ = "replaced"
        changed = __class__
        __class__ = Sub
        return before, changed

    def generated(self):
        def inner():
            nonlocal __class__
            yield __class__.__name__
            __class__ = 7
            yield __class__
            __class__ = Sub
        yield from inner()

    def class_inside(self):
        class Inner:
            nonlocal __class__
            __class__ = "from Inner"
        changed = __class__
        __class__ = Sub
        return changed

    def helpers(self):
        def inner(me):
            return super().who()
        return inner(self), (lambda me: super().who())(self)


def no_arguments():
    return super()


def no_class(x):
    return super()


def metaclasses():
    captured = []

    class Later(type):
        def __new__(mcls, name, bases, namespace):
            captured.append(namespace)
            return None

    class Delayed(metaclass=Later):
        @staticmethod
        def f():
            return __class__

    made = type("Made", (), captured[0])
    results = [Delayed, made.f() is made]

    class Dropping(type):
        def __new__(mcls, name, bases, namespace):
            namespace.pop("__classcell__", None)
            return super().__new__(mcls, name, bases, namespace)

    class Swapping(type):
        def __new__(mcls, name, bases, namespace):
            type.__new__(mcls, "Elsewhere", bases, dict(namespace))
            return type.__new__(mcls, name, bases, {})

    for meta in (Dropping, Swapping):
        try:
            class Dropped(metaclass=meta):
                def f(self):
                    return __class__
        except (RuntimeError, TypeError) as error:
            results.append((type(error).__name__, str(error).split(" defining")[0]))
    return results


def comprehension_lambdas():
    outer = "outer"

    class Made:
        def method(self):
            return super().__repr__ is not None
        items = [(lambda: i) for i in range(4)]
        grid = [[lambda: (j, k) for k in range(2)] for j in range(2)]
        values = [f() for f in items]
        before = outer

    return Made.values, [f() for row in Made.grid for f in row], Made().method(), Made.before


def read_deleted(x):
    del x
    return x


def read_maybe_deleted(x, drop):
    if drop:
        del x
    return len([x])


def read_after_handler(error):
    try:
        raise ValueError
    except ValueError as error:
        pass
    return error


def delete_twice():
    x = 1
    del x
    del x


shadowed = "global"


def dead_branch():
    if False:
        shadowed = 1
    return shadowed


def after_return():
    return shadowed
    shadowed = 2


def dead_import():
    if 0:
        from os import path as shadowed
    return shadowed


def attempt(function, *args):
    try:
        return function(*args)
    except (NameError, RuntimeError) as error:
        return type(error).__name__ + ": " + str(error)


def report():
    thing = Sub()
    print(thing.nested(), thing.own(), list(thing.generated()), thing.class_inside(),
          thing.helpers())
    print(attempt(no_arguments), attempt(no_class, 1))
    print(metaclasses())
    print(comprehension_lambdas())
    print([attempt(f, *args) for f, args in (
        (read_deleted, (1,)), (read_maybe_deleted, (1, True)), (read_maybe_deleted, (1, False)),
        (read_after_handler, (1,)), (delete_twice, ()), (dead_branch, ()), (after_return, ()),
        (dead_import, ()))])
)PY"},
    // What await, async with and async for cannot await, named by the method that gave it (an
    // exception raised by __await__ goes through but in async for); a coroutine's repr; a
    // coroutine never awaited is warned of once, by its whole name, also while an exception
    // propagates or in a cycle, and to the unraisable hook when the warning is an error.
    {"awaiting.py", R"PY(import gc
import sys
import warnings


class Plain:
    pass


class AwaitRaises:
    def __await__(self):
        raise ValueError("refused by __await__")


async def spam():
    return "spam"


class AwaitReturnsCoroutine:
    def __init__(self):
        self.inner = spam()

    def __await__(self):
        return self.inner


class EnterGivesInt:
    def __aenter__(self):
        return 123

    def __aexit__(self, *details):
        return 456


class ExitGivesInt:
    async def __aenter__(self):
        return self

    def __aexit__(self, *details):
        return 444


class ExitRaisesInAwait:
    async def __aenter__(self):
        return self

    def __aexit__(self, *details):
        return AwaitRaises()


class WithoutNext:
    def __aiter__(self):
        return self


class NextGives:
    def __init__(self, value):
        self.value = value

    def __aiter__(self):
        return self

    def __anext__(self):
        return self.value


class Ticks:
    def __init__(self):
        self.left = 2

    def __aiter__(self):
        return self

    async def __anext__(self):
        if not self.left:
            raise StopAsyncIteration
        self.left -= 1
        return self.left


async def await_it(value):
    return await value


async def enter(manager, fail):
    async with manager:
        if fail:
            1 / 0
    return "left"


async def loop(iterable):
    seen = []
    async for value in iterable:
        seen.append(value)
    return seen


async def in_comprehension(iterable):
    return [value async for value in iterable]


def run(coroutine):
    try:
        while True:
            coroutine.send(None)
    except StopIteration as stop:
        return stop.value
    except Exception as error:
        # A class of the module is named by its module in a library's messages.
        words = str(error).replace(__name__ + ".", "")
        context = type(error.__context__).__name__ if error.__context__ else None
        cause = type(error.__cause__).__name__ if error.__cause__ else None
        return f"{type(error).__name__}: {words} (context {context}, cause {cause})"


async def a_coroutine_whose_qualified_name_is_longer_than_fifty_characters():
    pass


async def stops(inside):
    def numbers():
        yield 1
        raise StopIteration

    if inside:
        return list(numbers())
    raise StopIteration


def report():
    print(run(await_it(Plain())))
    print(run(await_it(AwaitRaises())))
    returns_coroutine = AwaitReturnsCoroutine()
    print(run(await_it(returns_coroutine)))
    returns_coroutine.inner.close()
    for manager in (EnterGivesInt(), ExitGivesInt(), ExitRaisesInAwait()):
        print(run(enter(manager, False)), "|", run(enter(manager, True)))
    for iterable in (WithoutNext(), NextGives(()), NextGives(AwaitRaises()), Ticks()):
        print(run(loop(iterable)), "|", run(in_comprehension(iterable)))
    print(run(stops(False)), "|", run(stops(True)))
    coroutine = spam()
    print(repr(coroutine).startswith("<coroutine object spam at 0x"), repr(coroutine) == repr(
        coroutine), coroutine.__qualname__)
    coroutine.close()
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        a_coroutine_whose_qualified_name_is_longer_than_fifty_characters()
        try:
            for _ in a_coroutine_whose_qualified_name_is_longer_than_fifty_characters():
                pass
        except TypeError as error:
            print(error)
        holder = []
        holder.append([spam(), holder])
        del holder
        gc.collect()
    print([str(warning.message) for warning in seen])
    # The warning is asked of warnings._warn_unawaited_coroutine, as CPython asks it.
    asked, original = [], warnings._warn_unawaited_coroutine
    warnings._warn_unawaited_coroutine = lambda coroutine: asked.append(
        (coroutine.__qualname__, coroutine.cr_origin))
    try:
        spam()
        gc.collect()
    finally:
        warnings._warn_unawaited_coroutine = original
    print(asked)
    unraisable = []
    hook, sys.unraisablehook = sys.unraisablehook, unraisable.append
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            coroutine = spam()
            shown = repr(coroutine)
            coroutine = None
            gc.collect()
    finally:
        sys.unraisablehook = hook
    print([(type(u.exc_value).__name__, str(u.exc_value), repr(u.object) == shown)
           for u in unraisable])
    # The hook kept the coroutine: it is not warned of again when let go.
    unraisable.clear()
    gc.collect()
)PY"},
    // Generators as CPython's: an exception thrown in is chained to what the generator handled
    // where it stopped (also through `yield from`), not to what the caller handles; a value sent
    // to one not started is refused and leaves it unstarted; a finished one keeps its names; a
    // type and a value given to throw() warn; a lambda that yields returns its value; dir() in a
    // function lists the names bound; what a generator sees as handled is its own or, while it
    // has none, its caller's at that resumption, also after a try begun under another caller.
    {"generators.py", R"PY(import contextlib
import sys
import warnings


def contexts():
    def handling():
        try:
            raise KeyError("own")
        except KeyError:
            try:
                yield 1
            except ValueError as error:
                yield repr(error.__context__)

    def delegating():
        try:
            raise KeyError("outer")
        except KeyError:
            yield from plain()

    def plain():
        try:
            yield 1
        except (ZeroDivisionError, OSError) as error:
            yield repr(error.__context__)

    seen = []
    for make, thrown in ((handling, ValueError), (plain, ZeroDivisionError),
                         (delegating, ValueError)):
        generator = make()
        next(generator)
        try:
            raise OSError("caller")
        except OSError as caller:
            try:
                seen.append(generator.throw(thrown))
            except ValueError as error:
                seen.append("out: " + repr(error.__context__))
            generator = plain()
            next(generator)
            seen.append(generator.throw(caller))
    return seen


def sending():
    def numbers():
        yield 1

    async def waiting():
        return 2

    generator, coroutine = numbers(), waiting()
    seen = []
    for target in (generator, coroutine):
        try:
            target.send(0)
        except TypeError as error:
            seen.append(str(error))
    seen.append(next(generator))
    try:
        coroutine.send(None)
    except StopIteration as stop:
        seen.append(stop.value)
    return seen


def names():
    def counting():
        yield 1

    made = [counting(), (x for x in range(2))]
    before = [(g.__name__, g.__qualname__, g.gi_code is not None) for g in made]
    for g in made:
        list(g)
    after = [(g.__name__, g.__qualname__, g.gi_code is not None) for g in made]
    return before == after, after


def throwing_with_type_and_value():
    def numbers():
        yield 42

    generator = numbers()
    next(generator)
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        try:
            generator.throw(TypeError, TypeError(24), None)
        except TypeError as error:
            caught = repr(error)
    return caught, [(w.category.__name__, str(w.message)) for w in seen]


def lambdas():
    def returning():
        return (yield 1)

    answers = []
    for make in (lambda: (yield 1), lambda: (yield from returning())):
        generator = make()
        answers.append(next(generator))
        try:
            generator.send(2)
        except StopIteration as stop:
            answers.append(stop.value)
    return answers


def listing(flag):
    junk = 12
    seen = [dir()]
    del junk
    if flag:
        later = 1
    seen.append(dir())
    return seen


def handled(seen):
    # What the generator sees as handled, its own or, while it has none, its caller's at each
    # resumption, also after a try statement or a with block begun under another caller.
    try:
        seen.append(repr(sys.exception()))
        yield
        raise TypeError("own")
    except TypeError:
        seen.append(repr(sys.exception()))
        yield
        seen.append(repr(sys.exception()))
    seen.append(repr(sys.exception()))
    with contextlib.suppress(ZeroDivisionError):
        yield
        1 / 0
    seen.append(repr(sys.exception()))
    yield


def resumed():
    seen = []
    generator = handled(seen)
    next(generator)
    for caller in (ValueError("first"), OSError("second"), None, KeyError("last")):
        try:
            if caller:
                raise caller
            next(generator, None)
        except Exception:
            next(generator, None)
    return seen, repr(sys.exception())


def report():
    print(contexts())
    print(sending())
    print(resumed())
    print(names())
    print(throwing_with_type_and_value())
    print(lambdas())
    print(listing(False), listing(True))
)PY"},
    // Exception handlers and unbound names: an `except ... as` target unbound after the
    // handler (read alone as a statement too), an assert whatever the module binds as
    // AssertionError, NameError's `name`, an inner function run before its variable is bound
    // (and constants bound before it, kept C numbers), a class body reading its own name or a
    // variable bound later, `except` types that are no exception classes, locals() with free
    // variables, annotations stored into the namespace a metaclass prepared.
    {"handlers.py", R"PY(import sys


def attempt(action):
    try:
        return action()
    except BaseException as error:
        name = getattr(error, "name", "-") if isinstance(error, NameError) else "-"
        return f"{type(error).__name__}({error}) name={name}"


def handler_target():
    try:
        raise KeyError("k")
    except KeyError as caught:
        kept = repr(caught)
    listed = "caught" in locals()
    try:
        caught
    except UnboundLocalError as error:
        return kept, listed, str(error)


def deleted_target():
    try:
        raise KeyError("k")
    except KeyError as caught:
        del caught
    return "caught" in locals(), attempt(lambda: caught)


def shadowed_assert():
    global AssertionError
    AssertionError = TypeError
    try:
        assert 1 > 2, "shadowed"
    except BaseException as error:
        return type(error).__name__, str(error)
    finally:
        del AssertionError


def undefined_global():
    return missing_everywhere


def inner_before_assignment():
    def inner():
        return late
    first = attempt(inner)
    late = 5
    return first, inner()


def inner_in_branch(flag):
    if flag:
        chosen = 7

    def inner():
        return chosen
    return inner


def constants_before_inner():
    STEP, LIMIT = 3, 10

    def inner(start):
        return [n for n in range(start, LIMIT, STEP)]
    return inner(1)


def class_reads_own_name():
    class Node:
        Node
    return Node


def class_reads_later_variable():
    class Early:
        seen = later
    later = 1
    return Early


def matchers():
    results = []
    for matcher in (42, (ValueError, 42), "ValueError", (ValueError, (KeyError,)), ValueError):
        try:
            try:
                raise ValueError("v")
            except matcher:
                results.append("caught")
        except TypeError as error:
            results.append(str(error))
        except ValueError:
            results.append("passed by")
    return results


def locals_with_free():
    outer_value = 2

    def middle(y):
        def innermost(z):
            return y + z
        w = outer_value + y
        y += 3
        return sorted(locals())
    return middle(4)


class LowerKeys:
    def __init__(self):
        self.items = {}

    def __setitem__(self, key, value):
        self.items[key.lower()] = value


class Preparing(type):
    @classmethod
    def __prepare__(cls, name, bases, **keywords):
        return {"__annotations__": LowerKeys()}


def annotations_into_namespace():
    class Annotated(metaclass=Preparing):
        First: int
        Second: str = "s"
    return sorted(Annotated.__annotations__.items), Annotated.Second


def report():
    print(handler_target())
    print(deleted_target())
    print(shadowed_assert(), "AssertionError" in globals())
    print(attempt(undefined_global))
    print(attempt(inner_before_assignment))
    print(attempt(inner_in_branch(True)), attempt(inner_in_branch(False)))
    print(constants_before_inner())
    print(attempt(class_reads_own_name))
    print(attempt(class_reads_later_variable))
    print(matchers())
    print(locals_with_free())
    print(annotations_into_namespace())
)PY"},
};

TEST(LanguageParity, ProgramComputesWhatPythonComputes) {
  expectCaseProgramAsPython("language", languageFiles, languageCases);
}

TEST(LanguageParity, LibraryAnswersWhatPythonAnswers) {
  expectCaseLibraryAsPython("language", languageFiles, languageCases);
}

} // namespace
} // namespace quorvex::e2e
