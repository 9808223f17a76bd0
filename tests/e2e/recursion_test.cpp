// Chains of generators that delegate with `yield from`, built as a program and as a library:
// each chain ends in RecursionError after about as many items as under CPython and soon, also
// under a lowered recursion limit and in a thread with a small stack; uncaught, the program
// ends with status 1 and CPython's last line.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> chainFiles = {
    {"pyproject.toml", "[project]\nname = \"chains\"\nversion = \"1.0\"\n"},
    {"chains.py", R"(import sys
import threading
import time


def rgen(n):
    yield n
    yield from rgen(n + 1)


def down(n):
    return down(n + 1) + 1


def items_before_error(cap):
    # The items of a chain of delegating generators before RecursionError, at most `cap`.
    items = 0
    try:
        for _ in rgen(0):
            items += 1
            if items == cap:
                break
    except RecursionError:
        pass
    return items


def in_thread(stack_size, work):
    # `work()` in a thread of its own, with a stack of `stack_size` bytes.
    found = []
    threading.stack_size(stack_size)
    try:
        thread = threading.Thread(target=lambda: found.append(work()))
        thread.start()
        thread.join()
    finally:
        threading.stack_size(0)
    return found[0]


def runaway():
    try:
        down(0)
    except RecursionError as error:
        return type(error).__name__


def main():
    if sys.argv[1:] == ["uncaught"]:
        print(len(list(rgen(0))))
    start = time.perf_counter()
    limit = sys.getrecursionlimit()
    counts = [items_before_error(3 * limit)]
    sys.setrecursionlimit(200)
    try:
        counts.append(items_before_error(3 * 200))
    finally:
        sys.setrecursionlimit(limit)
    counts.append(in_thread(256 * 1024, lambda: items_before_error(3 * limit)))
    print(*counts)
    print(in_thread(256 * 1024, runaway), in_thread(128 * 1024, runaway))
    print(f"{time.perf_counter() - start:.3f}")


if __name__ == "__main__":
    main()
)"},
};

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::string lastLine(const std::string& text) {
  const auto lines = linesOf(text);
  return lines.empty() ? "" : lines.back();
}

// The chains' item counts within 5 % of CPython's, the same runaway recursions, and all of it
// in well under a second.
void expectChainsAsUnderCPython(const Outcome& actual, const Outcome& expected) {
  ASSERT_EQ(actual.status, 0) << actual.all();
  const auto got = linesOf(actual.out), want = linesOf(expected.out);
  ASSERT_EQ(got.size(), 3u) << actual.all();
  ASSERT_EQ(want.size(), 3u) << expected.all();
  const auto counts = numbersOf(got[0]), cpython = numbersOf(want[0]);
  ASSERT_EQ(counts.size(), 3u) << got[0];
  ASSERT_EQ(cpython.size(), 3u) << want[0];
  for (std::size_t i = 0; i < counts.size(); ++i) {
    SCOPED_TRACE("chain " + std::to_string(i) + ": " + got[0] + " where CPython gives " + want[0]);
    EXPECT_LE(std::labs(counts[i] - cpython[i]) * 20, cpython[i]);
  }
  EXPECT_EQ(got[1], want[1]);
  EXPECT_LT(std::strtod(got[2].c_str(), nullptr), 1.0) << "seconds";
}

TEST(Recursion, DelegatingGeneratorsCountAsCPythonsFramesInProgramsAndLibraries) {
  Project project("chains", chainFiles);
  const Outcome expected = run({buildPython().string(), "chains.py"}, project.dir());
  ASSERT_EQ(expected.status, 0) << expected.all();
  const Outcome expectedUncaught =
      run({buildPython().string(), "chains.py", "uncaught"}, project.dir());
  ASSERT_EQ(expectedUncaught.status, 1) << expectedUncaught.all();
  ASSERT_EQ(lastLine(expectedUncaught.err), "RecursionError: maximum recursion depth exceeded");

  {
    SCOPED_TRACE("a program");
    const Outcome build = project.build({"chains", "chains.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    const std::string program = (project.buildDir() / "chains").string();
    expectChainsAsUnderCPython(run({program}, project.dir()), expected);
    const Outcome uncaught = run({program, "uncaught"}, project.dir());
    EXPECT_EQ(uncaught.status, 1) << uncaught.all();
    EXPECT_EQ(uncaught.out, "");
    EXPECT_EQ(lastLine(uncaught.err), lastLine(expectedUncaught.err));
  }
  {
    SCOPED_TRACE("a library");
    const Outcome build = project.build({"--library", "--wheel", "dist", "chains", "chains.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    const fs::path python = pipInstall(freshVenv("chains"), onlyWheel(project.dir() / "dist"));
    expectChainsAsUnderCPython(
        runClean({python.string(), "-c", "import chains; chains.main()"}, "/"), expected);
    const Outcome uncaught = runClean(
        {python.string(), "-c", "import sys, chains; sys.argv[1:] = ['uncaught']; chains.main()"},
        "/");
    EXPECT_EQ(uncaught.status, 1) << uncaught.all();
    EXPECT_EQ(lastLine(uncaught.err), lastLine(expectedUncaught.err));
  }
}

} // namespace
} // namespace quorvex::e2e
