// Namespace packages stay namespace packages: two projects that each ship a part of `acme`,
// built as library wheels and installed side by side with a pure-Python part elsewhere on the
// path, in any order of importing and after one of them is uninstalled; and a program whose
// compiled namespace package meets a pure-Python part of it on the search path. All compared
// with CPython running the same sources.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <algorithm>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// Imports the names given after the pure part's directory, in that order, then shows the
// namespace package and every part of it that imports.
const char* partsScript = R"(import importlib, pkgutil, sys
sys.path.append(sys.argv[1])
for name in sys.argv[2:]:
    importlib.import_module(name)
import acme
print(type(acme.__path__).__name__, acme.__spec__.origin, acme.__file__)
print(sorted(module.name for module in pkgutil.iter_modules(acme.__path__)))
for call in ('acme.alpha.hello()', 'acme.beta.X', 'acme.beta.tools.both()', 'acme.gamma.G'):
    try:
        print(call, '=', eval(call))
    except (AttributeError, ImportError) as error:
        print(call, type(error).__name__, error)
)";

const char* programSource = R"(import importlib, sys
import plug.a


def main():
    sys.path.append(sys.argv[1])
    import plug.c
    print(plug.a.A, plug.c.C, type(plug.__path__).__name__, plug.__spec__.origin, plug.__file__)
    print([portion.endswith('plug') for portion in plug.__path__])
    try:
        importlib.import_module('plug.missing')
    except ImportError as error:
        print(type(error).__name__, error)


if __name__ == "__main__":
    main()
)";

TEST(NamespacePackages, PartsInstallSideBySideAndInsideAProgram) {
  Project alpha("acme-alpha",
                {{"pyproject.toml", "[project]\nname = \"acme-alpha\"\nversion = \"1.0\"\n"},
                 {"acme/alpha/__init__.py", "from .hello import hello\n"},
                 {"acme/alpha/hello.py", "def hello():\n    return 'alpha'\n"}});
  Project beta("acme-beta",
               {{"pyproject.toml", "[project]\nname = \"acme-beta\"\nversion = \"1.0\"\n"},
                {"acme/beta/__init__.py", "X = 'beta'\n"},
                {"acme/beta/tools.py", "def both():\n    import acme.alpha\n"
                                       "    return acme.alpha.hello() + '+beta'\n"}});
  Project pure("pure", {{"acme/gamma.py", "G = 'gamma'\n"}, {"parts.py", partsScript}});
  const fs::path wheels = scratch("namespace-wheels");
  for (Project* part : {&alpha, &beta}) {
    const std::string top = part == &alpha ? "acme.alpha" : "acme.beta";
    const Outcome built =
        part->build({"--library", "--wheel", wheels.string(), top, "acme/**/*.py"});
    ASSERT_EQ(built.status, 0) << built.all();
  }
  const fs::path venv = freshVenv("namespace");
  // Installed in the other order than built, beta first.
  std::vector<fs::path> installed;
  for (const auto& entry : fs::directory_iterator(wheels)) installed.push_back(entry.path());
  std::sort(installed.rbegin(), installed.rend());
  for (const auto& wheel : installed) pipInstall(venv, wheel);
  const std::string python = (venv / "bin" / "python").string();

  const std::string script = (pure.dir() / "parts.py").string();
  auto compare = [&](const std::vector<std::string>& imports, const std::string& sourcePath) {
    SCOPED_TRACE(::testing::PrintToString(imports));
    std::vector<std::string> args = {script, pure.dir().string()};
    args.insert(args.end(), imports.begin(), imports.end());
    std::vector<std::string> sources = {"env", "PYTHONPATH=" + sourcePath, buildPython().string()};
    sources.insert(sources.end(), args.begin(), args.end());
    const Outcome expected = run(sources, "/");
    ASSERT_EQ(expected.status, 0) << expected.all();
    args.insert(args.begin(), python);
    const Outcome got = runClean(args, "/");
    EXPECT_EQ(got.status, 0) << got.all();
    EXPECT_EQ(got.out, expected.out);
    EXPECT_EQ(got.err, expected.err);
  };
  const std::string both = alpha.dir().string() + ":" + beta.dir().string();
  compare({"acme.beta.tools", "acme.alpha.hello", "acme.gamma"}, both);
  compare({"acme.gamma", "acme.alpha", "acme.beta.tools"}, both);
  const Outcome removed = run({python, "-m", "pip", "uninstall", "-y", "acme-alpha"}, venv);
  ASSERT_EQ(removed.status, 0) << removed.all();
  compare({"acme.beta.tools", "acme.gamma"}, beta.dir().string());

  Project program("plugapp", {{"plugapp.py", programSource}, {"plug/a.py", "A = 'compiled a'\n"}});
  Project extra("extra", {{"plug/c.py", "C = 'pure c'\n"}});
  const Outcome built = program.build({"plugapp", "plugapp.py", "plug/*.py"});
  ASSERT_EQ(built.status, 0) << built.all();
  // Run from elsewhere, so that only the program's portion and the extra one are found.
  const Outcome ran = expectSameAsPython((program.buildDir() / "plugapp").string(),
                                         (program.dir() / "plugapp.py").string(),
                                         {extra.dir().string()}, "/");
  EXPECT_EQ(ran.status, 0) << ran.all();
  EXPECT_TRUE(ran.out.starts_with("compiled a pure c _NamespacePath None None\n[True, True]\n"))
      << ran.out;
}

} // namespace
} // namespace quorvex::e2e
