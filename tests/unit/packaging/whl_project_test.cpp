// The project file as installers read it, and the wheel's tags.
#include "packaging/whl.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_requirement.hpp"
#include "packaging/whl_tags.hpp"
#include "support/log_recorder.hpp"
#include "support/thrown.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

std::string errorOf(const fs::path& path, const std::optional<std::string>& version = {}) {
  return testing::thrownMessage([&] { readProject(path, version); });
}

TEST(FindActivePyproject, NearestRegularFileWinsAndARepositoryRootEndsTheSearch) {
  TempDir dir;
  const fs::path root = dir.path();
  writeFile(root / "pyproject.toml", "");
  writeFile(root / "a/.git", "gitdir: elsewhere"); // a worktree's .git file goes on upwards
  fs::create_directories(root / "a/b/pyproject.toml");
  EXPECT_EQ(find_active_pyproject(root / "a/b"), root / "pyproject.toml");
  EXPECT_EQ(find_active_pyproject("a/b"), fs::path("pyproject.toml"));
  fs::create_directories(root / "a/b/.git");
  EXPECT_EQ(find_active_pyproject(root / "a/b"), std::nullopt);
  fs::current_path(root / "a");
  EXPECT_EQ(find_active_pyproject("."), std::nullopt) << "only lexical ancestors count";
}

// Installers refuse names and versions outside the packaging standards and compare versions in
// their normal form, which the wheel carries.
TEST(ReadProject, NamesAndVersionsAreCheckedAndNormalisedAsInstallersDo) {
  TempDir dir;
  writeFile("pyproject.toml", "[project]\nname = \"demo\"\n");
  const std::pair<const char*, const char*> versions[] = {
      {"v1.0.RC1", "1.0rc1"},   {"1!2.01-alpha.3", "1!2.1a3"},     {"0!1.0c", "1.0rc0"},
      {"1.0-1", "1.0.post1"},   {"1.0preview2.r3", "1.0rc2.post3"}, {" 1.0-dev ", "1.0.dev0"},
      {"1.0+Ubuntu-1.007", "1.0+ubuntu.1.7"}};
  for (const auto& [written, normal] : versions)
    EXPECT_EQ(readProject("pyproject.toml", written).version, normal) << written;
  for (const char* bad : {"", "not a version!", "1.0.", "1..0", "1.0+a+b", "1.0_"})
    EXPECT_EQ(errorOf("pyproject.toml", bad),
              "--version is '" + std::string(bad) +
                  "', not a valid version (for example 1.0, 2.1b3, 1.0.post1 or 1.0.dev2)");
  // The table's own version is checked with --version too; one that --version replaces is
  // named beside it.
  {
    testing::LogRecorder recorder;
    writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = \"1.0\"\n");
    EXPECT_EQ(readProject("pyproject.toml", "1.0").version, "1.0");
    EXPECT_TRUE(recorder.messages(log::WARNING).empty());
    EXPECT_EQ(readProject("pyproject.toml", "v9.9").version, "9.9");
    EXPECT_EQ(recorder.messages(log::WARNING),
              std::vector<std::string>{"pyproject.toml: --version 'v9.9' replaces the version "
                                       "'1.0' of [project]; the wheel and the installed metadata "
                                       "carry 9.9"});
    writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = 1.0\n");
    for (const std::optional<std::string>& flag : {std::optional<std::string>(), {"9.9"}})
      EXPECT_EQ(errorOf("pyproject.toml", flag),
                "pyproject.toml: 'project.version' must be a string, not the number 1.0");
    writeFile("pyproject.toml", "[project]\nname = \"demo\"\nversion = \"1.0.\"\n");
    EXPECT_EQ(errorOf("pyproject.toml", "9.9"),
              "pyproject.toml: 'version' in [project] is '1.0.', not a valid version (for example "
              "1.0, 2.1b3, 1.0.post1 or 1.0.dev2)");
    writeFile("pyproject.toml", "[project]\nname = \"demo\"\n");
  }
  for (const char* name : {"my app", "-demo", "demo.", "naïve", ""}) {
    writeFile("pyproject.toml", "[project]\nname = \"" + std::string(name) + "\"\n");
    EXPECT_NE(errorOf("pyproject.toml", "1").find("', not a valid project name: use ASCII"),
              std::string::npos)
        << name;
  }
  const std::pair<const char*, const char*> badFiles[] = {
      {"[project]\nname = \"demo\nversion = 1\n", "bad.toml:2:13: invalid TOML: "},
      {"[tool.x]\na = 1\n", "bad.toml: missing table [project]; a wheel takes its name, version "
                            "and metadata from the [project] table of pyproject.toml alone "
                            "(setup.cfg, setup.py and a back-end's own tables such as "
                            "[tool.poetry] are not read), which needs at least:\n"
                            "  [project]\n  name = "},
      {"project = 1\n", "bad.toml: 'project' is not a table"},
      {"[project]\nversion = \"1\"\n", "bad.toml: missing key 'name' in [project]"}};
  for (const auto& [text, message] : badFiles) {
    writeFile("bad.toml", text);
    EXPECT_TRUE(errorOf("bad.toml", "1").starts_with(message)) << errorOf("bad.toml", "1");
  }
  EXPECT_EQ(errorOf("missing.toml"), "Cannot read 'missing.toml': No such file or directory");
}

// Dependencies as installers read them (the refused ones as the packaging library refuses them),
// checked when the project is read.
TEST(ReadProject, DependenciesAreCheckedAsInstallersReadThem) {
  for (const char* good :
       {"six", " six >= 1.16, <2 ", "six (>=1.16,<2)", "six[a, b]>=1,", "six==1.0+local",
        "six!=1.*", "six~=1.0", "six===anything", "six; python_version > '3' and "
        "(os_name == \"nt\" or 'x' not in extras)", "req @ https://x/y.whl ; os.name == 'nt'",
        "req[sec]@git+https://h/r.git@main", "six>=1.0;python_version<\"3.12\""})
    EXPECT_EQ(requirementError(good), std::nullopt) << good;
  const std::pair<const char*, const char*> bad[] = {
      {"-six", "expected a project name at column 1"},
      {"six-", "expected a version specifier, ';' or the end at column 4"},
      {"six,>=1", "expected a version specifier, ';' or the end at column 4"},
      {"six>=", "expected a version after '>=' at the end"},
      {"six>=1.0+local", "'>=1.0+local' is not a valid version specifier at column 6: only "
                         "'==' and '!=' take a local version label"},
      {"six==1.0a1.*", "'==1.0a1.*' is not a valid version specifier at column 6"},
      {"six<1.*", "'<1.*' is not a valid version specifier at column 5: only '==' and '!=' "
                  "take a '.*' prefix"},
      {"six>=1.0abc", "'>=1.0abc' is not a valid version specifier at column 6"},
      {"six>=1.0 <2", "expected a version specifier, ';' or the end at column 10"},
      {"six (>=1.0", "expected ',' or ')' after the version specifiers at the end"},
      {"six[a,]", "expected the name of an extra at column 7"},
      {"req @", "expected a URL after '@' at the end"},
      {"six; python_version", "expected a marker operator (such as ==, < or in) at the end"},
      {"six; bogus == 'x'", "expected a marker variable (such as python_version) or a quoted "
                            "string at column 6"},
      {"six; 'a' notin extras", "expected a marker operator (such as ==, < or in) at column 10"},
      {"six; (os_name == 'nt'", "expected ')' in the marker at the end"},
      {"six; os_name == 'nt", "the quoted string is not closed at column 17"},
      {"six; os_name == 'nt' ;", "expected a version specifier, ';' or the end at column 22"}};
  for (const auto& [text, reason] : bad) EXPECT_EQ(requirementError(text), reason) << text;

  TempDir dir;
  const std::pair<const char*, const char*> files[] = {
      {"dependencies = [\"six\", \"foo bar\"]\n",
       "p.toml: entry 2 of 'project.dependencies', 'foo bar', is not a valid requirement: "
       "expected a version specifier, ';' or the end at column 5"},
      {"dependencies = [\"six\", 1]\n", "p.toml: entry 2 of 'project.dependencies' must be a "
                                          "string, not the integer 1"},
      {"dependencies = \"six\"\n", "p.toml: 'project.dependencies' must be an array of strings, "
                                    "not the string 'six'"},
      {"optional-dependencies = {standard = \"uvicorn[standard]\"}\n",
       "p.toml: 'project.optional-dependencies.standard' must be an array of strings, not the "
       "string 'uvicorn[standard]'"},
      {"optional-dependencies = [\"six\"]\n", "p.toml: 'project.optional-dependencies' must be "
                                               "a table of arrays, not the array [\"six\"]"},
      {"optional-dependencies = {tls = [\"six>\"]}\n",
       "p.toml: entry 1 of 'project.optional-dependencies.tls', 'six>', is not a valid "
       "requirement: expected a version after '>' at the end"}};
  for (const auto& [line, message] : files) {
    writeFile("p.toml", "[project]\nname = \"demo\"\nversion = \"1\"\n" + std::string(line));
    EXPECT_EQ(errorOf("p.toml"), message);
  }
}

// Readers of METADATA end a header where Python's str.splitlines ends a line: a value holding
// such a character would write a header of its own, so it is refused, naming the key.
TEST(ReadProject, ValuesThatWouldEndTheirMetadataHeaderAreRefused) {
  TempDir dir;
  const std::string head = "[project]\nname = \"demo\"\nversion = \"1\"\n";
  const std::pair<const char*, const char*> breaks[] = {
      {"\\n", "\\n"},         {"\\r", "\\r"},         {"\\u000b", "\\x0b"},
      {"\\f", "\\x0c"},       {"\\u001c", "\\x1c"},   {"\\u001d", "\\x1d"},
      {"\\u001e", "\\x1e"},   {"\\u0085", "\\x85"},   {"\\u2028", "\\u2028"},
      {"\\u2029", "\\u2029"}};
  // A table line for the value V and the key the refusal names.
  const std::pair<const char*, const char*> places[] = {
      {"requires-python = \">=3V\"", "'project.requires-python'"},
      {"license = \"MITV\"", "'project.license'"},
      {"keywords = [\"a\", \"bV\"]", "entry 2 of 'project.keywords'"},
      {"classifiers = [\"AV\"]", "entry 1 of 'project.classifiers'"},
      {"authors = [{name = \"AV\"}]", "the name of entry 1 of 'project.authors'"},
      {"maintainers = [{name = \"x\"}, {email = \"aV@b\"}]", "the email of entry 2 of 'project.maintainers'"},
      {"urls = {\"HomeV\" = \"https://h\"}", "the label 'HomeXV' in 'project.urls'"},
      {"urls = {Home = \"https://hV\"}", "'project.urls' at 'Home'"},
      {"dependencies = [\"six; os_name == 'V'\"]", "entry 1 of 'project.dependencies'"},
      {"dependencies = [\"six @ https://hV\"]", "entry 1 of 'project.dependencies'"},
      {"optional-dependencies = {fast = [\"sixV\"]}",
       "entry 1 of 'project.optional-dependencies.fast'"},
      {"readme = {file = \"R\", content-type = \"text/plainV\"}",
       "'project.readme.content-type'"}};
  for (const auto& [escape, shownAs] : breaks) {
    for (const auto& [line, key] : places) {
      std::string text = line, name = key;
      text.replace(text.find('V'), 1, escape);
      if (name.find("XV") != std::string::npos) name.replace(name.find("XV"), 2, shownAs);
      writeFile("p.toml", head + text + "\n");
      EXPECT_EQ(errorOf("p.toml"), "p.toml: " + name + " holds a line break ('" + shownAs +
                                       "'), which would end its header in the wheel's METADATA "
                                       "and start another; write it on one line");
    }
    writeFile("p.toml", "[project]\nname = \"demo\"\nversion = \"1" + std::string(escape) + "\"\n");
    EXPECT_TRUE(errorOf("p.toml").starts_with("p.toml: 'version' in [project] holds a line "
                                              "break ('" + std::string(shownAs) + "')"))
        << errorOf("p.toml");
  }
  EXPECT_TRUE(errorOf("p.toml", "1.0\n").starts_with("--version holds a line break ('\\n')"));
  // What splitlines keeps on one line, and a licence's text, which is no header, are read.
  writeFile("p.toml", head + "requires-python = \">=3\\t\\u001f\"\nlicense = {text = \"A\\nB\"}\n");
  EXPECT_EQ(readProject("p.toml", " 2.0 ").version, "2.0");
}

// Extras as installers read them from METADATA: the name in its normal form, then each
// dependency limited to it, with its own marker kept.
TEST(Metadata, ExtrasAndASummaryOfOneLine) {
  TempDir dir;
  const std::string head = "[project]\nname = \"demo\"\nversion = \"1\"\n";
  writeFile("p.toml", head + R"(description = "  First line.\u2028Requires-Dist: evil\nmore"
dependencies = ["six"]
[project.optional-dependencies]
Fast_Mode = [" fast >= 1 ", "tls[a, b] (>=2) ;python_version < '3.9' or os_name == 'nt'",
             "dep @ https://h/d.whl", "url @ https://h/x;y=1.whl ; os_name == 'nt'",
             "x===a; extra == 'b'"]
"empty.Extra" = []
)");
  const std::string metadata = metadataText(readProject("p.toml", std::nullopt));
  EXPECT_EQ(metadata,
            "Metadata-Version: 2.1\nName: demo\nVersion: 1\nSummary: First line.\n"
            "Requires-Dist: six\nProvides-Extra: fast-mode\n"
            "Requires-Dist: fast >= 1; extra == \"fast-mode\"\n"
            "Requires-Dist: tls[a, b] (>=2); (python_version < '3.9' or os_name == 'nt') and "
            "extra == \"fast-mode\"\n"
            "Requires-Dist: dep @ https://h/d.whl ; extra == \"fast-mode\"\n"
            "Requires-Dist: url @ https://h/x;y=1.whl ; (os_name == 'nt') and extra == "
            "\"fast-mode\"\n"
            "Requires-Dist: x===a; (extra == 'b') and extra == \"fast-mode\"\n"
            "Provides-Extra: empty-extra\n\n");
  const std::pair<const char*, const char*> bad[] = {
      {"\"fast mode\" = []", "p.toml: 'fast mode' in 'project.optional-dependencies' is no valid "
                             "extra name: use ASCII letters, digits, '.', '_' and '-', beginning "
                             "and ending with a letter or digit"},
      {"\"fast\\n\" = []", "p.toml: 'fast\\n' in 'project.optional-dependencies' is no valid "
                            "extra name"},
      {"Fast_Mode = []\n\"fast--mode\" = []",
       "p.toml: the extras 'Fast_Mode' and 'fast--mode' in 'project.optional-dependencies' have "
       "the same normal name 'fast-mode', which installers read as one extra; merge them"}};
  for (const auto& [line, message] : bad) {
    writeFile("p.toml", head + "[project.optional-dependencies]\n" + line + "\n");
    EXPECT_TRUE(errorOf("p.toml").starts_with(message)) << errorOf("p.toml");
  }
}

// entry_points.txt as installers and importlib.metadata read it; a reference without the blanks
// that installers making scripts do not read.
TEST(EntryPoints, SectionsInTheOrderOfTheFileAndRefusals) {
  TempDir dir;
  const auto project = [](const std::string& tables) {
    writeFile("p.toml", "[project]\nname = \"demo\"\nversion = \"1\"\n" + tables);
    return readProject("p.toml", std::nullopt);
  };
  EXPECT_EQ(entryPointsText(project("")), "");
  EXPECT_EQ(entryPointsText(project("[project.entry-points.\"demo.plugins\"]\nzeta = \"demo.z\"\n"
                                    "alpha = \" demo.a :\u00a0make.it \\t[fast] \"\n"
                                    "[project.gui-scripts]\ndemo-gui = \"demo.gui:run\"\n"
                                    "[project.scripts]\ndemo = \"demo.cli:main\"\n"
                                    "[project.entry-points.other]\nx = \"ü.mod:ß\"\n"
                                    "y = \"℘x.a\u0301:日本\"\n")),
            "[console_scripts]\ndemo = demo.cli:main\n\n[gui_scripts]\ndemo-gui = demo.gui:run\n\n"
            "[demo.plugins]\nzeta = demo.z\nalpha = demo.a:make.it[fast]\n\n"
            "[other]\nx = ü.mod:ß\ny = ℘x.a\u0301:日本\n");
  // A program's wheel: its groups only, the other programs' groups among them named.
  const Project program = project("[project.scripts]\ndemo = \"demo.cli:main\"\n"
                                  "[project.gui-scripts]\ndemo-gui = \"demo.gui:run\"\n"
                                  "[project.entry-points.pytest11]\ndemo = \"demo.plug\"\n"
                                  "[project.entry-points.\"demo.plugins\"]\nz = \"demo.z\"\n"
                                  "[project.entry-points.\"flake8.extension\"]\nD = \"demo.f\"\n");
  EXPECT_EQ(programEntryPointsText(program),
            "[pytest11]\ndemo = demo.plug\n\n[demo.plugins]\nz = demo.z\n\n"
            "[flake8.extension]\nD = demo.f\n");
  EXPECT_EQ(groupsLoadedElsewhere(program),
            (std::vector<std::pair<std::string, std::string>>{{"pytest11", "pytest"},
                                                              {"flake8.extension", "flake8"}}));
  EXPECT_EQ(programEntryPointsText(project("[project.scripts]\ndemo = \"demo.cli:main\"\n")), "");
  // flake8 built as a program loads its own checkers itself.
  writeFile("p.toml", "[project]\nname = \"Flake8\"\nversion = \"1\"\n"
                      "[project.entry-points.\"flake8.extension\"]\nF = \"flake8.x:F\"\n");
  EXPECT_TRUE(groupsLoadedElsewhere(readProject("p.toml", std::nullopt)).empty());
  const std::pair<const char*, const char*> bad[] = {
      {"[project]\nscripts = 1\n",
       "'project.scripts' must be a table of strings, not the integer 1"},
      {"[project.scripts]\ndemo = [1]\n",
       "'demo' in 'project.scripts' must be a string, not the array [1]"},
      {"[project.scripts]\n\"../demo\" = \"demo:main\"\n",
       "'../demo' in 'project.scripts' is no valid entry point name (a script's name becomes a "
       "file name)"},
      {"[project.entry-points.g]\n\"[x\" = \"demo\"\n",
       "'[x' in 'project.entry-points.g' is no valid entry point name"},
      {"[project.gui-scripts]\ndemo = \"demo:main()\"\n",
       "'demo' in 'project.gui-scripts' is 'demo:main()', not an object reference such as "
       "'package.module:function'; 'main()' is no Python identifier"},
      {"[project.entry-points.g]\nx = \"1demo:x\"\n",
       "'x' in 'project.entry-points.g' is '1demo:x', not an object reference such as "
       "'package.module:function'; '1demo' is no Python identifier"},
      {"[project.scripts]\ndemo = \"demo:\"\n",
       "'demo' in 'project.scripts' is 'demo:', not an object reference such as "
       "'package.module:function'"},
      // Line breaks, and a no-break space or a mark where an identifier cannot have them.
      {"[project.scripts]\n\"demo\\u2028x\" = \"demo:main\"\n",
       "'demo\\u2028x' in 'project.scripts' is no valid entry point name (a script's name becomes "
       "a file name)"},
      {"[project.entry-points.g]\n\"x\\u001e\" = \"demo\"\n",
       "'x\\x1e' in 'project.entry-points.g' is no valid entry point name"},
      {"[project.entry-points.\"g\\u0085\"]\nx = \"demo\"\n",
       "'g\\x85' is no valid entry point group name"},
      {"[project.scripts]\ndemo = \"demo:main\\u000b\"\n",
       "'demo' in 'project.scripts' is 'demo:main\\x0b', not an object reference such as "
       "'package.module:function'; it holds a line break"},
      {"[project.scripts]\ndemo = \"demo:ma\u00a0in\"\n",
       "'demo' in 'project.scripts' is 'demo:ma\\xa0in', not an object reference such as "
       "'package.module:function'; 'ma\\xa0in' is no Python identifier"},
      {"[project.scripts]\ndemo = \"demo.\u0301x:main\"\n",
       "'demo' in 'project.scripts' is 'demo.\u0301x:main', not an object reference such as "
       "'package.module:function'; '\u0301x' is no Python identifier"},
      {"[project.entry-points.console_scripts]\ndemo = \"demo:main\"\n",
       "'project.entry-points.console_scripts' is not allowed: give these in [project.scripts]"},
      {"[project.entry-points]\ng = 1\n",
       "'project.entry-points.g' must be a table of strings, not the integer 1"},
      {"[project]\nentry-points = 1\n",
       "'project.entry-points' must be a table of tables, not the integer 1"},
      // Installers make a script only of a function, so a module alone is refused.
      {"[project.gui-scripts]\nrun = \" mylib.core [x]\"\n",
       "'run' in 'project.gui-scripts' is ' mylib.core [x]', which names no function to call: "
       "write it as 'module:function' (installers refuse a script without one: \"A callable "
       "suffix is required\")"},
      // A "#" or ";" begins a comment line of the file, in any group.
      {"[project.entry-points.g]\n\"#x\" = \"demo\"\n",
       "'#x' in 'project.entry-points.g' is no valid entry point name"},
      {"[project.scripts]\n\";x\" = \"demo:main\"\n",
       "';x' in 'project.scripts' is no valid entry point name (a script's name becomes a file "
       "name)"}};
  // A script's name is the installed file's: one plain file name.
  const std::string longest(255, 's');
  EXPECT_EQ(entryPointsText(project("[project.scripts]\n" + longest + " = \"demo:main\"\n"
                                    "\"a#b;c:d\" = \"demo:main\"\n")),
            "[console_scripts]\n" + longest + " = demo:main\na#b;c:d = demo:main\n");
  for (const char* name : {"my tool", "tool\\u00a0", "to\\u3000ol", "to\\u0000ol", "to\\tol",
                           "to\\u0085ol", "tool]", "a[b", "a/b", "a\\\\b", ".", ".."}) {
    const Project read = project("[project.scripts]\n\"" + std::string(name) +
                                 "\" = \"demo:main\"\n[project.entry-points.g]\n\"" + name +
                                 "\" = \"demo:main\"\n");
    EXPECT_NE(testing::thrownMessage([&] { entryPointsText(read); })
                  .find("in 'project.scripts' is no valid entry point name (a script's name "
                        "becomes a file name)"),
              std::string::npos)
        << name;
  }
  const Project tooLong = project("[project.gui-scripts]\n" + longest + "s = \"demo:main\"\n");
  EXPECT_NE(testing::thrownMessage([&] { entryPointsText(tooLong); }).find("is no valid entry"),
            std::string::npos);
  for (const auto& [tables, message] : bad) {
    // The project table may be given again as a whole.
    std::string text = tables;
    if (text.starts_with("[project]\n")) text = text.substr(10);
    const Project read = project(text);
    EXPECT_EQ(testing::thrownMessage([&] { entryPointsText(read); }),
              "p.toml: " + std::string(message));
  }
}

// abi3 exactly when the code is built against the limited API.
TEST(WheelTags, StableAbiOnlyForNonFreeThreadedLibrariesFrom311) {
  const auto cpython = [](int minor, std::string soabi, std::optional<long long> gil) {
    return InterpreterValues{3, minor, soabi, gil, "linux-x86_64", ""};
  };
  const std::string ft = "cpython-313t-x86_64-linux-gnu";
  const struct {
    InterpreterValues values;
    bool library;
    std::string tags;
  } cases[] = {
      {cpython(12, "cpython-312-x86_64-linux-gnu", 0), false, "cp312-cp312"},
      {cpython(12, "cpython-312-x86_64-linux-gnu", 0), true, "cp312-abi3"},
      {cpython(11, "", std::nullopt), true, "cp311-abi3"},
      {cpython(10, "cpython-310-x86_64-linux-gnu", std::nullopt), true, "cp310-cp310"},
      {cpython(13, ft, 1), true, "cp313-cp313t"},
      {cpython(13, ft, std::nullopt), true, "cp313-cp313t"}, // the ABI name alone tells
  };
  for (const auto& c : cases) {
    WheelTags tags = pythonAbiTags(c.values, c.library);
    EXPECT_EQ(tags.python + "-" + tags.abi, c.tags) << c.values.soabi << " " << c.library;
  }
  EXPECT_EQ(platformName("macosx-11.0-arm64"), "macosx_11_0_arm64");
}

} // namespace
} // namespace quorvex::whl
