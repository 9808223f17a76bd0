// Embedded directories: a private Python with the project's dependencies (from PyPI, or beside
// the project, refused before compiling when uv cannot resolve them) and the program or the
// library's package, usable without the project and after being moved.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string_view>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const fs::path projectSource = QUORVEX_SOURCE_DIR "/tests/e2e/projects/embedapp";

// The JSON the project's describe() prints: six's version, the real path of its module file
// and sys.prefix.
nlohmann::json described(const Outcome& outcome) {
  EXPECT_EQ(outcome.status, 0) << outcome.all();
  return outcome.status == 0 ? nlohmann::json::parse(outcome.out) : nlohmann::json::object();
}

void expectSixFrom(const nlohmann::json& report, const fs::path& embedded) {
  ASSERT_TRUE(report.contains("six_file")) << report;
  const std::string six = report["six_file"];
  const std::string root = fs::canonical(embedded).string() + "/";
  EXPECT_TRUE(six.starts_with(root)) << six << " is not inside " << root;
  EXPECT_NE(six.find("/site-packages/six.py"), std::string::npos) << six;
  EXPECT_EQ(report["six"], "1.17.0");
}

// Every compiled module below `root`'s site-packages with its time and size: what a run that
// found one stale or missing would write anew.
std::map<fs::path, std::pair<fs::file_time_type, std::uintmax_t>> bytecodeOf(const fs::path& root) {
  std::map<fs::path, std::pair<fs::file_time_type, std::uintmax_t>> found;
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (entry.path().extension() == ".pyc" &&
        entry.path().string().find("/site-packages/") != std::string::npos)
      found[entry.path().lexically_relative(root)] = {entry.last_write_time(), entry.file_size()};
  return found;
}

// The pristine Python's links are links in the embedded directory, relative, to the copy of
// the same file; returns the embedded libpython's link.
fs::path expectLinksKept(const fs::path& pristine, const fs::path& embedded) {
  fs::path libpython;
  int links = 0;
  for (const auto& entry : fs::recursive_directory_iterator(pristine)) {
    if (!entry.is_symlink()) continue;
    ++links;
    const fs::path place = entry.path().lexically_relative(pristine);
    const fs::path copy = embedded / place;
    EXPECT_TRUE(fs::is_symlink(copy)) << place;
    if (!fs::is_symlink(copy)) continue;
    EXPECT_TRUE(fs::read_symlink(copy).is_relative()) << place;
    EXPECT_EQ(fs::canonical(copy).lexically_relative(fs::canonical(embedded)),
              fs::canonical(entry.path()).lexically_relative(fs::canonical(pristine)))
        << place;
    const std::string name = place.filename().string();
    if (name.starts_with("libpython3") && name.ends_with(".so")) libpython = copy;
  }
  EXPECT_GT(links, 0);
  EXPECT_FALSE(libpython.empty()) << "no libpython3.X.so link in " << pristine;
  return libpython.lexically_relative(embedded);
}

// Checks that no ELF file below `root` (links not followed) has an absolute run path entry;
// returns how many ELF files it read.
int expectNoAbsoluteRunPath(const fs::path& root) {
  int elfFiles = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink() || !entry.is_regular_file()) continue;
    std::array<char, 4> magic{};
    std::ifstream(entry.path(), std::ios::binary).read(magic.data(), magic.size());
    if (std::string_view(magic.data(), magic.size()) != "\x7f" "ELF") continue;
    ++elfFiles;
    for (const std::string& runPath : runPathsOf(entry.path()))
      EXPECT_FALSE(runPath.starts_with("/")) << entry.path() << " searches " << runPath;
  }
  return elfFiles;
}

TEST(EmbeddedExecutable, RefusesTheProjectThenRunsWithItsDependencyAndSurvivesAMove) {
  auto project = std::make_unique<Project>(Project::copyOf("embed-exe", projectSource));
  {
    SCOPED_TRACE("a target that would delete the project");
    const Outcome refused = project->build({"--embed", ".", "app", "*.py"});
    EXPECT_EQ(refused.status, 1) << refused.all();
    EXPECT_NE(
        refused.err.find("Refusing to embed into .: it is or contains the working directory "),
        std::string::npos)
        << refused.all();
    EXPECT_TRUE(fs::exists(project->dir() / "app.py"));
    EXPECT_TRUE(fs::exists(project->dir() / "uv.lock"));
  }
  // A blank and a quote in the path: uv must still get each path as one argument.
  const fs::path embedded = scratch("embedded dir") / "app's";
  const auto before = sourceTree(project->dir());
  const Outcome build = project->build({"--embed", embedded.string(), "app", "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  // The project's lock fits its project file: exported as it is, nothing in the project written.
  EXPECT_EQ(sourceTree(project->dir()), before);
  EXPECT_EQ((build.out + build.err).find("out of date"), std::string::npos) << build.all();

  EXPECT_TRUE(fs::exists(embedded / ".quorvex-embedded"));
  const std::string requirements =
      quorvex::testing::readFile(project->buildDir() / "requirements.txt");
  EXPECT_NE(requirements.find("six==1.17.0"), std::string::npos) << requirements;
  EXPECT_EQ(requirements.find("-e ."), std::string::npos)
      << "the project itself is no dependency:\n" << requirements;

  // The dependencies come with their bytecode: six's, at least.
  const auto bytecode = bytecodeOf(embedded);
  EXPECT_TRUE(std::any_of(bytecode.begin(), bytecode.end(), [](const auto& entry) {
    return entry.first.filename().string().starts_with("six.");
  })) << "no bytecode of six";
  fs::path pristine;
  for (const auto& entry : fs::directory_iterator(project->buildDir() / "python"))
    if (entry.path().filename().string().starts_with("cpython-")) pristine = entry.path();
  const fs::path libpython = expectLinksKept(pristine, embedded);

  // What `pip install .` of the same project gives.
  const fs::path venv = freshVenv("embed-pip");
  const Outcome pipped = run({(venv / "bin" / "python").string(), "-m", "pip", "install", "-q",
                              "--disable-pip-version-check", project->dir().string()},
                             venv);
  ASSERT_EQ(pipped.status, 0) << pipped.all();
  const nlohmann::json installed =
      described(runClean({(venv / "bin" / "embedapp").string()}, venv));

  const fs::path program = embedded / "bin" / "app";
  ASSERT_TRUE(fs::is_regular_file(program));
  EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
  expectSixFrom(described(runClean({program.string()}, scratch("elsewhere"))), embedded);
  // Its own runtime, not the build directory's, which is still there; no path of the build
  // machine is searched.
  EXPECT_NE(libpythonOf(program).find(embedded.string()), std::string::npos);
  EXPECT_EQ(runPathsOf(program), std::vector<std::string>{"$ORIGIN/../lib"});

  // On a user's machine: the project and its build directory are gone, the directory moved.
  const fs::path moved = scratch("moved") / "app-dist";
  fs::rename(embedded, moved);
  const fs::path projectDir = project->dir();
  project.reset();
  fs::remove_all(projectDir);
  const nlohmann::json report = described(runClean({(moved / "bin" / "app").string()}, moved));
  expectSixFrom(report, moved);
  // Its own metadata, as after `pip install .`: the version, the entry points, and a plug-in
  // that a registry finds through them.
  EXPECT_EQ(report["version"], "0.2.0") << report;
  EXPECT_EQ(report["plugins"], nlohmann::json::array({"hello from a plug-in"})) << report;
  for (const char* key : {"version", "entry_points", "plugins"})
    EXPECT_EQ(report[key], installed[key]) << key;
  // Both runs took the bytecode as it was installed: valid for this Python, also moved.
  EXPECT_EQ(bytecodeOf(moved), bytecode);
  EXPECT_TRUE(fs::is_symlink(moved / libpython) && fs::is_regular_file(moved / libpython))
      << libpython;

  // The copied Python searches no place of the build machine either (the installation it was
  // copied from is still there): its programs, libpython and lib-dynload modules find what
  // they load in the moved directory, and its own scripts still run its Python.
  EXPECT_GT(expectNoAbsoluteRunPath(moved), 20) << "the python, libpython and lib-dynload";
  const std::string root = fs::canonical(moved).string();
  const Outcome loaded = runClean(
      {(moved / "bin" / "python").string(), "-c",
       "import sys, _ssl, _ctypes, _sqlite3; print(sys.prefix); print(next(line.split()[-1] "
       "for line in open('/proc/self/maps') if 'libpython3' in line))"},
      scratch("elsewhere"));
  ASSERT_EQ(loaded.status, 0) << loaded.all();
  EXPECT_TRUE(loaded.out.starts_with(root + "\n" + root + "/lib/libpython3")) << loaded.all();
  const Outcome pydoc = runClean({(moved / "bin" / "pydoc3").string(), "sys"}, moved);
  EXPECT_EQ(pydoc.status, 0) << pydoc.all();
  EXPECT_NE(pydoc.out.find("sys"), std::string::npos) << pydoc.all();
  // Its own pip, as the Python it was made from carries it, by each of its names: it runs from
  // the moved directory and knows the distributions installed there.
  const std::string sitePackages =
      fs::canonical(report["six_file"].get<std::string>()).parent_path().string();
  // "lib/libpython3.12.so" gives "pip3.12".
  const std::string libName = libpython.filename().string();
  const std::string versioned = "pip" + libName.substr(9, libName.find(".so") - 9);
  for (const std::string& pip : {std::string("pip"), std::string("pip3"), versioned}) {
    const Outcome version = runClean({(moved / "bin" / pip).string(), "--version"}, moved);
    EXPECT_EQ(version.status, 0) << pip << ": " << version.all();
    EXPECT_TRUE(version.out.starts_with("pip ")) << version.all();
    EXPECT_NE(version.out.find(" from " + sitePackages + "/pip "), std::string::npos)
        << version.all();
  }
  const Outcome listed =
      runClean({(moved / "bin" / "pip").string(), "list", "--disable-pip-version-check"}, moved);
  EXPECT_EQ(listed.status, 0) << listed.all();
  EXPECT_TRUE(std::regex_search(listed.out, std::regex("\nsix +1\\.17\\.0\n"))) << listed.all();
}

// Without --wheel, the build makes a wheel in the build directory for the embedded directory;
// its one module is imported by its own name, as pip would install it. The project without a
// lock, then with one that no longer fits its project file, is left as it was.
TEST(EmbeddedLibrary, InstallsTheTemporaryWheelAndWritesNoLock) {
  Project project = Project::copyOf("embed-lib", projectSource);
  fs::remove(project.dir() / "uv.lock");
  // A dependency that uv finds by a path relative to the project, also from elsewhere.
  const Project local("localdep", {{"pyproject.toml", "[project]\nname = \"localdep\"\n"
                                                      "version = \"1.0\"\n[build-system]\n"
                                                      "requires = [\"hatchling\"]\n"
                                                      "build-backend = \"hatchling.build\"\n"},
                                   {"localdep/__init__.py", "WORD = 'local'\n"}});
  const std::string projectFile = quorvex::testing::readFile(project.dir() / "pyproject.toml");
  quorvex::testing::writeFile(
      project.dir() / "pyproject.toml",
      std::regex_replace(projectFile, std::regex("\"six>=1.16\""), "\"six>=1.16\", \"localdep\"") +
          "\n[tool.uv.sources]\nlocaldep = { path = \"../localdep\" }\n");
  const fs::path embedded = scratch("embedded") / "lib";
  const std::vector<std::string> args = {"--library", "--embed", embedded.string(), "app", "*.py"};
  auto before = sourceTree(project.dir());
  const Outcome build = project.build(args);
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_NE((build.out + build.err).find("Creating temp wheel at .quorvex_build"),
            std::string::npos)
      << build.all();
  EXPECT_EQ(sourceTree(project.dir()), before) << "no uv.lock is made in the project";
  const std::string useIt = "import json, app; print(json.dumps(app.describe()))";
  const nlohmann::json report =
      described(runClean({(embedded / "bin" / "python").string(), "-c", useIt}, embedded));
  expectSixFrom(report, embedded);
  EXPECT_EQ(report["version"], "0.2.0") << "the wheel's metadata, installed with it";
  EXPECT_EQ(report["plugins"], nlohmann::json::array({"hello from a plug-in"})) << report;
  EXPECT_EQ(fs::canonical(report.value("prefix", "/nowhere")), fs::canonical(embedded));
  EXPECT_FALSE(fs::exists(embedded / "bin" / "app")) << "a library build copies no program";
  const Outcome localWord = runClean(
      {(embedded / "bin" / "python").string(), "-c", "import localdep; print(localdep.WORD)"},
      embedded);
  EXPECT_EQ(localWord.out, "local\n") << localWord.all();

  SCOPED_TRACE("a stale lock");
  fs::copy_file(projectSource / "uv.lock", project.dir() / "uv.lock");
  before = sourceTree(project.dir());
  const Outcome stale = project.build(args);
  ASSERT_EQ(stale.status, 0) << stale.all();
  EXPECT_EQ(sourceTree(project.dir()), before) << "the stale lock is left as it is";
  const std::string warning = "WARNING embed: The project's uv.lock is out of date with " +
                              (project.dir() / "pyproject.toml").string();
  EXPECT_NE((stale.out + stale.err).find(warning), std::string::npos) << stale.all();
  expectSixFrom(described(runClean({(embedded / "bin" / "python").string(), "-c", useIt},
                                   embedded)),
                embedded);
}

// A build back-end of a few lines, so that the path dependency builds without an index: a
// wheel of its package, or an editable one that points at its source. Its `wheel` also makes
// the wheels of the dependencies found through find-links and a flat index.
constexpr const char* localBackend = R"(import os, zipfile

def wheel(directory, name, version, files):
    info = f"{name}-{version}.dist-info"
    files = {**files,
             info + "/METADATA": f"Metadata-Version: 2.1\nName: {name}\nVersion: {version}\n",
             info + "/WHEEL": "Wheel-Version: 1.0\nRoot-Is-Purelib: true\nTag: py3-none-any\n"}
    files[info + "/RECORD"] = "".join(path + ",,\n" for path in [*files, info + "/RECORD"])
    file_name = f"{name}-{version}-py3-none-any.whl"
    with zipfile.ZipFile(os.path.join(directory, file_name), "w") as archive:
        for path, text in files.items():
            archive.writestr(path, text)
    return file_name

def build_wheel(directory, config_settings=None, metadata_directory=None):
    with open("editdep/__init__.py") as source:
        return wheel(directory, "editdep", "1.0", {"editdep/__init__.py": source.read()})

def build_editable(directory, config_settings=None, metadata_directory=None):
    return wheel(directory, "editdep", "1.0", {"editdep.pth": os.getcwd() + "\n"})
)";

std::string localProjectFile(const std::string& requiresPython) {
  return "[project]\nname = \"localapp\"\nversion = \"1.0\"\nrequires-python = \"" +
         requiresPython +
         "\"\ndependencies = [\"editdep\", \"finddep\", \"flatdep\"]\n\n"
         "[tool.uv]\nfind-links = [\"wheels\"]\n\n"
         "[[tool.uv.index]]\nname = \"local\"\nurl = \"./flat\"\nformat = \"flat\"\n"
         "default = true\n\n"
         "[tool.uv.sources]\neditdep = { path = \"../editdep\", editable = true }\n";
}

// Every dependency lies beside the project, given by a path relative to it: one marked
// editable, a wheel in a find-links directory and one in a flat index (which stands in for
// PyPI), with no lock. The build runs from the directory above (--base). The embedded directory
// holds copies of all three: it runs after it, the dependency's source and the wheels moved.
TEST(EmbeddedExecutable, RefusesAnExcludedPythonThenCarriesItsLocalDependenciesWhole) {
  auto root = std::make_unique<Project>(
      "embed-local",
      std::map<std::string, std::string>{
          {"proj/pyproject.toml", localProjectFile("<3")},
          {"proj/app.py", "import editdep, finddep, flatdep\n\ndef main():\n"
                         "    print(editdep.WORD, finddep.WORD, flatdep.WORD)\n"},
          {"editdep/pyproject.toml", "[project]\nname = \"editdep\"\nversion = \"1.0\"\n"
                                     "[build-system]\nrequires = []\n"
                                     "build-backend = \"backend\"\nbackend-path = [\".\"]\n"},
          {"editdep/backend.py", localBackend},
          {"editdep/editdep/__init__.py", "WORD = 'editable'\n"}});
  const fs::path project = root->dir() / "proj";
  // Each installs a script: a console script, and a script of the wheel's own that names its
  // interpreter "python", which installers replace by the Python's path.
  const std::string makeWheel =
      "import json, sys; sys.path.insert(0, sys.argv[1]); import backend; "
      "backend.wheel(sys.argv[2], sys.argv[3], '1.0', {sys.argv[3] + '.py': 'WORD = %r\\n' % "
      "sys.argv[3] + sys.argv[4], **json.loads(sys.argv[5])})";
  const std::string say = "def say():\n    import sys\n    print(sys.argv[0].rsplit('/')[-1], "
                          "WORD, sys.prefix)\n";
  const std::map<std::string, nlohmann::json> scripts = {
      {"finddep", {{"finddep-1.0.dist-info/entry_points.txt",
                    "[console_scripts]\nfind-word = finddep:say\n"}}},
      {"flatdep", {{"flatdep-1.0.data/scripts/flat-word",
                    "#!python\nimport flatdep\nflatdep.say()\n"}}}};
  for (const auto& [directory, name] : {std::pair{"wheels", "finddep"}, {"flat", "flatdep"}}) {
    fs::create_directories(project / directory);
    const Outcome made = run({buildPython().string(), "-c", makeWheel,
                              (root->dir() / "editdep").string(), (project / directory).string(),
                              name, say, scripts.at(name).dump()},
                             root->dir());
    ASSERT_EQ(made.status, 0) << made.all();
  }
  const fs::path embedded = scratch("embedded-local") / "app";
  const std::vector<std::string> args = {"--base", "proj", "--embed", embedded.string(), "app",
                                         "*.py"};
  {
    SCOPED_TRACE("requires-python excludes the build's Python: refused before compiling");
    const Outcome version = run(
        {buildPython().string(), "-c", "import sys; print('%d.%d.%d' % sys.version_info[:3])"},
        root->dir());
    const Outcome refused = root->build(args);
    EXPECT_EQ(refused.status, 1) << refused.all();
    const std::string message =
        (project / "pyproject.toml").string() + ": 'project.requires-python' ('<3') excludes Python " +
        version.out.substr(0, version.out.find('\n')) +
        ", which the build uses and the embedded directory would carry";
    EXPECT_NE(refused.err.find(message), std::string::npos) << refused.all();
    EXPECT_EQ((refused.out + refused.err).find("Compiling"), std::string::npos) << refused.all();
  }
  const auto refusedByUv = [&](const std::string& message) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome refused = root->build(args);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(refused.status, 1) << refused.all();
    EXPECT_NE(refused.err.find("Command failed: uv export "), std::string::npos) << refused.all();
    EXPECT_NE(refused.err.find(message), std::string::npos) << refused.all();
    EXPECT_EQ((refused.out + refused.err).find("ompil"), std::string::npos) << refused.all();
    EXPECT_FALSE(fs::exists(embedded));
  };
  {
    SCOPED_TRACE("a dependency that no index has: uv's refusal, before compiling");
    quorvex::testing::writeFile(
        project / "pyproject.toml",
        std::regex_replace(localProjectFile(">=3.8"), std::regex("\"flatdep\""),
                           "\"flatdep\", \"nosuchdep\""));
    refusedByUv("nosuchdep was not found");
  }
  {
    SCOPED_TRACE("a dynamic version without a lock: uv cannot build the copy, `uv lock` is named");
    quorvex::testing::writeFile(project / "backend.py", localBackend);
    quorvex::testing::writeFile(
        project / "pyproject.toml",
        std::regex_replace(localProjectFile(">=3.8"), std::regex("version = \"1.0\""),
                           "dynamic = [\"version\"]") +
            "\n[build-system]\nrequires = []\nbuild-backend = \"backend\"\n"
            "backend-path = [\".\"]\n");
    refusedByUv((project / "pyproject.toml").string() +
                ": the project's 'version' is dynamic, which uv learns only by building the "
                "project in its own directory, not from the copy of pyproject.toml that it "
                "resolves in without a current lock: run `uv lock` in " +
                project.string() + " and build again");
    fs::remove(project / "backend.py");
  }
  quorvex::testing::writeFile(project / "pyproject.toml", localProjectFile(">=3.8, !=3.0.*"));
  const auto before = sourceTree(root->dir());
  const Outcome build = root->build(args);
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_EQ(sourceTree(root->dir()), before) << "nothing is written beside the build directory";
  const std::string requirements =
      quorvex::testing::readFile(root->buildDir() / "requirements.txt");
  EXPECT_EQ(requirements.find("-e "), std::string::npos) << requirements;

  const fs::path moved = scratch("moved-local") / "app";
  fs::rename(embedded, moved);
  const fs::path rootDir = root->dir();
  root.reset();
  fs::remove_all(rootDir);
  const Outcome ran = runClean({(moved / "bin" / "app").string()}, moved);
  EXPECT_EQ(ran.status, 0) << ran.all();
  EXPECT_EQ(ran.out, "editable finddep flatdep\n") << ran.all();
  // The dependencies' scripts run the moved directory's Python, also through a link on a
  // user's PATH.
  const fs::path onPath = scratch("user-bin");
  fs::create_symlink(moved / "bin" / "flat-word", onPath / "flat-word");
  const std::string prefix = fs::canonical(moved).string();
  for (const auto& [script, word] : {std::pair{moved / "bin" / "find-word", "finddep"},
                                     {onPath / "flat-word", "flatdep"}}) {
    const Outcome said = runClean({script.string()}, onPath);
    EXPECT_EQ(said.status, 0) << said.all();
    EXPECT_EQ(said.out, script.filename().string() + " " + word + " " + prefix + "\n")
        << said.all();
  }
}

} // namespace
} // namespace quorvex::e2e
