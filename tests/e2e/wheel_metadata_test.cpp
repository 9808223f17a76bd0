// A library wheel's metadata as installers read it: extras that pip installs, a description of
// several lines cut to its first, a readme whose lines stay in the body, `python -m` ending with
// main()'s status; and values that would write headers of their own, refused before compiling.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::string pyproject = R"([project]
name = "Fast-Lib"
version = "1.0"
description = "Fast things\nRequires-Dist: evil-package"
readme = "README.md"
dependencies = ["basedep"]

[project.optional-dependencies]
Fast_Mode = ["fastdep>=1.0", "otherdep ; python_version < '3'"]
never = ["neverdep"]
)";

const std::map<std::string, std::string> files = {
    {"pyproject.toml", pyproject},
    // Header-like lines and every line break in the body, which follows the blank line.
    {"README.md", "# Fast\n\nRequires-Dist: evil-one\n\u0085Requires-Dist: evil-two\n"
                  "\u2028Provides-Extra: evil\x1cRequires-Dist: evil-three\n"},
    {"fastlib/__init__.py", ""},
    {"fastlib/cli.py", "import sys\n\n\ndef main():\n    print('cli ran', sys.argv[0] != '')\n"
                       "    return 3\n"},
};

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
       "print(sorted(d.metadata['Name'] for d in m.distributions()))\n"
       "print(ascii(meta.get_payload()))"},
      venv);
  EXPECT_EQ(metadata.status, 0) << metadata.all();
  EXPECT_EQ(metadata.out,
            "Fast things|['fast-mode', 'never']\n"
            "basedep|fastdep>=1.0; extra == \"fast-mode\"|"
            "otherdep; (python_version < '3') and extra == \"fast-mode\"|"
            "neverdep; extra == \"never\"\n"
            "['Fast-Lib', 'basedep', 'fastdep', 'pip']\n"
            "'# Fast\\n\\nRequires-Dist: evil-one\\n\\x85Requires-Dist: evil-two\\n\\u2028"
            "Provides-Extra: evil\\x1cRequires-Dist: evil-three\\n'\n");

  // The generated __main__.py ends with main()'s result, as sys.exit(main()) does.
  const Outcome asMain = runClean({python.string(), "-m", "fastlib"}, "/");
  EXPECT_EQ(asMain.status, 3) << asMain.all();
  EXPECT_EQ(asMain.out, "cli ran True\n");

  // Values that would end their header line, and entry points holding line breaks or what no
  // identifier holds, are refused before compiling, naming the key (each key is in the unit
  // tests).
  const auto refused = [&](const std::string& table, const std::vector<std::string>& extra,
                           const std::string& message) {
    SCOPED_TRACE(table);
    testing::writeFile(project.dir() / "pyproject.toml", table);
    std::vector<std::string> args = {"--library", "--wheel", "refused"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"fastlib.cli", "fastlib/*.py"});
    const Outcome outcome = project.build(args);
    EXPECT_EQ(outcome.status, 1) << outcome.all();
    EXPECT_NE(outcome.err.find(message), std::string::npos) << outcome.all();
    EXPECT_EQ(outcome.all().find("Compiling"), std::string::npos) << outcome.all();
    EXPECT_FALSE(fs::exists(project.dir() / "refused"));
  };
  const std::string head = "[project]\nname = \"Fast-Lib\"\nversion = \"1.0\"\n";
  const std::string file = (project.dir() / "pyproject.toml").string();
  refused(head + "requires-python = \">=3.8\\nRequires-Dist: evil\"\n", {},
          file + ": 'project.requires-python' holds a line break ('\\n'), which would end its "
                 "header in the wheel's METADATA and start another; write it on one line");
  refused(head, {"--version", "1.0\x0b"}, "--version holds a line break ('\\x0b')");
  refused(head + "[project.scripts]\n\"run\\u001d\" = \"fastlib.cli:main\"\n", {},
          file + ": 'run\\x1d' in 'project.scripts' is no valid entry point name");
  refused(head + "[project.scripts]\nrun = \"fastlib.cli:ma\u00a0in\"\n", {},
          file + ": 'run' in 'project.scripts' is 'fastlib.cli:ma\u00a0in', not an object "
                 "reference such as 'package.module:function'; 'ma\u00a0in' is no Python "
                 "identifier");
}

} // namespace
} // namespace quorvex::e2e
