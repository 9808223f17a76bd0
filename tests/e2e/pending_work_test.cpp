// Compiled loops that call nothing running bytecode, built as a program and as a library, and
// run beside CPython on the same sources: another thread keeps getting the GIL, collections that
// allocation schedules run so that cyclic garbage does not pile up, a Python signal handler's
// exception stops the loop where it runs, exceptions thrown into a generator stay its own, and
// SIGINT ends a `while True:` with CPython's status and KeyboardInterrupt.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> busyFiles = {
    {"pyproject.toml", "[project]\nname = \"busy\"\nversion = \"1.0\"\n"},
    {"busy.py", R"(import gc
import resource
import signal
import sys
import threading
import time


def spin(seconds):
    # Calls nothing that runs bytecode or releases the GIL, but for the clock.
    end, n = time.monotonic() + seconds, 0
    while n % 1000 or time.monotonic() < end:
        n += 1


def ticks_during(seconds):
    ticks, stop = [], threading.Event()

    def tick():
        while not stop.is_set():
            ticks.append(1)
            time.sleep(0.01)

    thread = threading.Thread(target=tick)
    thread.start()
    time.sleep(0.05)
    before = len(ticks)
    spin(seconds)
    stop.set()
    thread.join()
    return len(ticks) - before


class Node:
    def __init__(self, parent=None):
        self.parent, self.children = parent, []
        if parent is not None:
            parent.children.append(self)


def garbage(kind):
    # The collections that ran and the growth of the peak memory in MiB.
    runs, peak = [], resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    gc.callbacks.append(lambda phase, info: runs.append(phase == "start"))
    for _ in range(200_000):
        if kind == "trees":
            root = Node()
            for _ in range(3):
                Node(root)
        else:
            a = []
            a.append(a)
    gc.callbacks.clear()
    return sum(runs), (resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - peak) // 1024


def catcher():
    caught = 0
    while True:
        try:
            yield caught
        except ValueError:
            caught += 1


def throw_into(count):
    # Each throw resumes the generator with the exception set.
    generator = catcher()
    next(generator)
    for _ in range(count):
        caught = generator.throw(ValueError)
    return caught


def on_alarm(signum, frame):
    raise TimeoutError("the alarm rang")


def main():
    command = sys.argv[1]
    if command == "ticks":
        print(ticks_during(1.0))
    elif command == "garbage":
        print(*garbage("trees"), *garbage("lists"))
    elif command == "throws":
        print(throw_into(300_000))
    elif command == "alarm":
        signal.signal(signal.SIGALRM, on_alarm)
        signal.setitimer(signal.ITIMER_REAL, 0.05)
        try:
            spin(5.0)
        except TimeoutError as error:
            print("stopped:", error)
    elif command == "forever":
        print("spinning", flush=True)
        while True:
            pass


if __name__ == "__main__":
    main()
)"},
    // Interrupts a command once it has said that it spins: its status, the last line of its
    // stderr, and whether the traceback shows anything but the project's own code.
    {"tools/interrupt.py", R"(import signal
import subprocess
import sys
import time

child = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
child.stdout.readline()
time.sleep(0.3)
child.send_signal(signal.SIGINT)
try:
    err = child.communicate(timeout=10)[1].decode()
except subprocess.TimeoutExpired:
    child.kill()
    sys.exit("still running 10 s after SIGINT")
print(child.returncode, err.splitlines()[-1:], "<compiled code>" in err)
)"},
};

// The command line that runs busy.main() with `command` as its argument.
using CommandLine = std::function<std::vector<std::string>(const std::string& command)>;

void expectServedAsUnderCPython(const CommandLine& compiled, const CommandLine& cpython,
                                const fs::path& interrupt) {
  const auto both = [&](const std::string& command) {
    return std::pair{run(compiled(command), "/"), run(cpython(command), "/")};
  };
  {
    SCOPED_TRACE("a thread ticking every 10 ms while a loop runs for 1 s");
    const auto [got, want] = both("ticks");
    ASSERT_EQ(got.status, 0) << got.all();
    // CPython lets the thread in after each 5 ms switch interval: some 65 ticks, fewer on a
    // loaded machine. Without the checks there were none.
    EXPECT_GE(std::stol(got.out) * 3, std::stol(want.out)) << got.out << " vs " << want.out;
    EXPECT_GE(std::stol(got.out), 10) << got.out;
  }
  {
    SCOPED_TRACE("200,000 trees with parent links, then 200,000 lists that hold themselves");
    const auto [got, want] = both("garbage");
    const auto counts = numbersOf(got.out), cpython = numbersOf(want.out);
    ASSERT_EQ(counts.size(), 4u) << got.all();
    ASSERT_EQ(cpython.size(), 4u) << want.all();
    for (std::size_t at : {0u, 2u}) {
      SCOPED_TRACE(got.out + " where CPython gives " + want.out);
      // Collections run, if fewer than CPython's one per 700 allocations, and the peak
      // memory grows by no more than a few MiB (without them: by 125 MiB for the trees).
      EXPECT_GE(counts[at] * 5, cpython[at]);
      EXPECT_LE(counts[at + 1], cpython[at + 1] + 16);
    }
  }
  for (const auto& [command, output] : {std::pair{"throws", "300000\n"},
                                         std::pair{"alarm", "stopped: the alarm rang\n"}}) {
    SCOPED_TRACE(command);
    const auto [got, want] = both(command);
    EXPECT_EQ(got.status, want.status) << got.all();
    EXPECT_EQ(got.out, want.out) << got.all();
    EXPECT_EQ(want.out, output);
  }
  const auto interrupted = [&](const CommandLine& commandLine) {
    std::vector<std::string> argv = {buildPython().string(), interrupt.string()};
    for (const std::string& word : commandLine("forever")) argv.push_back(word);
    return run(argv, "/").out;
  };
  const std::string expected = interrupted(cpython);
  EXPECT_EQ(expected, "-2 ['KeyboardInterrupt'] False\n");
  EXPECT_EQ(interrupted(compiled), expected);
}

TEST(PendingWork, CompiledLoopsLetThreadsCollectionsAndSignalsInAsCPythonsDo) {
  Project project("busy", busyFiles);
  const fs::path interrupt = project.dir() / "tools/interrupt.py";
  const CommandLine cpython = [&](const std::string& command) {
    return std::vector<std::string>{buildPython().string(), (project.dir() / "busy.py").string(),
                                    command};
  };
  {
    SCOPED_TRACE("a program");
    const Outcome build = project.build({"busy", "busy.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    const std::string program = (project.buildDir() / "busy").string();
    expectServedAsUnderCPython(
        [&](const std::string& command) { return std::vector<std::string>{program, command}; },
        cpython, interrupt);
  }
  {
    SCOPED_TRACE("a library");
    const Outcome build = project.build({"--library", "--wheel", "dist", "busy", "busy.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    const std::string library =
        pipInstall(freshVenv("busy"), onlyWheel(project.dir() / "dist")).string();
    expectServedAsUnderCPython(
        [&](const std::string& command) {
          return std::vector<std::string>{
              library, "-c",
              "import sys, busy\nassert 'cython' in type(busy.main).__name__\n"
              "sys.argv[1:] = ['" + command + "']\nbusy.main()"};
        },
        cpython, interrupt);
  }
}

} // namespace
} // namespace quorvex::e2e
