// How a built program ends, compared with CPython running the same sources as a console script
// would: its arguments (also under the C locale), main()'s result, an escaping exception,
// sys.exit, Ctrl-C, annotations, code that Cython once got wrong, docstrings and the program's
// own logging set-up, under a name given with --exe, also with libpython's compiled-in prefix
// out of reach; the runs that stop before compiling, and the warning for a pattern that matches
// nothing; build interpreter queries that ignore modules in the working directory; a library
// planted in the project's src that no run loads; and a program started with an extension's
// start-up code.
#include "e2e/e2e_support.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

#include <unistd.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> statusFiles = {
    // Stands in for the standard json module if anything in the working directory imports it.
    {"json.py", "raise SystemExit('json.py of the working directory was imported')\n"},
    {"src/greet.py", R"(import logging
import pickle
import sys
import time

import words


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "hello"
    if command == "raise":
        words.explode()
    if command == "exit":
        print("leaving with 3")
        sys.exit(3)
    if command == "return":
        return int(sys.argv[2]) if sys.argv[2].isdigit() else sys.argv[2]
    if command == "typed":
        print(repr(words.typed(2.5, words.Text("t"), range(2))))
        print(2 ** len(sys.argv), 10 ** (1 - len(sys.argv)), len(sys.argv) ** 70,
              len(sys.argv) << 70,
              words.last_two("abc"), words.kind(3), words.kind("3"))
        print(words.Text.names, words.spans(2), words.kind(None))
        return None
    if command == "log":
        logging.basicConfig(level=logging.INFO)
        logging.info("configured at %s", "INFO")
        return None
    if command == "args":
        print(ascii(sys.argv[2:]))
        return None
    if command == "docs":
        print(words.__doc__, words.Text.__doc__, words.greeting.__doc__)
        print(words.Pair.__module__, pickle.loads(pickle.dumps(words.Pair(1, 2))))
        return None
    if command == "wait":
        print("waiting", flush=True)
        time.sleep(60)
    print(words.greeting(sys.argv[2:]))


if __name__ == "__main__":
    sys.exit(main())
)"},
    {"src/words.py", R"("""Words to greet with."""
import collections

Pair = collections.namedtuple("Pair", "first second")


class Boom(RuntimeError):
    pass


class Text(str):
    """A text of one's own."""
    names = [name for name in locals() if not name.startswith("__")]


def spans(n):
    return [(tag, list(steps)) for steps, tag in ((range(n), "up"), (range(n - 1, -1, -1), "down"))]


def greeting(names):
    """The greeting for names."""
    return "hello " + " and ".join(names or ["world"])


def last_two(items):
    first, second = items[len(items) - 2:len(items)]
    return first, second


def kind(value):
    match value:
        case int():
            name = "int"
        case None:
            name = "none"
        case _:
            name = "other"
    return name


def explode():
    raise Boom("the fuse was lit")


def typed(number: int, text: str, items: list) -> int:
    return number, type(text).__name__, items
)"},
    {"src/nomain.py", "VALUE = 1\n"},
    // Interrupts a program once it has started waiting: its status and its last line of stderr.
    {"tools/interrupt.py", R"(import signal
import subprocess
import sys
import time

child = subprocess.Popen(sys.argv[1:], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
child.stdout.readline()
time.sleep(0.5)  # into the sleep, where CPython and compiled code alike act on the signal
child.send_signal(signal.SIGINT)
_, err = child.communicate(timeout=60)
print(child.returncode, err.decode().splitlines()[-1:])
)"},
};

// A real shared library that writes `marker` when it is loaded, at `library`.
void plantLibrary(const fs::path& library, const fs::path& marker) {
  const fs::path source = scratch("planted") / "planted.c";
  testing::writeFile(source, "#include <stdio.h>\n__attribute__((constructor)) static void "
                             "planted(void) {\n  FILE *f = fopen(\"" + marker.string() +
                                 "\", \"w\");\n  if (f) fclose(f);\n}\n");
  fs::create_directories(library.parent_path());
  const Outcome made = run({"gcc", "-shared", "-fPIC", "-o", library.string(), source.string()},
                           source.parent_path());
  ASSERT_EQ(made.status, 0) << made.all();
  const Outcome loaded = run({buildPython().string(), "-c",
                              "import ctypes, sys; ctypes.CDLL(sys.argv[1])", library.string()},
                             source.parent_path());
  ASSERT_EQ(loaded.status, 0) << loaded.all();
  ASSERT_TRUE(fs::exists(marker)) << "a load of it leaves the marker";
  fs::remove(marker);
}

TEST(StatusProgram, EndsAsPythonWouldAndUnusablePackagingStopsBeforeCompiling) {
  Project project("status", statusFiles);
  // A cloned tree may hold anything in src, the usual place of a project's sources: the tool
  // must run none of it, also where an extension library would once have been looked for.
  const fs::path marker = scratch("planted") / "loaded";
  plantLibrary(project.dir() / "src" / "libquorvexpro.so", marker);
  const Outcome help = run({tool().string(), "--help"}, project.dir());
  EXPECT_EQ(help.status, 0) << help.all();
  EXPECT_FALSE(fs::exists(marker)) << "--help loaded src/libquorvexpro.so";
  {
    SCOPED_TRACE("--embed without a pyproject.toml, --wheel with a dynamic version or naming a "
                 "file, a bad dependency, a bad console script, a program's source with no module "
                 "name");
    // Each run ends with status 1 and the message, before anything is compiled.
    const auto refused = [&](const std::vector<std::string>& args, const std::string& message) {
      std::vector<std::string> words = {"--base", "src"};
      words.insert(words.end(), args.begin(), args.end());
      const Outcome outcome = project.build(words);
      EXPECT_EQ(outcome.status, 1) << outcome.all();
      EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.all();
      EXPECT_EQ((outcome.out + outcome.err).find("Compiling"), std::string::npos);
    };
    const std::string source = (project.dir() / "src").string();
    refused({"--embed", "emb", "greet", "*.py"},
            "--embed needs a pyproject.toml at or above '" + source + "'");
    const std::string pyproject = "[project]\nname = \"greet\"\n";
    testing::writeFile(project.dir() / "pyproject.toml", pyproject + "dynamic = [\"version\"]\n");
    refused({"--wheel", "dist", "greet", "*.py"},
            "pyproject.toml: the version is dynamic (dynamic = [\"version\"] in [project]) and "
            "only a build backend computes it; give it with --version");
    testing::writeFile(project.dir() / "dist.whl", "a file where the wheel's directory would go");
    refused({"--wheel", "dist.whl", "greet", "*.py"},
            "The wheel directory 'dist.whl' (--wheel) is an existing file, not a directory");
    testing::writeFile(project.dir() / "pyproject.toml",
                       pyproject + "version = \"1.0\"\n"
                                   "dependencies = [\"six>=1.16\", \"requests >= 2.0 extra\"]\n");
    refused({"--embed", "emb", "greet", "*.py"},
            "pyproject.toml: entry 2 of 'project.dependencies', 'requests >= 2.0 extra', is not a "
            "valid requirement: ");
    testing::writeFile(project.dir() / "pyproject.toml",
                       pyproject +
                           "version = \"1.0\"\n[project.scripts]\ngreet = \"greet:main()\"\n");
    refused({"--library", "--wheel", "dist", "greet", "*.py"},
            "pyproject.toml: 'greet' in 'project.scripts' is 'greet:main()', not an object "
            "reference");
    testing::writeFile(project.dir() / "src" / "table.1.py", "ROWS = 3\n");
    refused({"greet", "*.py"}, "The source 'table.1.py' has no Python module name (each part of "
                               "its path must be an identifier), so a program cannot carry it");
    fs::remove(project.dir() / "src" / "table.1.py");
    EXPECT_FALSE(fs::exists(project.dir() / "emb"));
    EXPECT_FALSE(fs::exists(project.buildDir() / "python"));
  }

  // "**.py" stands for "**/*.py"; a pattern that matches nothing beside one that matches is
  // named, not dropped in silence.
  const Outcome build =
      project.build({"--base", "src", "--exe", "greeter", "greet", "**.py", "gret/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_NE((build.out + build.err).find("The source pattern 'gret/*.py' matched no file in src"),
            std::string::npos)
      << build.all();
  EXPECT_TRUE(fs::is_regular_file(project.buildDir() / "greeter"));
  EXPECT_FALSE(fs::exists(project.buildDir() / "greet"));
  EXPECT_NE((build.out + build.err).find("Compiled to .quorvex_build/greeter"), std::string::npos)
      << build.all();
  EXPECT_FALSE(fs::exists(marker)) << "the build loaded src/libquorvexpro.so";

  const std::string greeter = (project.buildDir() / "greeter").string();
  const auto same = [&](const std::vector<std::string>& args) {
    return expectSameAsPython(greeter, "src/greet.py", args, project.dir());
  };
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"hello", "Ada", "Grace"}, {}, {"exit"}, {"return", "0"}, {"return", "bad input"},
           {"typed"}, {"log"}, {"args", "\xc3\xa9"}, {"docs"}})
    same(args);
  EXPECT_EQ(same({"return", "2"}).status, 2);

  // The traceback's file names differ from CPython's: only its ends are compared.
  const Outcome raised = run({greeter, "raise"}, project.dir());
  EXPECT_EQ(raised.status, 1) << raised.all();
  EXPECT_EQ(raised.out, "");
  EXPECT_TRUE(raised.err.starts_with("Traceback (most recent call last):\n")) << raised.err;
  EXPECT_EQ(raised.err.find("_qvx_bootstrap"), std::string::npos) << raised.err;
  EXPECT_TRUE(raised.err.ends_with("words.Boom: the fuse was lit\n")) << raised.err;

  // Ctrl-C: the traceback, then death by SIGINT (a shell shows 130).
  const std::string interrupt = (project.dir() / "tools/interrupt.py").string();
  const Outcome interrupted = run({buildPython().string(), interrupt, greeter, "wait"},
                                  project.dir());
  EXPECT_EQ(interrupted.out, "-2 ['KeyboardInterrupt']\n") << interrupted.all();
  const Outcome pythonInterrupted =
      run({buildPython().string(), interrupt, buildPython().string(), "src/greet.py", "wait"},
          project.dir());
  EXPECT_EQ(interrupted.out, pythonInterrupted.out);

  // Under a umask that lets only the owner in, the program is still executable by everyone.
  // --no-console, which only a Windows program heeds, is said to change nothing here.
  const Outcome noMain =
      run({"/bin/sh", "-c", "umask 077 && exec \"$@\"", "sh", tool().string(), "build",
           "--no-console", "--base", "src", "--exe", "nomain", "nomain", "*.py"},
          project.dir());
  ASSERT_EQ(noMain.status, 0) << noMain.all();
  EXPECT_NE(noMain.all().find("WARNING builder: --no-console changes nothing on Linux: only a "
                              "Windows program is linked without a console window\n"),
            std::string::npos)
      << noMain.all();
  EXPECT_EQ(fs::status(project.buildDir() / "nomain").permissions(), fs::perms(0711));
  const Outcome started = run({(project.buildDir() / "nomain").string()}, project.dir());
  EXPECT_EQ(started.status, 1);
  EXPECT_EQ(started.err, "Main module 'nomain' has no main() function: a compiled program "
                         "starts by calling nomain.main()\n");

  const Outcome cLocale = run({"env", "LC_ALL=C", greeter, "args", "\xc3\xa9"}, project.dir());
  EXPECT_EQ(cLocale.out, "['\\xe9']\n") << cLocale.all();

  if (geteuid() == 0) {
    SCOPED_TRACE("libpython's compiled-in prefix hidden by an empty file system");
    const Outcome prefix = run({buildPython().string(), "-c",
                                "import sysconfig; print(sysconfig.get_config_var('prefix'))"},
                               project.dir());
    const Outcome hidden =
        run({"unshare", "-m", "sh", "-c", "mount -t tmpfs none \"$0\" && exec \"$1\" hello Ada",
             prefix.out.substr(0, prefix.out.size() - 1), greeter},
            project.dir());
    EXPECT_EQ(hidden.status, 0) << hidden.all();
    EXPECT_EQ(hidden.out, "hello Ada\n");
  }

  // The start-up loads nothing that CPython has not loaded by itself: a project module may be
  // named like a standard module that the start-up once used (string, through logging) or that
  // it imports for extension code only (types), and the collections package and the modules
  // offered to extension code stay unloaded.
  const std::string mine =
      "import sys\n\ndef main():\n"
      "    print('mine', [name for name in ('collections', 'json', 'logging', 'pathlib', 'types',\n"
      "           'traceback', 'base64', 'hashlib', 'importlib.machinery') if name in sys.modules])\n"
      "\nif __name__ == '__main__':\n    main()\n";
  testing::writeFile(project.dir() / "string.py", mine);
  testing::writeFile(project.dir() / "types.py", "KIND = 'mine'\n");
  const Outcome own = project.build({"string", "string.py", "types.py"});
  ASSERT_EQ(own.status, 0) << own.all();
  const Outcome python = run({buildPython().string(), "-I", "string.py"}, project.dir());
  EXPECT_EQ(python.out, "mine []\n") << python.all();
  EXPECT_EQ(run({(project.buildDir() / "string").string()}, project.dir()).out, python.out);
}

// An extension's start-up code runs in the program's bootstrap with the modules and the logger
// offered to it; what it defines reaches the runtime module, the program's logging stays
// unconfigured, and those modules can no longer be project modules.
TEST(StatusProgram, StartsWithTheStartUpCodeOfAnExtension) {
  ASSERT_STRNE(QUORVEX_FIXTURE_PLUGIN, "");
  Project project("extended", {{"plugged.py", R"(import json, logging
import quorvex_runtime


def main():
    report = json.loads(quorvex_runtime.fixture_report)
    print(sorted(report.items()))
    print(quorvex_runtime.__features__["fixture"], logging.root.handlers)
)"}});
  // The tool loads an extension library from a directory that LD_LIBRARY_PATH names.
  const fs::path extensions = scratch("extensions");
  fs::copy_file(QUORVEX_FIXTURE_PLUGIN, extensions / "libquorvexpro.so");
  ASSERT_EQ(setenv("LD_LIBRARY_PATH", extensions.c_str(), 1), 0);
  const Outcome build = project.build({"plugged", "plugged.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_EQ(build.err.find("Failed to load plugin quorvexpro"), std::string::npos) << build.err;

  const Outcome ran = run({(project.buildDir() / "plugged").string()}, project.dir());
  EXPECT_EQ(ran.status, 0) << ran.all();
  EXPECT_EQ(ran.out, "[('digest', 64), ('executable', 'plugged'), ('logger', 'bootstrap __main__'), "
                     "('machinery', 'ModuleSpec'), ('module type', 'module'), "
                     "('package', '__main__'), ('stack', 'StackSummary'), ('start-up', "
                     "['CythonPackageLoader', 'CythonPackageMetaPathFinder', True, ['plugged']])]\n"
                     "True []\n");
  EXPECT_EQ(ran.err, "WARNING:bootstrap __main__:fixture start-up code ran in 0 s\n");

  // The modules imported for extension code come before the program's own: a project module
  // of such a name is refused.
  testing::writeFile(project.dir() / "types.py", "KIND = 'mine'\n");
  const Outcome shadowed = project.build({"plugged", "plugged.py", "types.py"});
  EXPECT_EQ(shadowed.status, 1) << shadowed.all();
  EXPECT_NE(shadowed.err.find("The project module 'types' (types.py) has the name of a module "
                              "that the program's start-up imports"),
            std::string::npos)
      << shadowed.err;
  // So is one named like a module that the product enters itself, before anything is compiled.
  fs::remove(project.dir() / "types.py");
  testing::writeFile(project.dir() / "cython_runtime.py", "KIND = 'mine'\n");
  const Outcome kept = project.build({"plugged", "plugged.py", "cython_runtime.py"});
  EXPECT_EQ(kept.status, 1) << kept.all();
  EXPECT_NE(kept.err.find("The project module 'cython_runtime' (cython_runtime.py) has a name "
                          "that the program keeps for Cython's run-time module"),
            std::string::npos)
      << kept.err;
  EXPECT_EQ(kept.err.find("compiled"), std::string::npos) << kept.err;
}

} // namespace
} // namespace quorvex::e2e
