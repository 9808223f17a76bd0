// What libraries, test suites and newer Python do with compiled code, reduced to a few lines
// each: case modules with a report(), built as one program (whose main module runs the cases
// named on its command line, each case apart) and as one library's wheel (the cases in one
// process), both compared with CPython on the same sources. The groups of cases:
// - Arithmetic and builtins that compiled code computed otherwise than CPython, and builtin types'
//   methods called unbound on instances of subclasses that override them: float floor division
//   (1.0 // 0.1), the result of a short `list.extend`, a bytearray extended in a program, `divmod`
//   as a value beside C calls of it, `pow` and `exec` with keywords, `format` with a format that is
//   no str; `dict.setdefault(self, ...)` in an ordered multi-dict, `list.pop`, `bytes.join`,
//   `bytearray.append` and the numbers' operators called through the builtin type, and operators'
//   methods called by name.
// - Function objects that libraries change as CPython lets them: the dict of keyword defaults
//   changed in place, parameters with private names in class bodies, and an assigned __code__,
//   which then runs with the function's own defaults and globals (networkx's argmap does all
//   three).
// - Builtins replaced after the modules loaded, as test suites replace them: a module global that
//   shadows a builtin (`mod.len = ...`, mock.patch("pkg.mod.open"), written through the module's
//   dict), a replaced builtin (mock.patch("builtins.print"), "builtins.input", "builtins.open",
//   `builtins.len = ...`), calls of builtins that compiled code makes C (len of a list,
//   isinstance, max of C ints, sorted, globals(), ord) and plain ones, each undone again.
// - Generators, coroutines and async generators through their lives, as inspect and the libraries
//   that ask it see them: the state at each stage (created, running, suspended in a yield, an
//   await or a delegation, closed), a task group that cancels only the children that have started
//   (as anyio's does) and must not hang, and the locals a finished generator frees although a
//   nested function made a cycle with its closure (the collector is off).
// - Type parameters on functions, methods, classes and type aliases, compiled: the TypeVar,
//   TypeVarTuple and ParamSpec objects, their bounds and constraints evaluated lazily, Generic in
//   a class's bases, aliases whose values are evaluated on first use (a recursive one, one in a
//   class body that reads the class's names), the qualified names, and the names visible in the
//   scopes they parametrize and nowhere else.
// - Starred items in subscripts (Python 3.11): the key a class's __getitem__, __setitem__ and
//   __delitem__ receive, variadic generics built from a TypeVarTuple (`tuple[int, *Ts]`,
//   `Generic[*Ts]`, `Callable[[*Ts], None]`), and the strings kept for starred annotations, read
//   back through __annotations__ and typing.get_type_hints.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> runtimeCases = {
    "arithmetic", "builtin_calls", "unbound",
    "kwinplace", "mangled", "codeswap", "argmapped",
    "shadowing", "mocking", "forms",
    "states", "taskgroups", "freed",
    "functions", "classes", "bounds", "variadic", "aliases",
    "keys", "unpacked", "hints",
};

const std::map<std::string, std::string> runtimeFiles = {
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
    // a format that is None, an int or bytes.
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
    for form in (None, 5, b"x"):
        try:
            out.append(format(3, form))
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
)PY"},
    {"states.py", R"PY(import asyncio
from inspect import getasyncgenstate, getcoroutinestate, getgeneratorstate

def counting():
    me = yield "started"
    yield getgeneratorstate(me), me.gi_suspended, me.gi_frame is None

def delegating(inner):
    yield from inner

def generators():
    g = counting()
    seen = [(getgeneratorstate(g), g.gi_suspended, g.gi_frame is None), next(g)]
    seen += [(getgeneratorstate(g), g.gi_suspended, g.gi_frame is None), g.send(g), list(g)]
    seen.append((getgeneratorstate(g), g.gi_suspended, g.gi_frame is None))
    unstarted, outer = counting(), delegating(counting())
    unstarted.close()
    next(outer)
    return seen + [getgeneratorstate(unstarted), getgeneratorstate(outer), outer.gi_suspended]

async def waiting(seen, me):
    seen.append(getcoroutinestate(me[0]))
    await asyncio.sleep(0)

async def coroutines():
    seen, me = [], []
    coro = waiting(seen, me)
    me.append(coro)
    seen.append((getcoroutinestate(coro), coro.cr_suspended, coro.cr_frame is None))
    task = asyncio.ensure_future(coro)
    await asyncio.sleep(0)
    seen.append((getcoroutinestate(coro), coro.cr_suspended, coro.cr_frame is None))
    await task
    seen.append((getcoroutinestate(coro), coro.cr_suspended, coro.cr_frame is None))
    return seen

async def ticking(seen, me):
    seen.append(getasyncgenstate(me[0]))
    yield 1
    await asyncio.sleep(0)
    yield 2

async def async_generators():
    seen, me = [], []
    agen = ticking(seen, me)
    me.append(agen)
    seen.append((getasyncgenstate(agen), agen.ag_suspended, agen.ag_frame is None))
    seen.append(await anext(agen))
    seen.append((getasyncgenstate(agen), agen.ag_suspended, agen.ag_frame is None))
    pending = asyncio.ensure_future(anext(agen))
    await asyncio.sleep(0)
    seen += [(getasyncgenstate(agen), agen.ag_suspended), await pending]
    await agen.aclose()
    return seen + [(getasyncgenstate(agen), agen.ag_suspended, agen.ag_frame is None)]

def report():
    print(generators())
    print(asyncio.run(coroutines()))
    print(asyncio.run(async_generators()))
)PY"},
    {"taskgroups.py", R"PY(import asyncio
import inspect
import threading
import time

class TaskGroup:
    # Cancels only the children whose coroutines have started, looking again at the others on
    # the loop's next turn, as anyio's task groups do.
    def __init__(self):
        self.tasks, self.told = set(), set()

    async def __aenter__(self):
        return self

    async def __aexit__(self, kind, error, traceback):
        if error is not None:
            self.cancel()
        while self.tasks:
            await asyncio.wait(set(self.tasks))

    def start_soon(self, func, *args):
        async def run():
            return await func(*args)
        task = asyncio.get_running_loop().create_task(run())
        self.tasks.add(task)
        task.add_done_callback(self.tasks.discard)

    def cancel(self):
        asyncio.get_running_loop().call_soon(self.deliver)

    def deliver(self):
        for task in self.tasks - self.told:
            if inspect.getcoroutinestate(task.get_coro()) in ("CORO_RUNNING", "CORO_SUSPENDED"):
                task.cancel()
                self.told.add(task)
        if self.tasks - self.told:
            asyncio.get_running_loop().call_soon(self.deliver)

async def child(log):
    log.append("child ran")
    await asyncio.sleep(3600)

async def cancelled_at_once(log):
    async with TaskGroup() as group:
        group.start_soon(child, log)
        group.cancel()
    log.append("group left")

async def raised_after_start(log):
    try:
        async with TaskGroup() as group:
            group.start_soon(child, log)
            raise ValueError("right after start_soon")
    except ValueError as error:
        log.append(repr(error))

def report():
    # Each case runs in a thread of its own: one that hangs is named, not waited for.
    cases = [cancelled_at_once, raised_after_start]
    logs = {case: [] for case in cases}
    threads = [threading.Thread(target=asyncio.run, args=(case(logs[case]),), daemon=True)
               for case in cases]
    for thread in threads:
        thread.start()
    deadline = time.monotonic() + 10
    for case, thread in zip(cases, threads):
        thread.join(max(0, deadline - time.monotonic()))
        print(case.__name__, "hangs" if thread.is_alive() else logs[case])
)PY"},
    {"freed.py", R"PY(import asyncio
import gc
import weakref

class Resource:
    pass

def with_helper(refs):
    held, count = Resource(), 1
    refs.append(weakref.ref(held))

    def helper():
        return count
    yield helper()

def keeping_captured(refs):
    held, kept = Resource(), Resource()
    refs += [weakref.ref(held), weakref.ref(kept)]
    yield lambda: kept

def raising(refs):
    held = Resource()
    refs.append(weakref.ref(held))
    check = lambda: held
    yield check() is held
    raise ValueError("finished by an exception")

async def awaiting(refs):
    held = Resource()
    refs.append(weakref.ref(held))

    async def helper():
        return len(refs)
    return await helper()

def alive(refs):
    return [ref() is not None for ref in refs]

def report():
    gc.disable()
    try:
        refs = []
        print(list(with_helper(refs)), alive(refs))
        refs = []
        getter = next(keeping_captured(refs))
        print(alive(refs), getter() is refs[1]())
        refs = []
        try:
            list(raising(refs))
        except ValueError:
            pass
        print(alive(refs))
        refs = []
        print(asyncio.run(awaiting(refs)), alive(refs))
    finally:
        gc.enable()
)PY"},
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
    // Variadic and ParamSpec parameters, on functions, classes and aliases.
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
    {"unpacked.py", R"PY(import typing
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

TEST(RuntimeParity, ProgramComputesWhatPythonComputes) {
  expectCaseProgramAsPython("runtime", runtimeFiles, runtimeCases);
}

TEST(RuntimeParity, LibraryAnswersWhatPythonAnswers) {
  expectCaseLibraryAsPython("runtime", runtimeFiles, runtimeCases);
}

} // namespace
} // namespace quorvex::e2e
