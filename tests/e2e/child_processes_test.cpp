// A program that starts processes, compared with CPython running its sources: under spawn,
// forkserver and fork its Process, Pool, ProcessPoolExecutor, Queue, Manager and SharedMemory,
// and joblib's loky and multiprocessing backends, give CPython's output and status, main() runs
// once and no process is left behind; a child's failure ends as CPython's does; argument lists
// that only look like a child's reach main().
// Code that reads its caller's frame in main() finds the main module.
#include "e2e/e2e_support.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> childFiles = {
    {"starter.py", R"(import collections
import concurrent.futures
import logging
import multiprocessing
import os
import sys
from multiprocessing import shared_memory

import work


def square(x):
    return x * x


def main():
    names = work.caller_names()
    command = sys.argv[1]
    if command == "frames":
        records = frames(names)
        logging.warning("from main")
        for record in records:
            print("record", record.filename, record.funcName, record.module, record.getMessage())
        return 0
    if command not in ("spawn", "forkserver", "fork", "joblib"):
        print("main", sys.argv[1:])
        return 0
    # One line per call of main(): a second call starts nothing.
    with open(sys.argv[2], "a+") as log:
        log.seek(0)
        again = log.read()
        log.write("main\n")
    if again:
        return 1
    if command == "joblib":
        return with_joblib()
    # The children's interpreter options then differ from those the parent writes for them.
    os.environ["PYTHONWARNINGS"] = "ignore"
    ctx = multiprocessing.get_context(command)
    queue = ctx.Queue()
    process = ctx.Process(target=work.put_twice, args=(queue, 21))
    process.start()
    # Waits that end: a child that ran main() again would leave them waiting for ever.
    print("process", queue.get(timeout=60), end=" ")
    process.join()
    print(process.exitcode)
    with ctx.Pool(2) as pool:
        print("pool", pool.map_async(square, range(5)).get(60))
    with concurrent.futures.ProcessPoolExecutor(2, mp_context=ctx) as executor:
        print("executor", list(executor.map(work.cube, range(4))))
    with ctx.Manager() as manager:
        shared = manager.dict()
        worker = ctx.Process(target=work.record, args=(shared,))
        worker.start()
        worker.join()
        print("manager", dict(shared))
    memory = shared_memory.SharedMemory(create=True, size=4)
    try:
        worker = ctx.Process(target=work.fill, args=(memory.name,))
        worker.start()
        worker.join()
        print("shared memory", bytes(memory.buf[:4]))
    finally:
        memory.close()
        memory.unlink()
    failing = ctx.Process(target=work.fail)
    failing.start()
    failing.join()
    print("failed", failing.exitcode)
    return 3


def with_joblib():
    import joblib
    # loky's workers and its resource tracker; then multiprocessing's pool, beside loky's
    # tracker, which joblib starts for its memory maps.
    print("loky", joblib.Parallel(n_jobs=2)(joblib.delayed(work.cube)(i) for i in range(6)))
    print("multiprocessing", joblib.Parallel(n_jobs=2, backend="multiprocessing")(
        joblib.delayed(square)(i) for i in range(5)))
    return 4


def frames(names):
    print("names", "collections" in names and "square" in names and "work" in names,
          "command" in names, "ctx" in names)
    print("globals", work.caller_globals() is vars(sys.modules[main.__module__]))
    print("namedtuple", collections.namedtuple("Pair", "a b").__module__ == main.__module__)
    records = []
    handler = logging.Handler()
    handler.emit = records.append
    logging.getLogger().addHandler(handler)
    work.log_line()
    return records


if __name__ == "__main__":
    sys.exit(main())
)"},
    {"work.py", R"(import sys
import logging
from multiprocessing import shared_memory

# What fire.Fire() reads in the function that calls it: the caller's globals and locals, from a
# function that runs as Python code.
_lookup = {}
exec("import inspect\n"
     "def caller_names():\n"
     "    frame = inspect.stack()[1].frame\n"
     "    return {**frame.f_globals, **frame.f_locals}\n", _lookup)
caller_names = _lookup["caller_names"]


def caller_globals():
    return sys._getframe(1).f_globals


def log_line():
    logging.warning("from work")


def put_twice(queue, value):
    queue.put(value * 2)


def cube(x):
    return x ** 3


def record(shared):
    shared["argv"] = sys.argv[1:2]


def fill(name):
    memory = shared_memory.SharedMemory(name=name)
    memory.buf[:4] = b"full"
    memory.close()


def fail():
    raise ValueError("a child's error")
)"},
};

// The lines of `text` that are not a traceback's file and source lines, which name other paths.
std::string withoutPlaces(const std::string& text) {
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);)
    if (!line.starts_with("  ")) kept += line + "\n";
  return kept;
}

// The command lines of the running processes of `program`, waiting a little for those that
// are ending.
std::vector<std::string> processesOf(const fs::path& program) {
  std::vector<std::string> found;
  for (int attempt = 0; attempt < 50; ++attempt) {
    found.clear();
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::error_code error;
      if (fs::read_symlink(entry.path() / "exe", error) != program) continue;
      std::ifstream in(entry.path() / "cmdline");
      found.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (found.empty()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return found;
}

// joblib and cloudpickle, unpacked from the wheels that scripts/setup downloads, as the
// PYTHONPATH setting that finds them.
std::string joblibPath() {
  const fs::path dir = scratch("joblib");
  for (const auto& wheel : fs::directory_iterator(QUORVEX_VENV "/test-wheels")) {
    const Outcome unpacked = run({buildPython().string(), "-m", "zipfile", "-e",
                                  wheel.path().string(), dir.string()},
                                 dir);
    EXPECT_EQ(unpacked.status, 0) << unpacked.all();
  }
  EXPECT_TRUE(fs::exists(dir / "joblib" / "externals" / "loky")) << "run scripts/setup";
  return "PYTHONPATH=" + dir.string();
}

TEST(ChildProcesses, StartedThroughTheProgramRunAsUnderPython) {
  Project project("children", childFiles);
  const Outcome build = project.build({"starter", "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  const fs::path program = project.buildDir() / "starter";
  const std::string python = buildPython().string();

  for (const std::string method : {"spawn", "forkserver", "fork"}) {
    SCOPED_TRACE(method);
    const fs::path log = project.dir() / (method + ".log");
    const fs::path pythonLog = project.dir() / (method + ".python.log");
    const Outcome expected = run({python, "starter.py", method, pythonLog.string()}, project.dir());
    const Outcome actual = run({program.string(), method, log.string()}, project.dir());
    EXPECT_EQ(expected.out, "process 42 0\npool [0, 1, 4, 9, 16]\nexecutor [0, 1, 8, 27]\n"
                            "manager {'argv': ['" + method + "']}\nshared memory b'full'\n"
                            "failed 1\n") << expected.all();
    EXPECT_EQ(actual.out, expected.out) << actual.all();
    EXPECT_EQ(actual.status, 3) << actual.all();
    EXPECT_EQ(withoutPlaces(actual.err), withoutPlaces(expected.err)) << actual.all();
    EXPECT_EQ(testing::readFile(log), "main\n");
    EXPECT_EQ(processesOf(program), std::vector<std::string>{});
  }

  // A child's own failure: CPython's traceback from "<string>" and its status.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-c", "from multiprocessing.resource_tracker import main;main(99)"},
        {"--multiprocessing-fork", "pipe_handle=99"}}) {
    SCOPED_TRACE(args[0]);
    std::vector<std::string> native = {program.string()};
    native.insert(native.end(), args.begin(), args.end());
    const Outcome actual = run(native, project.dir());
    const Outcome expected =
        args[0] == "-c"
            ? run({python, args[0], args[1]}, project.dir())
            : run({python, "-c", "from multiprocessing.spawn import spawn_main; "
                                 "spawn_main(pipe_handle=99)", "--multiprocessing-fork"},
                  project.dir());
    EXPECT_EQ(actual.status, 1) << actual.all();
    EXPECT_EQ(actual.status, expected.status);
    EXPECT_TRUE(actual.err.starts_with("Traceback (most recent call last):\n"
                                       "  File \"<string>\", line 1, in <module>\n"))
        << actual.err;
    EXPECT_EQ(withoutPlaces(actual.err), withoutPlaces(expected.err));
  }

  // Argument lists that are not the ones multiprocessing writes reach main() as they are, and
  // none runs as code.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-B", "-c", "print(1)"},
           {"--multiprocessing-fork"},
           {"--multiprocessing-fork", "pipe_handle=x"},
           {"--multiprocessing-fork", "pipe_handle=+5"},
           {"--multiprocessing-fork", "tracker_fd=4"},
           {"--multiprocessing-fork", "pipe_handle=5", "junk=1"},
           {"-c", "from multiprocessing.resource_tracker import main;main(3); print(1)"},
           {"-c", "from multiprocessing.resource_tracker import main; main(3)"},
           {"-Q", "-c", "from multiprocessing.resource_tracker import main;main(3)"},
           {"-c", "from multiprocessing.resource_tracker import main;main(print('ran'))"},
           {"-c", "from multiprocessing.forkserver import main; "
                  "main(3, 4, ['__main__'], **{'x': print('ran')})"},
           {"-c", "from multiprocessing.resource_tracker import main as run;run(3)"}}) {
    const Outcome actual = expectSameAsPython(program.string(), "starter.py", args, project.dir());
    EXPECT_TRUE(actual.out.starts_with("main [")) << actual.all();
  }

  {
    SCOPED_TRACE("joblib");
    const std::string withJoblib = joblibPath();
    const fs::path log = project.dir() / "joblib.log";
    const Outcome expected = run({"env", withJoblib, python, "starter.py", "joblib",
                                  (project.dir() / "joblib.python.log").string()},
                                 project.dir());
    const Outcome actual = run({"env", withJoblib, program.string(), "joblib", log.string()},
                               project.dir());
    EXPECT_EQ(expected.out, "loky [0, 1, 8, 27, 64, 125]\nmultiprocessing [0, 1, 4, 9, 16]\n")
        << expected.all();
    EXPECT_EQ(actual.out, expected.out) << actual.all();
    EXPECT_EQ(actual.status, 4) << actual.all();
    EXPECT_EQ(actual.err, expected.err);
    EXPECT_EQ(testing::readFile(log), "main\n");
    EXPECT_EQ(processesOf(program), std::vector<std::string>{});

    // loky's children on their own: a worker runs its module as __main__, as under -m, and a
    // tracker its main(); neither has a pipe to read, and each fails in CPython's words.
    const std::string worker = "joblib.externals.loky.backend.popen_loky_posix";
    const std::string tracker = "from joblib.externals.loky.backend.resource_tracker import main";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-m", worker, "--process-name", "w", "--pipe", "99"},
          {"-B", "-c", tracker + "; main(99, False)"}}) {
      SCOPED_TRACE(args.back());
      std::vector<std::string> native = {"env", withJoblib, program.string()};
      std::vector<std::string> interpreted = {"env", withJoblib, python};
      native.insert(native.end(), args.begin(), args.end());
      interpreted.insert(interpreted.end(), args.begin(), args.end());
      const Outcome child = run(native, project.dir());
      const Outcome pythonChild = run(interpreted, project.dir());
      EXPECT_NE(child.status, 0) << child.all();
      EXPECT_EQ(child.status, pythonChild.status) << child.all();
      EXPECT_EQ(withoutPlaces(child.out), withoutPlaces(pythonChild.out)) << child.all();
      EXPECT_EQ(withoutPlaces(child.err), withoutPlaces(pythonChild.err)) << child.all();
    }
    // Near misses of loky's argument lists reach main() as they are.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-m", worker, "--pipe", "99", "--process-name", "w"},
             {"-m", worker, "--process-name", "w", "--pipe", "099"},
             {"-m", worker, "--process-name", "w", "--pipe", "99", "x"},
             {"-m", "joblib.externals.loky.backend.popen_loky_win32", "--process-name", "w",
              "--pipe", "99"},
             {"-m", "loky.backend.popen_loky_posix", "--process-name", "w", "--pipe", "99"},
             {"-c", tracker + ";main(99, False)"},
             {"-c", tracker + "; main(99, 'False')"},
             {"-c", tracker + "; main([99], False)"},
             {"-c", tracker + "; main(99, False, print('ran'))"}}) {
      std::vector<std::string> native = {"env", withJoblib, program.string()};
      std::vector<std::string> interpreted = {"env", withJoblib, python, "starter.py"};
      native.insert(native.end(), args.begin(), args.end());
      interpreted.insert(interpreted.end(), args.begin(), args.end());
      const Outcome actual = run(native, project.dir());
      EXPECT_EQ(actual.out, run(interpreted, project.dir()).out) << actual.all();
      EXPECT_TRUE(actual.out.starts_with("main [")) << actual.all();
    }
  }

  // In main(), the caller's frame is of the main module's namespace: a lookup of the caller's
  // names as fire.Fire() makes it, a compiled helper's sys._getframe(1), namedtuple's module.
  // A record logged by compiled code names main() in the main module, as one logged in main()
  // does under CPython.
  const Outcome framed = run({program.string(), "frames"}, project.dir());
  EXPECT_EQ(framed.out, "names True False False\nglobals True\nnamedtuple True\n"
                        "record starter.py main starter from work\n"
                        "record starter.py main starter from main\n")
      << framed.all();
  EXPECT_EQ(framed.err, "");
  const Outcome pythonFrames = run({python, "starter.py", "frames"}, project.dir());
  EXPECT_EQ(pythonFrames.out, "names True False False\nglobals True\nnamedtuple True\n"
                              "record work.py log_line work from work\n"
                              "record starter.py main starter from main\n")
      << pythonFrames.all();
}

} // namespace
} // namespace quorvex::e2e
