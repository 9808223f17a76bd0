// How the import system meets an installed library: threads that import a library's package
// and its modules at once, two libraries among them; what pkgutil lists of a package, and that
// each listed module imports; a namespace package inside a library. All compared with CPython
// importing the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// The package's body takes a while, as real packages do, so that other threads ask for its
// modules while it runs. (It imports none of them: CPython 3.12.1 itself then fails at times
// with a _DeadlockError when another thread imports that module at once.)
const std::map<std::string, std::string> packageLibrary = {
    {"pyproject.toml", "[project]\nname = \"alib\"\nversion = \"1.0\"\n"},
    {"alib/__init__.py", "import time\ntime.sleep(0.02)\nVERSION = '1'\n"},
    {"alib/core.py", "NAME = 'core'\n"},
    {"alib/extra.py", "from .core import NAME\nEXTRA = NAME + '+extra'\n"},
    {"alib/sub/__init__.py", "LEVEL = 1\n"},
    {"alib/sub/deep.py", "from .. import core\nDEEP = core.NAME * 2\n"},
    {"alib/ns/plug.py", "PLUG = 'in a namespace package'\n"},
    {"alib/__main__.py", "if __name__ == '__main__':\n    print('run')\n"},
    {"alib/data.txt", "data\n"},
};

// Several top-level names: loaded from the private package.
const std::map<std::string, std::string> topLevelLibrary = {
    {"pyproject.toml", "[project]\nname = \"ot-tools\"\nversion = \"2.0\"\n"},
    {"ot.py", "import otpkg.m\nTAG = otpkg.m.TAG + '!'\n"},
    {"otpkg/__init__.py", "import time\ntime.sleep(0.02)\n"},
    {"otpkg/m.py", "TAG = 'ot'\n"},
};

// Seven threads released at once, each importing one name; then what the modules hold. Each
// run is a fresh interpreter, in which nothing is imported yet.
const char* raceScript = R"(import importlib, subprocess, sys, threading
if sys.argv[1:] == ['run']:
    names = ['alib.core', 'alib.extra', 'alib.sub.deep', 'alib', 'alib.ns.plug', 'otpkg.m', 'ot']
    barrier = threading.Barrier(len(names))
    results = {}
    def load(name):
        barrier.wait()
        try:
            results[name] = importlib.import_module(name).__name__
        except BaseException as error:
            results[name] = f'{type(error).__name__}: {error}'
    threads = [threading.Thread(target=load, args=(name,)) for name in names]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    import alib, ot
    print(sorted(results.items()))
    print(alib.VERSION, alib.extra.EXTRA, alib.sub.deep.DEEP, alib.ns.plug.PLUG, ot.TAG)
else:
    runs = [subprocess.run([sys.executable, __file__, 'run'], capture_output=True, text=True)
            for _ in range(8)]
    outputs = {run.stdout + run.stderr for run in runs}
    print(len(outputs), *outputs, sep='\n')
)";

// Every module pkgutil lists, imported; a namespace package as the import system makes one.
const char* listingScript = R"(import importlib, pkgutil, alib, otpkg
listed = [(module.name, module.ispkg) for module in pkgutil.walk_packages(alib.__path__, 'alib.')]
print(listed, [module.name for module in pkgutil.iter_modules(otpkg.__path__)])
print([importlib.import_module(name).__name__ for name, _ in listed])
ns = importlib.import_module('alib.ns')
print(ns.__spec__.origin, type(ns.__path__).__name__, ns.__file__, type(ns.__loader__).__name__)
)";

TEST(LibraryImport, ThreadsAndListingsAsWithTheSources) {
  Project alib("alib", packageLibrary);
  Project tools("ot-tools", topLevelLibrary);
  Project scripts("scripts", {{"race.py", raceScript}, {"listing.py", listingScript}});
  const fs::path wheels = scratch("import-wheels");
  const Outcome alibBuild =
      alib.build({"--library", "--wheel", wheels.string(), "alib", "alib/**/*.py"});
  ASSERT_EQ(alibBuild.status, 0) << alibBuild.all();
  const Outcome toolsBuild = tools.build(
      {"--library", "--wheel", wheels.string(), "ot", "ot.py", "otpkg/__init__.py", "otpkg/m.py"});
  ASSERT_EQ(toolsBuild.status, 0) << toolsBuild.all();
  const fs::path venv = freshVenv("import");
  for (const auto& entry : fs::directory_iterator(wheels)) pipInstall(venv, entry.path());
  const std::string python = (venv / "bin" / "python").string();

  for (const char* script : {"race.py", "listing.py"}) {
    SCOPED_TRACE(script);
    const std::string path = (scripts.dir() / script).string();
    const Outcome expected = run({"env", "PYTHONPATH=" + alib.dir().string() + ":" +
                                             tools.dir().string(),
                                  buildPython().string(), path},
                                 "/");
    ASSERT_EQ(expected.status, 0) << expected.all();
    const Outcome installed = runClean({python, path}, "/");
    EXPECT_EQ(installed.status, 0) << installed.all();
    EXPECT_EQ(installed.out, expected.out);
    EXPECT_EQ(installed.err, expected.err);
  }
  // Eight runs, one answer, every import done: the sources' answer.
  const Outcome race = runClean({python, (scripts.dir() / "race.py").string()}, "/");
  EXPECT_TRUE(race.out.starts_with("1\n[('alib', 'alib'), ('alib.core', 'alib.core')")) << race.out;
  // The library's own package lists nothing that is not a module.
  const Outcome privatePackage = runClean(
      {python, "-c",
       "import _qvx_alib, pkgutil; print(list(pkgutil.iter_modules(_qvx_alib.__path__)))"},
      "/");
  EXPECT_EQ(privatePackage.out, "[]\n") << privatePackage.all();
}

} // namespace
} // namespace quorvex::e2e
