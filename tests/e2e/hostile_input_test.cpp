// Input beyond what the tool's helpers take: modules that crash Cython's interpreter or its
// compiler are named with a short reason while the others of their batch are still translated,
// and products named like the build directory's own entries, versions too long for a wheel's
// file name, markers nested too deep and dependencies or a requires-python that installers
// would refuse are refused before anything is compiled.
#include "e2e/e2e_support.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

std::string repeated(const std::string& part, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) text += part;
  return text;
}

TEST(TranslatorCrashes, NameTheirModuleBrieflyAndTheRestOfTheBatchIsTranslated) {
  Project project("crashes",
                  {{"app.py", "import plain\nprint(plain.VALUE)\n"},
                   // Nested deeper than CPython compiles: refused with CPython's error, where
                   // it once overflowed the C stack of Cython's parser (SIGSEGV).
                   {"deep.py", "x = " + repeated("(", 10000) + "1" + repeated(")", 10000) + "\n"},
                   // CPython compiles a chain of `and`s flat, Cython nests it past the depth its
                   // tree transforms are given: a compiler crash.
                   {"long.py", "x = 1" + repeated(" and 1", 20000) + "\n"},
                   {"plain.py", "VALUE = 2\n"}});
  // One batch, the largest module first.
  setenv("QUORVEX_JOBS", "2", 1);
  const Outcome failed = project.build({"app", "*.py"});
  EXPECT_EQ(failed.status, 1) << failed.all();
  EXPECT_NE(failed.err.find("Cython could not translate modules long (long.py), deep (deep.py)\n"),
            std::string::npos)
      << failed.all();
  // CPython's own verdict, at the column where its parser gave up.
  EXPECT_NE(failed.err.find("CPython cannot compile it: deep.py:1:"), std::string::npos)
      << failed.all();
  EXPECT_NE(failed.err.find(": SyntaxError: too many nested parentheses\nfailed to translate "
                            "module deep\n"),
            std::string::npos)
      << failed.all();
  EXPECT_EQ(failed.err.find("killed by signal"), std::string::npos) << failed.all();
  EXPECT_NE(failed.err.find(": Compiler crash in NormalizeTree: RecursionError: maximum recursion "
                            "depth exceeded"),
            std::string::npos)
      << failed.all();
  // The crash report without its chain of nodes and its traceback.
  EXPECT_LT(std::count(failed.err.begin(), failed.err.end(), '\n'), 12) << failed.all();
  EXPECT_EQ(failed.err.find("Traceback"), std::string::npos) << failed.all();
  for (const char* translated : {"app.c", "plain.c"})
    EXPECT_TRUE(fs::exists(project.buildDir() / translated)) << translated;
  for (const char* untranslated : {"deep.c", "long.c"})
    EXPECT_FALSE(fs::exists(project.buildDir() / untranslated)) << untranslated;

  // --verbose shows Cython's whole report.
  const Outcome verbose = run({tool().string(), "--verbose", "build", "app", "*.py"}, project.dir());
  EXPECT_EQ(verbose.status, 1) << verbose.all();
  EXPECT_NE(verbose.err.find("Compiler crash traceback from this point on:"), std::string::npos)
      << verbose.all();
  unsetenv("QUORVEX_JOBS");
}

TEST(ProductsAndPackaging, ThatCannotBeBuiltAreRefusedBeforeCompiling) {
  Project project("clashes", {{"app.py", "import helper\n"},
                              {"helper.py", "VALUE = 1\n"},
                              {"python.py", "print('python')\n"},
                              {"wrk.py", "print('wrk')\n"},
                              {"pyproject.toml", "[project]\nname = \"app\"\nversion = \"1.0\"\n"}});
  const auto refused = [&](const std::vector<std::string>& args, const std::string& message) {
    const Outcome outcome = project.build(args);
    EXPECT_EQ(outcome.status, 1) << outcome.all();
    EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.all();
    EXPECT_EQ((outcome.out + outcome.err).find("Compiling"), std::string::npos) << outcome.all();
    EXPECT_FALSE(fs::exists(project.buildDir() / "app.c"));
  };
  const std::string written = "The program would be written to '.quorvex_build/";
  const std::string exe = "; give it another name with --exe";
  refused({"python", "python.py"}, written + "python', where the build keeps the private Python" + exe);
  refused({"--wheel", "dist", "wrk", "wrk.py"},
          written + "wrk', where the build keeps the work directory of the wheel" + exe);
  refused({"--exe", "__main__.h", "app", "app.py", "helper.py"},
          written + "__main__.h', where the build keeps the header of the start-up module" + exe);
  refused({"--exe", "helper.o", "app", "*.py"},
          written + "helper.o', where the build keeps the object file of module helper" + exe);
  refused({"--exe", "_qvx_bootstrap.pyx", "app", "app.py", "helper.py"},
          written + "_qvx_bootstrap.pyx', where the build keeps a file of the start-up module" +
              exe);
  refused({"--exe", repeated("e", 300), "app", "app.py"},
          "The program's file name '" + repeated("e", 40) +
              "...' has 300 bytes, more than the 200 a build can link; give it a shorter name "
              "with --exe");
  refused({"--wheel", repeated("w", 300), "app", "app.py"},
          "The wheel directory '" + repeated("w", 300) + "' (--wheel) cannot be made: File name "
                                                         "too long");
  EXPECT_FALSE(fs::exists(project.buildDir() / "python"));

  refused({"--wheel", "dist", "--version", "1" + repeated(".0", 20000), "app", "app.py"},
          "pyproject.toml: the name 'app' and the version '1" + repeated(".0", 49) +
              ".... (40001 bytes in all)' (from --version) have 40005 characters together");
  testing::writeFile(project.dir() / "pyproject.toml",
                     "[project]\nname = \"app\"\nversion = \"1.0\"\ndependencies = [\"six; " +
                         repeated("(", 100000) + "os_name == 'nt'" + repeated(")", 100000) +
                         "\"]\n");
  refused({"--embed", "emb", "app", "app.py"},
          "is not a valid requirement: the marker is nested more than 200 levels deep at column "
          "206");

  // Values that installers would refuse to read from the wheel's METADATA, or uv from the
  // project file.
  const std::vector<std::string> wheel = {"--wheel", "dist", "app", "app.py"};
  const std::tuple<std::string, std::vector<std::string>, std::string> values[] = {
      {"dependencies = [\"foo~=1.post1\"]", wheel,
       "pyproject.toml: entry 1 of 'project.dependencies', 'foo~=1.post1', is not a valid "
       "requirement: '~=1.post1' is not a valid version specifier at column 6: '~=' needs a "
       "release of at least two parts, such as '~=1.0'"},
      {"optional-dependencies = {net = [\"foo @ https://x.org/a\\u00a0b\"]}", wheel,
       "is not a valid requirement: the URL ends at a blank at column 22 (U+00A0)"},
      {"requires-python = \"python 3 please\"", wheel,
       "pyproject.toml: 'project.requires-python', 'python 3 please', is not a version specifier set"},
      {"requires-python = [\">=3\"]", wheel,
       "pyproject.toml: 'project.requires-python' must be a string, not the array [\">=3\"]"},
      {"requires-python = \"~=3.post1\"", {"--embed", "emb", "app", "app.py"},
       "'~=3.post1' is not a version specifier such as '>=3.9': '~=' needs a release of at "
       "least two parts"}};
  for (const auto& [line, args, message] : values) {
    testing::writeFile(project.dir() / "pyproject.toml",
                       "[project]\nname = \"app\"\nversion = \"1.0\"\n" + line + "\n");
    refused(args, message);
  }
  EXPECT_FALSE(fs::exists(project.dir() / "dist"));
  EXPECT_FALSE(fs::exists(project.dir() / "emb"));
}

} // namespace
} // namespace quorvex::e2e
