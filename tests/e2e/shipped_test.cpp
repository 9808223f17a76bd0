// What a program wheel ships: a program that loads libpython only from the wheel's own
// directory, named by a run path relative to $ORIGIN, and files of its own project only, so that
// two program wheels live in one environment and either goes without breaking the other. The
// build names the wheel it placed; a main module without main() is warned of, and runs as the
// warning says. A program wheel carries the project's entry point groups but its scripts, so that
// the installed program finds and loads its own plug-ins as CPython running its sources does; a
// group that other programs load is warned of.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// A program that shows its arguments, its standard streams and a module of the standard
// library in use, and ends with a status of its own.
Project programProject(const std::string& name, const std::string& mainBinding) {
  return Project(name, {{"pyproject.toml", "[project]\nname = \"" + name +
                                               "\"\nversion = \"1.0\"\n[project.scripts]\n" +
                                               name + " = \"" + name + ":run\"\n"},
                        {name + ".py", "import json, sys\n\n"
                                       "def run():\n"
                                       "    print(json.dumps({'" + name + "': sys.argv[1:]}))\n"
                                       "    print('to stderr', file=sys.stderr)\n"
                                       "    return 3\n\n" + mainBinding + "\n"}});
}

// The run path entries of the program `member` of `wheel`, taken out into `into`.
std::vector<std::string> runPathsInWheel(const fs::path& wheel, const std::string& member,
                                         const fs::path& into) {
  const Outcome extracted =
      run({buildPython().string(), "-c",
           "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extract(sys.argv[2], sys.argv[3])",
           wheel.string(), member, into.string()},
          into);
  EXPECT_EQ(extracted.status, 0) << extracted.all();
  return runPathsOf(into / member);
}

void expectOnlyOriginEntries(const std::vector<std::string>& entries, const std::string& what) {
  EXPECT_FALSE(entries.empty()) << what;
  for (const std::string& entry : entries)
    EXPECT_TRUE(entry.starts_with("$ORIGIN")) << what << ": " << entry;
}

// The installed files of `distribution` in the environment of `python`, as RECORD names them.
std::set<std::string> installedFiles(const fs::path& python, const std::string& distribution) {
  const Outcome listed =
      run({python.string(), "-c",
           "import sys, importlib.metadata as m\n"
           "for f in m.files(sys.argv[1]): print(f.locate().resolve())",
           distribution},
          python.parent_path());
  EXPECT_EQ(listed.status, 0) << listed.all();
  std::set<std::string> files;
  std::istringstream lines(listed.out);
  for (std::string line; std::getline(lines, line);) files.insert(line);
  return files;
}

TEST(ProgramWheels, ShipOnlyOriginRunPathsShareNoFileAndOutliveEachOther) {
  // One binds main by assignment, the other by import: neither is warned of.
  auto alpha = std::make_unique<Project>(programProject("alpha", "main = run"));
  auto beta = std::make_unique<Project>(programProject("beta", "from beta import run as main"));
  const Outcome alphaBuild =
      alpha->build({"--wheel", "dist", "--policy", "manylinux_2_28", "alpha", "alpha.py"});
  ASSERT_EQ(alphaBuild.status, 0) << alphaBuild.all();
  const Outcome betaBuild = beta->build({"--wheel", "dist", "beta", "beta.py"});
  ASSERT_EQ(betaBuild.status, 0) << betaBuild.all();

  const fs::path alphaWheel = onlyWheel(alpha->dir() / "dist");
  const fs::path betaWheel = onlyWheel(beta->dir() / "dist");
  {
    SCOPED_TRACE("the build's last lines name the wheel it placed, in words");
    const std::string log = alphaBuild.out + alphaBuild.err;
    EXPECT_NE(log.find("Successfully built dist/" + alphaWheel.filename().string() + "\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(alphaWheel.filename().string().find("manylinux_2_28_x86_64") !=
                std::string::npos)
        << alphaWheel;
    for (const std::string noise : {"policy=", "PosixPath", "wrk/", "defines no main()"})
      EXPECT_EQ((log + betaBuild.out + betaBuild.err).find(noise), std::string::npos) << noise;
  }
  const fs::path extracted = alpha->dir() / "extracted";
  fs::create_directories(extracted);
  expectOnlyOriginEntries(runPathsInWheel(alphaWheel, "alpha-1.0.data/scripts/alpha", extracted),
                          "the program of the repaired wheel");
  expectOnlyOriginEntries(runPathsInWheel(betaWheel, "beta-1.0.data/scripts/beta", extracted),
                          "the program of the plain wheel");

  const fs::path venv = freshVenv("two-programs");
  const fs::path python = pipInstall(venv, alphaWheel);
  pipInstall(venv, betaWheel);
  const std::set<std::string> alphaFiles = installedFiles(python, "alpha");
  const std::set<std::string> betaFiles = installedFiles(python, "beta");
  std::vector<std::string> shared;
  std::set_intersection(alphaFiles.begin(), alphaFiles.end(), betaFiles.begin(), betaFiles.end(),
                        std::back_inserter(shared));
  EXPECT_TRUE(shared.empty()) << ::testing::PrintToString(shared);
  // libpython once, in the project's own directory.
  EXPECT_EQ(std::count_if(betaFiles.begin(), betaFiles.end(),
                          [](const std::string& file) { return file.find("libpython") !=
                                                               std::string::npos; }),
            1)
      << ::testing::PrintToString(betaFiles);

  // What CPython gives for the console script's function, before the sources go.
  const Outcome expected =
      run({buildPython().string(), "-c", "import sys, beta; sys.exit(beta.run())", "x", "y z"},
          beta->dir());
  EXPECT_EQ(expected.status, 3) << expected.all();

  const Outcome uninstalled =
      run({python.string(), "-m", "pip", "uninstall", "-y", "alpha"}, venv);
  EXPECT_EQ(uninstalled.status, 0) << uninstalled.all();
  for (auto* project : {&alpha, &beta}) {
    const fs::path dir = (*project)->dir();
    project->reset();
    fs::remove_all(dir);
  }
  const Outcome installed = runClean({(venv / "bin" / "beta").string(), "x", "y z"}, venv);
  EXPECT_EQ(installed.status, expected.status) << installed.all();
  EXPECT_EQ(installed.out, expected.out);
  EXPECT_EQ(installed.err, expected.err);
  EXPECT_FALSE(fs::exists(venv / "bin" / "alpha"));
}

TEST(ProgramWheels, AMainModuleWithoutMainIsWarnedOfNamingWhatItsScriptStarts) {
  Project project("clicktool", {{"pyproject.toml", "[project]\nname = \"clicktool\"\n"
                                                   "version = \"1.0\"\n[project.scripts]\n"
                                                   "clicktool = \"clicktool.cli:cli\"\n"},
                                {"clicktool/__init__.py", ""},
                                {"clicktool/cli.py", "def cli():\n    print('hello')\n"}});
  const Outcome build = project.build({"clicktool.cli", "clicktool/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_NE((build.out + build.err)
                .find("WARNING builder: The main module clicktool.cli defines no main(), which the "
                      "program calls once the module's body has run: unless that body ends the "
                      "program itself (sys.exit()), the program then stops with the error \"Main "
                      "module 'clicktool.cli' has no main() function\" and exit status 1. "
                      "[project.scripts] starts it with cli (clicktool = \"clicktool.cli:cli\"): "
                      "define main(), or bind it (main = cli)\n"),
            std::string::npos)
      << build.all();
  const Outcome ran = run({(project.buildDir() / "clicktool").string()}, project.dir());
  EXPECT_EQ(ran.status, 1) << ran.all();
  EXPECT_NE(ran.err.find("Main module 'clicktool.cli' has no main() function"), std::string::npos)
      << "what the warning says: " << ran.all();

  // A main module whose body does the work and ends the program, as a script ending in
  // sys.exit(run()) does, is warned of too, and runs as the warning says.
  quorvex::testing::writeFile(project.dir() / "clicktool" / "run.py",
                              "import sys\nfrom clicktool.cli import cli\nsys.exit(cli())\n");
  const Outcome script = project.build({"clicktool.run", "clicktool/*.py"});
  ASSERT_EQ(script.status, 0) << script.all();
  EXPECT_NE(script.out.find("The main module clicktool.run defines no main()"), std::string::npos)
      << script.all();
  const Outcome worked = run({(project.buildDir() / "clicktool").string()}, project.dir());
  EXPECT_EQ(worked.status, 0) << worked.all();
  EXPECT_EQ(worked.out, "hello\n");
  EXPECT_EQ(worked.err, "");
}

TEST(ProgramWheels, CarryTheProjectsPlugInsForTheProgramToFind) {
  Project project("plugapp",
                  {{"pyproject.toml", "[project]\nname = \"plugapp\"\nversion = \"1.0\"\n"
                                      "[project.scripts]\nplugapp = \"plugapp.cli:main\"\n"
                                      "[project.gui-scripts]\nplugapp-gui = \"plugapp.cli:main\"\n"
                                      "[project.entry-points.\"plugapp.plugins\"]\n"
                                      "upper = \"plugapp.plugins:upper\"\n"
                                      "reverse = \"plugapp.plugins : reverse\"\n"
                                      "[project.entry-points.pytest11]\n"
                                      "plugapp = \"plugapp.pytest_plugin\"\n"},
                   {"plugapp/__init__.py", ""},
                   {"plugapp/cli.py", R"(import sys
from importlib.metadata import distribution, entry_points


def main():
    for entry in sorted(entry_points(group="plugapp.plugins"), key=lambda entry: entry.name):
        plugin = entry.load()
        print(entry.name, entry.value, plugin.__module__, plugin(sys.argv[1]))
    groups = sorted({entry.group for entry in distribution("plugapp").entry_points})
    print("groups", groups)
    return 0
)"},
                   {"plugapp/plugins.py", "def upper(text):\n    return text.upper()\n\n\n"
                                          "def reverse(text):\n    return text[::-1]\n"},
                   {"plugapp/pytest_plugin.py", "def pytest_configure(config):\n    pass\n"}});
  const Outcome build = project.build({"--wheel", "dist", "plugapp.cli", "plugapp/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  const std::string log = build.out + build.err;
  const std::string warning =
      "pyproject.toml: the program's wheel carries the entry point group 'pytest11', which "
      "pytest loads from every distribution installed beside it: the group's modules are "
      "compiled into the program, which alone can import them, so pytest fails to load them "
      "wherever the wheel is installed\n";
  EXPECT_NE(log.find(warning), std::string::npos) << log;
  EXPECT_EQ(log.find("entry point group 'plugapp.plugins'"), std::string::npos) << log;

  const fs::path venv = freshVenv("plugapp");
  const fs::path python = pipInstall(venv, onlyWheel(project.dir() / "dist"));
  // CPython runs the sources with the installed distribution's entry points.
  const Outcome expected = run({python.string(), "-c",
                                "import sys; from plugapp.cli import main; sys.exit(main())",
                                "abc"},
                               project.dir());
  EXPECT_EQ(expected.out, "reverse plugapp.plugins:reverse plugapp.plugins cba\n"
                          "upper plugapp.plugins:upper plugapp.plugins ABC\n"
                          "groups ['plugapp.plugins', 'pytest11']\n")
      << expected.all();
  const Outcome installed = run({(venv / "bin" / "plugapp").string(), "abc"}, venv);
  EXPECT_EQ(installed.status, 0) << installed.all();
  EXPECT_EQ(installed.out, expected.out) << installed.all();
  EXPECT_EQ(installed.err, expected.err);
  EXPECT_FALSE(fs::exists(venv / "bin" / "plugapp-gui"));
}

} // namespace
} // namespace quorvex::e2e
