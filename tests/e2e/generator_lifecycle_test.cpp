// Generators, coroutines and async generators through their lives, as inspect and the libraries
// that ask it see them: the state at each stage (created, running, suspended in a yield, an
// await or a delegation, closed), a task group that cancels only the children that have started
// (as anyio's does) and must not hang, and the locals a finished generator frees although a
// nested function made a cycle with its closure (the collector is off). Each case is a module
// with a report(), built as one program and as one library's wheel, both compared with CPython.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace quorvex::e2e {
namespace {

const std::vector<std::string> lifecycleCases = {"states", "taskgroups", "freed"};

const std::map<std::string, std::string> lifecycleFiles = {
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
};

TEST(GeneratorLifecycle, ProgramAnswersAsPython) {
  expectCaseProgramAsPython("lifecycle", lifecycleFiles, lifecycleCases);
}

TEST(GeneratorLifecycle, LibraryAnswersAsPython) {
  expectCaseLibraryAsPython("lifecycle", lifecycleFiles, lifecycleCases);
}

} // namespace
} // namespace quorvex::e2e
