// A library wheel's metadata as installers read it: extras that pip installs, a description of
// several lines cut to its first, a readme whose lines stay in the body, people, licence and
// keywords read back by packaging.metadata and importlib.metadata as the project file gives
// them, URLs as readers strip them, a script whose reference has blanks, `python -m` ending
// with main()'s status; popular projects' own tables, whose keys the standard does not define
// are warned of; and values that installers or METADATA readers would refuse, near misses of
// the standard's keys, fields left to a build back-end and files outside the project, refused
// before any module is compiled.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

// The readme's text holds header-like lines and every line break, all of which stay in the body.
const std::string pyproject = R"([project]
name = "Fast-Lib"
version = "1.0"
description = "Fast things\nRequires-Dist: evil-package"
readme = {content-type = "text/markdown; charset=UTF-8", text = """# Fast

Requires-Dist: evil-one
\u0085Requires-Dist: evil-two
\u2028Provides-Extra: evil\u001cRequires-Dist: evil-three
"""}
dependencies = ["basedep"]
authors = [{name = "Doe, John", email = "john@example.org"}, {name = "Ada \"The\" Count\\"},
           {name = "Q. Public", email = "q@example.org"}, {email = "team@example.org"}]
maintainers = [{name = "Grace <G>", email = "grace@example.org"}, {name = "Alan"}]
license = {text = "Fast licence\r\n\n  Section 1.\nLast line\n"}
keywords = ["fast", "native code"]
urls = {"\u3000Home\u00a0" = " https://fast.example\u2003", Docs = "https://docs.example"}
dynamic = ["classifiers", "import-names"]

[project.scripts]
fast-cli = " fastlib.cli : main "

[project.optional-dependencies]
Fast_Mode = ["fastdep>=1.0", "otherdep ; python_version < '3'"]
never = ["neverdep"]
)";

const std::map<std::string, std::string> files = {
    {"pyproject.toml", pyproject},
    {"fastlib/__init__.py", ""},
    {"fastlib/cli.py", "import sys\n\n\ndef main():\n    print('cli ran', sys.argv[0] != '')\n"
                       "    return 3\n"},
};

// What the installed distribution `Fast-Lib` in `site` says, read by packaging.metadata and
// importlib.metadata, against what the project file `pyproject` says; prints "same" when all
// agree, else what differs.
const char* readBack = R"(
import email.utils, importlib.metadata as im, sys, tomllib
from packaging.metadata import Metadata
project = tomllib.load(open(sys.argv[1], 'rb'))['project']
dist = next(im.distributions(name='Fast-Lib', path=[sys.argv[2]]))
meta = dist.metadata
raw = next(f for f in dist.files if f.name == 'METADATA').locate().read_bytes()
parsed = Metadata.from_email(raw)
faults = []
def same(what, got, expected):
    if got != expected: faults.append(f'{what}: {got!r} != {expected!r}')
for key, header in (('authors', 'Author'), ('maintainers', 'Maintainer')):
    people = project[key]
    same(key, email.utils.getaddresses([meta[header + '-Email']]),
         [(p.get('name', ''), p['email']) for p in people if 'email' in p])
    same(key + ' names', meta[header], ', '.join(p['name'] for p in people if 'email' not in p))
licence = project['license']['text'].replace('\r\n', '\n').rstrip('\n')
same('license', meta['License'], licence)
same('license (packaging)', parsed.license.replace('\n        ', '\n'), licence)
same('keywords', parsed.keywords, project['keywords'])
same('readme', parsed.description, project['readme']['text'])
same('readme (importlib)', meta.get_payload(), project['readme']['text'])
same('content type', parsed.description_content_type, project['readme']['content-type'])
same('script', [ep.value for ep in dist.entry_points if ep.name == 'fast-cli'], ['fastlib.cli:main'])
same('urls', parsed.project_urls, {k.strip(): v.strip() for k, v in project['urls'].items()})
same('url headers', meta.get_all('Project-URL'),
     [f'{k.strip()}, {v.strip()}' for k, v in project['urls'].items()])
print(' | '.join(faults) or 'same')
)";

// A pure wheel of `name` 1.0 holding the module `name`, written into `directory`.
void writeDependencyWheel(const fs::path& directory, const std::string& name) {
  const Outcome made = run({buildPython().string(), "-c", R"(
import base64, hashlib, sys, zipfile
directory, name = sys.argv[1:]
info = f'{name}-1.0.dist-info/'
members = {f'{name}.py': 'VALUE = 1\n',
           info + 'METADATA': f'Metadata-Version: 2.1\nName: {name}\nVersion: 1.0\n\n',
           info + 'WHEEL': 'Wheel-Version: 1.0\nGenerator: test\nRoot-Is-Purelib: true\n'
                           'Tag: py3-none-any\n'}
record = ''
with zipfile.ZipFile(f'{directory}/{name}-1.0-py3-none-any.whl', 'w') as wheel:
    for member, text in members.items():
        data = text.encode()
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b'=').decode()
        wheel.writestr(member, data)
        record += f'{member},sha256={digest},{len(data)}\n'
    wheel.writestr(info + 'RECORD', record + info + 'RECORD,,\n')
)",
                           directory.string(), name},
                          directory);
  ASSERT_EQ(made.status, 0) << made.all();
}

TEST(WheelMetadata, ExtrasInstallAndNoValueWritesAHeaderOfItsOwn) {
  Project project("wheelmeta", files);
  const Outcome build =
      project.build({"--library", "--wheel", "dist", "fastlib.cli", "fastlib/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_NE(build.all().find("'project.description' holds a line break; the wheel's METADATA "
                             "keeps its first line as the summary: 'Fast things'"),
            std::string::npos)
      << build.all();
  EXPECT_NE(build.all().find("'project.dynamic' lists 'classifiers', which this tool does not "
                             "compute: the wheel is made without it (write it in [project] to "
                             "have it)"),
            std::string::npos)
      << build.all();
  EXPECT_NE(build.all().find("'project.dynamic' lists 'import-names', which this tool does not "
                             "compute: the wheel is made without it (nor would it carry it "
                             "written in [project]: METADATA 2.1 has no field for it)"),
            std::string::npos)
      << build.all();
  const fs::path wheel = onlyWheel(project.dir() / "dist");
  const Outcome checked = checkWheel(wheel);
  EXPECT_EQ(checked.status, 0) << checked.all();

  const fs::path deps = scratch("deps");
  for (const char* name : {"basedep", "fastdep"}) writeDependencyWheel(deps, name);
  const fs::path venv = freshVenv("wheelmeta");
  const fs::path python = venv / "bin" / "python";
  // pip folds the case of the extra asked for (before 23.3 it keeps "_", which the normal form
  // of the name that METADATA carries has not).
  const Outcome installed =
      run({python.string(), "-m", "pip", "install", "--no-index", "--disable-pip-version-check",
           "--find-links", deps.string(), wheel.string() + "[Fast-Mode]"},
          venv);
  ASSERT_EQ(installed.status, 0) << installed.all();
  EXPECT_EQ(installed.all().find("does not provide the extra"), std::string::npos)
      << installed.all();

  const Outcome metadata = runClean(
      {python.string(), "-c",
       "import importlib.metadata as m, fastdep, basedep\n"
       "meta = m.metadata('Fast-Lib')\n"
       "print(meta['Summary'], meta.get_all('Provides-Extra'), sep='|')\n"
       "print(*m.requires('Fast-Lib'), sep='|')\n"
       "print(sorted(d.metadata['Name'] for d in m.distributions()))\n"},
      venv);
  EXPECT_EQ(metadata.status, 0) << metadata.all();
  EXPECT_EQ(metadata.out,
            "Fast things|['fast-mode', 'never']\n"
            "basedep|fastdep>=1.0; extra == \"fast-mode\"|"
            "otherdep; (python_version < '3') and extra == \"fast-mode\"|"
            "neverdep; extra == \"never\"\n"
            "['Fast-Lib', 'basedep', 'fastdep', 'pip']\n");
  const Outcome site = runClean({python.string(), "-c", "import site; print(site.getsitepackages()[0])"}, venv);
  ASSERT_EQ(site.status, 0) << site.all();
  const Outcome read =
      run({buildPython().string(), "-c", readBack, (project.dir() / "pyproject.toml").string(),
           site.out.substr(0, site.out.find('\n'))},
          venv);
  EXPECT_EQ(read.status, 0) << read.all();
  EXPECT_EQ(read.out, "same\n") << read.all();

  // The generated __main__.py ends with main()'s result, as sys.exit(main()) does; so does the
  // script pip made of the reference written without its blanks.
  for (const std::vector<std::string>& command :
       {std::vector<std::string>{python.string(), "-m", "fastlib"},
        std::vector<std::string>{(venv / "bin" / "fast-cli").string()}}) {
    const Outcome ran = runClean(command, "/");
    EXPECT_EQ(ran.status, 3) << ran.all();
    EXPECT_EQ(ran.out, "cli ran True\n");
  }
}

// isort 9.0.2's and orjson 3.13.0's own tables, as their sdists ship them: beside the keys of the
// standard, keys that their back-ends (hatchling, maturin) pass over.
const std::string isortTable = R"toml([project]
name = "isort"
dynamic = ["version"]
description = "A Python utility / library to sort Python imports."
authors = [{name = "Daniël van Noord", email = "13665637+DanielNoord@users.noreply.github.com"}, {name = "Timothy Crosley", email = "timothy.crosley@gmail.com"}, {name = "staticdev", email = "staticdev-support@proton.me"}]
license = "MIT"
readme = "README.md"
repository = "https://github.com/pycqa/isort"
homepage = "https://isort.readthedocs.io//"
documentation = "https://isort.readthedocs.io/"
keywords = ["Refactor", "Lint", "Imports", "Sort", "Clean"]
classifiers = [
    "Development Status :: 6 - Mature",
    "Intended Audience :: Developers",
    "Natural Language :: English",
    "Environment :: Console",
    "License :: OSI Approved :: MIT License",
    "Programming Language :: Python",
    "Programming Language :: Python :: 3",
    "Programming Language :: Python :: 3.10",
    "Programming Language :: Python :: 3.11",
    "Programming Language :: Python :: 3.12",
    "Programming Language :: Python :: 3.13",
    "Programming Language :: Python :: 3.14",
    "Programming Language :: Python :: 3.15",
    "Programming Language :: Python :: 3 :: Only",
    "Programming Language :: Python :: Implementation :: CPython",
    "Programming Language :: Python :: Implementation :: PyPy",
    "Topic :: Software Development :: Libraries",
    "Topic :: Utilities",
]
include = [
    { path = "tests", format = "sdist" },
    { path = "ACKNOWLEDGEMENTS.md", format = "sdist" },
    { path = "LICENSE", format = "sdist" },
]
requires-python = ">=3.10.0"

dependencies = [
    "mypy-extensions>=1.1.0",
]

[project.urls]
Homepage = "https://isort.readthedocs.io/"
Documentation = "https://isort.readthedocs.io/"
Repository = "https://github.com/PyCQA/isort"
Changelog = "https://github.com/PyCQA/isort/releases"

[project.scripts]
isort = "isort.main:main"
isort-identify-imports = "isort.main:identify_imports_main"

[project.optional-dependencies]
colors = ["colorama"]
)toml";
const std::string orjsonTable = R"toml([project]
name = "orjson"
version = "3.13.0"
repository = "https://github.com/ijl/orjson"
description = "Fast, correct Python JSON library supporting dataclasses, datetimes, and numpy"
requires-python = ">=3.10"
classifiers = [
    "Development Status :: 5 - Production/Stable",
    "Intended Audience :: Developers",
    "License :: OSI Approved :: Apache Software License",
    "License :: OSI Approved :: MIT License",
    "License :: OSI Approved :: Mozilla Public License 2.0 (MPL 2.0)",
    "Operating System :: MacOS",
    "Operating System :: Microsoft :: Windows",
    "Operating System :: POSIX :: Linux",
    "Programming Language :: Python :: 3",
    "Programming Language :: Python :: 3.10",
    "Programming Language :: Python :: 3.11",
    "Programming Language :: Python :: 3.12",
    "Programming Language :: Python :: 3.13",
    "Programming Language :: Python :: 3.14",
    "Programming Language :: Python :: 3.15",
    "Programming Language :: Python :: Implementation :: CPython",
    "Programming Language :: Python",
    "Programming Language :: Rust",
    "Typing :: Typed",
]
readme = "README.md"
license = "MPL-2.0 AND (Apache-2.0 OR MIT)"

[project.urls]
source = "https://github.com/ijl/orjson"
documentation = "https://github.com/ijl/orjson"
changelog = "https://github.com/ijl/orjson/blob/master/CHANGELOG.md"
)toml";

// Prints "same" when the METADATA of the wheel argv[2], validated by packaging, says what the
// [project] table of argv[1] says, else what differs.
const char* readsAsWritten = R"(
import email.utils, sys, tomllib, zipfile
from packaging.metadata import Metadata
from packaging.specifiers import SpecifierSet
project = tomllib.load(open(sys.argv[1], 'rb'))['project']
with zipfile.ZipFile(sys.argv[2]) as wheel:
    name = next(n for n in wheel.namelist() if n.endswith('.dist-info/METADATA'))
    meta = Metadata.from_email(wheel.read(name), validate=True)
faults = []
def same(what, got, expected):
    if got != expected: faults.append(f'{what}: {got!r} != {expected!r}')
same('summary', meta.summary, project['description'])
same('requires-python', meta.requires_python, SpecifierSet(project['requires-python']))
same('license', meta.license, project['license'])
same('classifiers', meta.classifiers, project['classifiers'])
same('keywords', meta.keywords, project.get('keywords'))
same('urls', meta.project_urls, project['urls'])
same('people', email.utils.getaddresses([meta.author_email or '']),
     [(p['name'], p['email']) for p in project.get('authors', [])])
extras = project.get('optional-dependencies', {})
same('extras', meta.provides_extra, list(extras) or None)
same('requirements', [str(r) for r in meta.requires_dist or []],
     project.get('dependencies', []) + [f'{r}; extra == "{e}"' for e, rs in extras.items() for r in rs])
same('readme', meta.description, open('README.md').read())
print(' | '.join(faults) or 'same')
)";

// Built with their own tables, a dynamic version given with --version, with one warning naming
// their leftover keys, and METADATA that packaging validates and reads as the table says.
TEST(WheelMetadata, PopularProjectTablesBuildWithOneWarningOfTheirLeftoverKeys) {
  struct Case {
    std::string name, table;
    std::vector<std::string> version;
    std::string warning;
  };
  const Case cases[] = {
      {"isort", isortTable, {"--version", "9.0.2"},
       "[project] holds the keys 'repository', 'homepage', 'documentation' and 'include', which "
       "the pyproject.toml standard does not define; the build ignores them. 'repository', "
       "'homepage' and 'documentation' hold URLs, which belong in [project.urls] to reach the "
       "wheel's METADATA; a tool's own settings belong in [tool.<name>]\n"},
      {"orjson", orjsonTable, {},
       "[project] holds the key 'repository', which the pyproject.toml standard does not "
       "define; the build ignores it. 'repository' holds a URL, which belongs in [project.urls] "
       "to reach the wheel's METADATA\n"}};
  for (const auto& [name, table, version, warning] : cases) {
    SCOPED_TRACE(name);
    Project project(name, {{"pyproject.toml", table},
                           {"README.md", "# " + name + "\n\nFast and correct.\n"},
                           {name + "/__init__.py", ""},
                           {name + "/main.py", "def main():\n    return 0\n\n\n"
                                               "def identify_imports_main():\n    return 0\n"}});
    std::vector<std::string> args{"--library", "--wheel", "dist"};
    args.insert(args.end(), version.begin(), version.end());
    args.insert(args.end(), {name + ".main", name + "/*.py"});
    const Outcome build = project.build(args);
    ASSERT_EQ(build.status, 0) << build.all();
    const std::string file = (project.dir() / "pyproject.toml").string();
    EXPECT_NE(build.all().find(file + ": " + warning), std::string::npos) << build.all();
    EXPECT_EQ(build.all().find("does not define"), build.all().rfind("does not define"))
        << "one warning: " << build.all();
    const fs::path wheel = onlyWheel(project.dir() / "dist");
    const Outcome checked = checkWheel(wheel);
    EXPECT_EQ(checked.status, 0) << checked.all();
    const Outcome read = run({buildPython().string(), "-c", readsAsWritten, file, wheel.string()},
                             project.dir());
    EXPECT_EQ(read.out, "same\n") << read.all();
  }
}

// Each refused before any module is translated: no C file, no progress line of a compilation,
// no wheel directory. Each key and case is in the unit tests.
TEST(WheelMetadata, ProjectValuesInstallersWouldRefuseAreRefusedBeforeCompiling) {
  Project project("refusedmeta", files);
  testing::writeFile(project.dir() / "latin1.md", "caf\xe9\n");
  fs::create_directories(project.dir() / "docs");
  const std::string file = (project.dir() / "pyproject.toml").string();
  const std::string head = "[project]\nname = \"Fast-Lib\"\nversion = \"1.0\"\n";
  const std::string outside = "which, links followed, lies outside '" +
                              fs::canonical(project.dir()).string() + "', the project's directory";
  std::string up;
  for (int level = 0; level < 20; ++level) up += "../";
  struct Case {
    std::string table, message;
    bool embed = false; // a program's --embed, which reads the table as a wheel does
  };
  const Case cases[] = {
      {head + "description = 1\n", "'project.description' must be a string, not the integer 1"},
      {head + "authors = \"me\"\n",
       "'project.authors' must be an array of tables, not the string 'me'"},
      {head + "urls = {Home = [\"a\", \"b\"]}\n",
       "'project.urls' at 'Home' must be a string, not the array [\"a\", \"b\"]"},
      {head + "readme = {file = \"docs\", content-type = \"text/plain\"}\n",
       "'project.readme.file' is 'docs', which is no file"},
      {head + "readme = \"latin1.md\"\n", "'project.readme' is 'latin1.md', which is not UTF-8 "
                                          "text (an invalid byte at offset 3)"},
      {head + "readme = \"NOTHERE.md\"\n", "'project.readme' is 'NOTHERE.md', which does not "
                                           "exist"},
      {head + "readme = {text = \"x\", content-type = \"foo/bar\"}\n",
       "'project.readme.content-type' is 'foo/bar', not text/plain, text/x-rst or text/markdown"},
      {head + "requires-python = \">=3.8\\nRequires-Dist: evil\"\n",
       "'project.requires-python' holds a line break ('\\n'), which would end its header in the "
       "wheel's METADATA and start another; write it on one line"},
      {head + "[project.scripts]\nrun = \"fastlib.cli\"\n",
       "'run' in 'project.scripts' is 'fastlib.cli', which names no function to call"},
      {head + "[project.scripts]\n\"my tool\" = \"fastlib.cli:main\"\n",
       "'my tool' in 'project.scripts' is no valid entry point name"},
      {head + "dependecies = [\"six\"]\n", "[project] holds the key 'dependecies', which the "
                                           "pyproject.toml standard does not define; did you "
                                           "mean 'dependencies'?"},
      {head + "dependecies = [\"six\"]\n", "[project] holds the key 'dependecies'", true},
      {head + "python_requires = \">=3.9\"\n",
       "[project] holds the key 'python_requires', which the pyproject.toml standard does not "
       "define; did you mean 'requires-python'?"},
      // One refusal names every near miss of the file, a line each; a leftover beside them
      // does not let the build go on.
      {head + "homepage = \"https://h\"\nrequire-python = \">=3.9\"\n[project.script]\n"
              "run = \"fastlib.cli:main\"\n[project.optional-dependecies]\nx = []\n",
       "[project] holds the key 'require-python', which the pyproject.toml standard does not "
       "define; did you mean 'requires-python'?\n" + file + ": [project] holds the key 'script', "
       "which the pyproject.toml standard does not define; did you mean 'scripts'?\n" + file +
       ": [project] holds the key 'optional-dependecies', which the pyproject.toml standard does "
       "not define; did you mean 'optional-dependencies'?"},
      {head + "[project.optional-dependencies]\nstandard = \"uvicorn\"\n",
       "'project.optional-dependencies.standard' must be an array of strings, not the string "
       "'uvicorn'"},
      {"[build-system]\nrequires = [\"setuptools\"]\n",
       "missing table [project]; a wheel takes its name, version and metadata from the [project] "
       "table of pyproject.toml alone (setup.cfg, setup.py and a back-end's own tables such as "
       "[tool.poetry] are not read), which needs at least:\n  [project]\n  name = "},
      {head + "authors = [{name = \"A\", mail = \"a@x.org\"}]\n",
       "entry 1 of 'project.authors' holds the key 'mail'"},
      {head + "dynamic = [\"name\"]\n", "'project.dynamic' lists 'name', which may not be dynamic"},
      {head + "dependencies = []\ndynamic = [\"dependencies\"]\n",
       "'dependencies' is given in [project] and also listed in 'project.dynamic'", true},
      {head + "dynamic = [\"optional-dependencies\"]\n",
       "'project.dynamic' lists 'optional-dependencies', which a build back-end would compute; "
       "this tool computes no dynamic field"},
      {head + "readme = {file = \"/etc/os-release\", content-type = \"text/plain\"}\n",
       "'project.readme.file' is '/etc/os-release', " + outside},
      {head + "license = {file = \"" + up + "etc/hostname\"}\n",
       "'project.license.file' is '" + up + "etc/hostname', " + outside},
      {head + "urls = {Home = \"https://a\", \"Home\\u00a0\" = \"https://b\"}\n",
       "the labels 'Home' and 'Home\\xa0' in 'project.urls' are the same to readers of METADATA"},
      {"[project]\nname = \"a\\nb" + std::string(100000, 'c') + "\"\nversion = \"1.0\"\n",
       "'name' in [project] is 'a\\nb" + std::string(96, 'c') +
           "... (100003 bytes in all)', not a valid project name"},
      {head + "requires-python = 3.9\n",
       "'project.requires-python' must be a string, not the number 3.9"}};
  for (const auto& [table, message, embed] : cases) {
    SCOPED_TRACE(table.substr(0, 200));
    testing::writeFile(project.dir() / "pyproject.toml", table);
    const Outcome outcome =
        embed ? project.build({"--embed", "refused", "fastlib.cli", "fastlib/*.py"})
              : project.build({"--library", "--wheel", "refused", "fastlib.cli", "fastlib/*.py"});
    EXPECT_EQ(outcome.status, 1) << outcome.all();
    EXPECT_NE(outcome.err.find(file + ": " + message), std::string::npos) << outcome.all();
    EXPECT_LT(outcome.err.size(), 2000u) << "the value is cut";
    EXPECT_EQ(outcome.all().find("ompil"), std::string::npos) << outcome.all();
    EXPECT_FALSE(fs::exists(project.dir() / "refused"));
  }
  testing::writeFile(project.dir() / "pyproject.toml", head);
  const Outcome badVersion = project.build(
      {"--library", "--wheel", "refused", "--version", "1.0\x0b", "fastlib.cli", "fastlib/*.py"});
  EXPECT_EQ(badVersion.status, 1) << badVersion.all();
  EXPECT_NE(badVersion.err.find("--version holds a line break ('\\x0b')"), std::string::npos)
      << badVersion.all();
  // A pristine Python copied in for the run would hold C files of its own.
  for (auto it = fs::recursive_directory_iterator(project.dir()); it != fs::end(it); ++it)
    if (it->path() == project.buildDir() / "python") it.disable_recursion_pending();
    else EXPECT_NE(it->path().extension(), ".c") << it->path();
}

} // namespace
} // namespace quorvex::e2e
