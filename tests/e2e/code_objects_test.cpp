// The code objects of compiled functions, generators and coroutines run as Python code (exec, or
// a function made from one), also under a tracer, in a program and in a library's wheel, also
// under a later Python: a function's runs its compiled body, as CPython runs a copy's; those of
// generators, coroutines, closures and functions made more than once raise TypeError naming
// their function and the process goes on; an async generator dropped before it started warns
// of nothing, as under CPython.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::string codesSource = R"(import gc, sys, types, warnings

def plain():
    return 1

def numbers():
    yield 1

async def answer():
    return 42

async def stream():
    yield 3

def make_inner():
    def inner():
        return 2
    return inner

def make_class():
    class Local:
        def method():
            return 3
    return Local

def attempt(action):
    try:
        result = action()
    except TypeError as error:
        return str(error)
    getattr(result, "close", int)()
    return "ran"

def main():
    if sys.argv[1:] == ["uncaught"]:
        exec(make_inner().__code__, {})
    # Under CPython, exec() drops the coroutine that a coroutine's code makes.
    warnings.filterwarnings("ignore", "coroutine 'answer' was never awaited")
    pending = answer()
    make_class()
    codes = (plain.__code__, numbers.__code__, numbers().gi_code, pending.cr_code,
             make_inner().__code__, make_class().method.__code__)
    for code in codes:
        print(attempt(lambda: types.FunctionType(code, {})()))
        print(attempt(lambda: exec(code, {})))
    pending.close()
    sys.settrace(lambda *args: None)
    print(attempt(lambda: exec(plain.__code__, {})))
    sys.settrace(None)
    unstarted = stream()
    del unstarted
    gc.collect()

if __name__ == "__main__":
    main()
)";

// What running the code of compiled function `name` raises.
std::string refusal(const std::string& name) {
  const auto at = codesSource.find("def " + name + "(");
  const auto line = std::count(codesSource.begin(), codesSource.begin() + at, '\n') + 1;
  return "the code object of compiled function '" + name + "' (codes.py, line " +
         std::to_string(line) + ") holds no bytecode to run";
}

// `run(argument)` runs the product's main() with that argument; `cpython` runs the sources in
// `dir`.
template <typename Run>
void expectCodeObjectsRaise(Run run, const fs::path& cpython, const fs::path& dir) {
  const Outcome expected = e2e::run({cpython.string(), "codes.py"}, dir);
  EXPECT_EQ(expected.status, 0) << expected.all();
  std::string raised = "ran\nran\n";
  for (const std::string name : {"numbers", "numbers", "answer", "inner", "method"})
    raised += refusal(name) + "\n" + refusal(name) + "\n";
  const Outcome ran = run("");
  EXPECT_EQ(ran.status, 0) << ran.all();
  EXPECT_EQ(ran.out, raised + "ran\n");
  EXPECT_EQ(ran.err, expected.err);
  const Outcome uncaught = run("uncaught");
  EXPECT_EQ(uncaught.status, 1) << uncaught.all();
  EXPECT_TRUE(uncaught.err.ends_with("\nTypeError: " + refusal("inner") + "\n")) << uncaught.err;
}

// pyenv's CPython of the minor version after the build interpreter's, if any.
fs::path laterCPython() {
  const Outcome minor =
      run({buildPython().string(), "-c", "import sys; print(sys.version_info[1])"}, "/");
  const std::string prefix = "3." + std::to_string(std::atoi(minor.out.c_str()) + 1) + ".";
  const char* home = std::getenv("HOME");
  std::error_code error;
  for (const auto& entry :
       fs::directory_iterator(fs::path(home ? home : "/") / ".pyenv/versions", error))
    if (const std::string name = entry.path().filename().string();
        name.starts_with(prefix) && !name.ends_with("t") &&
        fs::exists(entry.path() / "bin/python3"))
      return entry.path() / "bin/python3";
  return {};
}

TEST(CodeObjects, RunAsPythonRaiseNamingTheirFunctionInProgramsAndLibraries) {
  Project project("codes",
                  {{"codes.py", codesSource},
                   {"pyproject.toml", "[project]\nname = \"codes\"\nversion = \"1.0\"\n"}});
  ASSERT_EQ(project.build({"codes", "codes.py"}).status, 0);
  const std::string program = (project.buildDir() / "codes").string();
  expectCodeObjectsRaise([&](const std::string& mode) { return run({program, mode}, "/"); },
                         buildPython(), project.dir());

  const Outcome build = project.build({"--library", "--wheel", "dist", "codes", "codes.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  const fs::path wheel = onlyWheel(project.dir() / "dist");
  auto importer = [](const fs::path& python) {
    return [python](const std::string& mode) {
      return runClean(
          {python.string(), "-c",
           "import sys, codes; sys.argv[1:] = ['" + mode + "']; sys.exit(codes.main())"},
          "/");
    };
  };
  expectCodeObjectsRaise(importer(pipInstall(freshVenv("codes"), wheel)), buildPython(),
                         project.dir());
  // A stable-ABI library under a later Python, whose bytecode differs.
  const fs::path later = laterCPython();
  if (later.empty())
    GTEST_SKIP() << "no later CPython: the library ran under one Python";
  SCOPED_TRACE(later.string());
  expectCodeObjectsRaise(importer(pipInstall(freshVenv("codes-later", later), wheel)), later,
                         project.dir());
}

// Copies of compiled functions made as libraries make them (types.FunctionType of the code, with
// defaults of their own) run the compiled body with the copy's arguments.
const std::string copiesSource = R"(import types

def copy(f, defaults=None):
    return types.FunctionType(f.__code__, f.__globals__, "copied",
                              f.__defaults__ if defaults is None else defaults, f.__closure__)

def scaled(x, factor=2):
    return x * factor

def spread(first, /, second, *rest, flag=False, **options):
    return (first, second, rest, flag, sorted(options.items()))

def failing(value):
    raise ValueError("bad %r" % (value,))

def plain():
    print("plain ran")
    return "plain"

class Shape:
    def __init__(self, side):
        self.side = side

    def area(self, times=1):
        return self.side * self.side * times

def attempt(action):
    try:
        print(repr(action()))
    except Exception as error:
        print("%s: %s" % (type(error).__name__, error))

def report():
    attempt(lambda: copy(scaled)(5))
    attempt(lambda: copy(scaled, defaults=(10,))(5))
    attempt(lambda: copy(scaled)(x=3, factor=4))
    attempt(lambda: copy(scaled)())
    area = copy(Shape.area)
    attempt(lambda: area(Shape(3)))
    attempt(lambda: area(Shape(3), times=2))
    spread_copy = copy(spread)
    attempt(lambda: spread_copy(1, 2, 3, 4, flag=True, colour="red"))
    attempt(lambda: spread_copy(1, second=2))
    spread_copy.__kwdefaults__ = {"flag": "given"}
    attempt(lambda: spread_copy(1, second=2))
    attempt(lambda: spread_copy(first=1, second=2))
    attempt(lambda: copy(failing)(7))
    exec(plain.__code__, {})
    attempt(lambda: copy(plain)())
    attempt(lambda: copy(plain).__name__)
)";

TEST(CodeObjects, CopiesOfCompiledFunctionsRunTheirBodiesAsPythonInProgramsAndLibraries) {
  expectCaseProgramAsPython("copyprog", {{"copies.py", copiesSource}}, {"copies"});
  expectCaseLibraryAsPython("copylib", {{"copies.py", copiesSource}}, {"copies"});
}

} // namespace
} // namespace quorvex::e2e
