// The embedded directory replaces only what the tool made: every other target is refused
// before anything is touched. The project file's copy finds what the project finds.
#include "core/plugin.hpp"
#include "packaging/embed.hpp"
#include "packaging/record.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <toml++/toml.h>

#include <map>
#include <optional>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

TEST(EmbedTarget, RefusesWhatItDidNotMakeAndAcceptsEmptyOrItsOwn) {
  TempDir other;
  TempDir dir;
  fs::create_directories(other.path() / "src" / "app");
  fs::create_directories("project");
  fs::create_directories(".quorvex_build/python");
  writeFile("notes/todo.txt", "mine");
  writeFile("file.txt", "mine too");
  const std::string cwd = dir.path().string();
  const std::string otherSrc = (other.path() / "src").string();
  const std::vector<std::tuple<fs::path, std::optional<fs::path>, std::string>> cases = {
      {".", {}, "it is or contains the working directory " + cwd},
      {"/", {}, "it is or contains the working directory " + cwd},
      {"project", {}, "it is or contains the source directory " + cwd + "/project"},
      {otherSrc, other.path() / "src" / "app",
       "it is or contains the source directory " + otherSrc + "/app"},
      {".quorvex_build", {}, "it is or contains the build directory " + cwd + "/.quorvex_build"},
      {".quorvex_build/python/x", {},
       "it lies in the pristine Python directory " + cwd + "/.quorvex_build/python"},
      {"notes", {},
       "the directory is not empty and has no .quorvex-embedded file, so it was not made by "
       "quorvex"},
      {"file.txt", {}, "it exists and is not a directory"},
      {"empty", {}, ""},
      {"own", {}, ""},
  };
  fs::create_directories("empty");
  writeFile("own/.quorvex-embedded", "");
  writeFile("own/bin/python3", "");
  for (const auto& [target, source, reason] : cases) {
    std::string message;
    try {
      quorvex::embed::checkTarget(target, source.value_or("project"), ".quorvex_build");
    } catch (const std::runtime_error& error) {
      message = error.what();
    }
    EXPECT_EQ(message, reason.empty() ? reason
                                      : "Refusing to embed into " + target.string() + ": " + reason);
  }
  EXPECT_EQ(readFile("notes/todo.txt"), "mine");
  EXPECT_EQ(readFile("file.txt"), "mine too");
}

// The copy of the project file that uv resolves in the build directory must name the places
// that the project names by relative paths; URLs and absolute paths are left alone.
TEST(EmbedProjectCopy, RelativePlacesBecomeAbsoluteAndURLsStay) {
  TempDir dir;
  writeFile("project/pyproject.toml", R"([project]
name = "demo"

[tool.uv]
find-links = ["wheels", "./more/../other", "~/home-relative", "/srv/wheels",
              "https://example.org/links/", "file:///srv/file-links"]
index-url = "simple"
extra-index-url = ["C++.d/extra", "git+ssh://host/index"]

[[tool.uv.index]]
name = "flat"
url = "flat"
format = "flat"

[[tool.uv.index]]
name = "remote"
url = "https://example.org/simple"

[tool.uv.sources]
one = { path = "../one", editable = true }
two = [{ path = "two", marker = "os_name == 'nt'" }, { git = "https://example.org/two.git" }]
three = { url = "https://example.org/three.whl" }
)");
  const toml::table copy =
      toml::parse(quorvex::embed::projectFileForCopy("project/pyproject.toml"));
  const std::string project = (dir.path() / "project").string();
  const auto strings = [&](toml::node_view<const toml::node> list) {
    std::vector<std::string> out;
    for (const toml::node& entry : *list.as_array()) out.push_back(*entry.value<std::string>());
    return out;
  };
  const toml::node_view uv = copy["tool"]["uv"];
  EXPECT_EQ(strings(uv["find-links"]),
            (std::vector<std::string>{project + "/wheels", project + "/other",
                                      project + "/~/home-relative", "/srv/wheels",
                                      "https://example.org/links/", "file:///srv/file-links"}));
  EXPECT_EQ(uv["index-url"].value<std::string>(), project + "/simple");
  EXPECT_EQ(strings(uv["extra-index-url"]),
            (std::vector<std::string>{project + "/C++.d/extra", "git+ssh://host/index"}));
  EXPECT_EQ(uv["index"][0]["url"].value<std::string>(), project + "/flat");
  EXPECT_EQ(uv["index"][1]["url"].value<std::string>(), "https://example.org/simple");
  EXPECT_EQ(uv["sources"]["one"]["path"].value<std::string>(), dir.path().string() + "/one");
  EXPECT_EQ(uv["sources"]["one"]["editable"].value<bool>(), true);
  EXPECT_EQ(uv["sources"]["two"][0]["path"].value<std::string>(), project + "/two");
  EXPECT_EQ(uv["sources"]["two"][1]["git"].value<std::string>(), "https://example.org/two.git");
  EXPECT_EQ(uv["sources"]["three"]["url"].value<std::string>(), "https://example.org/three.whl");
  EXPECT_EQ(copy["project"]["name"].value<std::string>(), "demo");
}

// Scripts as installers write them name the Python by the absolute path it had at install
// time, or had where it was copied from; rewritten, they run the one beside them wherever the
// directory lies, and RECORD still tells their true hash. Scripts for other interpreters and
// files that are no scripts stay.
TEST(EmbedScripts, RunThePythonBesideThemAfterAMoveAndKeepRecordTrue) {
  TempDir dir;
  const fs::path root = dir.path() / "it's here";
  const fs::path bin = root / "bin";
  const fs::path site = root / "lib" / "site-packages";
  const std::string body = "import sys\nprint('ran', sys.argv[1:])\n";
  // A stand-in Python: says by which name it ran, and what it was given.
  writeFile(bin / "python3.12",
            "#!/bin/sh\necho \"$(basename \"$0\") runs $(basename \"$1\") with $2|$3\"\n");
  fs::permissions(bin / "python3.12", fs::perms(0755));
  fs::create_symlink("python3.12", bin / "python3");
  // The installation it was copied from holds the same program.
  writeFile(dir.path() / "origin" / "bin" / "python3.12", readFile(bin / "python3.12"));
  const std::string plain = "#!" + (dir.path() / "origin" / "bin" / "python3.12").string() +
                            "\n" + body;
  // As installers write a head for a path that needs quoting, the quote as '"'"'.
  const std::string quoted = "#!/bin/sh\n'''exec' '" + dir.path().string() +
                             "/it'\"'\"'s here/bin/python3' \"$0\" \"$@\"\n' '''\n" + body;
  const std::string otherPython = "#!/usr/bin/python3\n" + body;
  const std::string shell = "#!/bin/sh\necho shell\n";
  writeFile(bin / "plain-tool", plain);
  writeFile(bin / "quoted-tool", quoted);
  writeFile(bin / "system-tool", otherPython);
  writeFile(bin / "shell-tool", shell);
  for (const char* name : {"plain-tool", "quoted-tool", "shell-tool"})
    fs::permissions(bin / name, fs::perms(0755));
  writeFile(site / "tool-1.0.dist-info" / "RECORD",
            "tool/__init__.py,sha256=abc,3\n../../bin/plain-tool,sha256=old,1\n"
            "\"../../bin/quoted-tool\",sha256=old,2\n../../bin/system-tool,sha256=old,3\n");

  const std::vector<fs::path> done = quorvex::embed::relocateScripts(bin, bin / "python3", site);
  EXPECT_EQ(done, (std::vector<fs::path>{bin / "plain-tool", bin / "quoted-tool"}));
  EXPECT_EQ(readFile(bin / "system-tool"), otherPython);
  EXPECT_EQ(readFile(bin / "shell-tool"), shell);
  const std::string plainNow = readFile(bin / "plain-tool");
  const std::string quotedNow = readFile(bin / "quoted-tool");
  EXPECT_EQ(plainNow, "#!/bin/sh\n'''exec' \"$(dirname -- \"$(realpath -- \"$0\")\")\"/"
                      "'python3.12' \"$0\" \"$@\"\n' '''\n" + body);
  EXPECT_TRUE(quotedNow.starts_with("#!/bin/sh\n'''exec' \"$(dirname -- \"$(realpath -- "
                                    "\"$0\")\")\"/'python3' \"$0\" \"$@\"\n' '''\n"))
      << quotedNow;
  EXPECT_EQ(fs::status(bin / "plain-tool").permissions(), fs::perms(0755));
  const std::string record = readFile(site / "tool-1.0.dist-info" / "RECORD");
  EXPECT_EQ(record, "tool/__init__.py,sha256=abc,3\n" +
                        quorvex::record::line("../../bin/plain-tool", plainNow) + "\n" +
                        quorvex::record::line("../../bin/quoted-tool", quotedNow) + "\n" +
                        "../../bin/system-tool,sha256=old,3\n");
  // Done again, nothing changes.
  EXPECT_TRUE(quorvex::embed::relocateScripts(bin, bin / "python3", site).empty());

  // Moved, and run through a link from elsewhere, as a user's PATH may hold it.
  const fs::path moved = dir.path() / "moved";
  fs::rename(root, moved);
  fs::create_symlink(moved / "bin" / "quoted-tool", dir.path() / "linked-tool");
  for (const auto& [script, via] : {std::pair{moved / "bin" / "plain-tool", "python3.12"},
                                    {dir.path() / "linked-tool", "python3"}}) {
    const std::string command = "'" + script.string() + "' a 'b c' 2>&1";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
      EXPECT_EQ(::pclose(pipe), 0) << output;
    }
    EXPECT_EQ(output, std::string(via) + " runs " + script.filename().string() + " with a|b c\n");
  }
}

// A script whose module the directory's Python lacks (as a Python packed without its
// site-packages keeps pip's scripts) is deleted; one whose imports it finds, or whose imports
// are not the plain block installers write, stays. The real build interpreter answers.
TEST(EmbedScripts, ScriptsWhoseModuleIsMissingAreLeftOut) {
  TempDir dir;
  const std::string head = "#!/opt/python/bin/python3.12\n";
  const std::string quotedHead =
      "#!/bin/sh\n'''exec' '/opt/my python/bin/python3' \"$0\" \"$@\"\n' '''\n";
  const std::map<std::string, std::string> scripts = {
      {"pip", head + "# -*- coding: utf-8 -*-\nimport re\nimport sys\n"
                     "from qvx_absent_pip._internal.cli.main import main\n"
                     "if __name__ == '__main__':\n    sys.exit(main())\n"},
      {"pydoc3", head + "import pydoc\nif __name__ == '__main__':\n    pydoc.cli()\n"},
      {"tool", quotedHead + "\nimport os.path as p, qvx_absent_two  # two, three\nprint(p)\n"},
      {"documented", head + "'''Runs the tool.\nimport qvx_absent_three\n'''\nimport sys\n"},
      {"relative", head + "from . import main\nfrom json import loads\nimport qvx_absent_four\n"},
      {"late", head + "import sys\nprint(sys.argv)\nimport qvx_absent_five\n"}};
  std::vector<fs::path> paths;
  for (const auto& [name, text] : scripts) {
    writeFile(dir.path() / "bin" / name, text);
    paths.push_back(dir.path() / "bin" / name);
  }
  // Links to scripts, as installations name pip3.12 "pip" too.
  fs::create_symlink("pip", dir.path() / "bin/pip3");
  fs::create_symlink("pydoc3", dir.path() / "bin/pydoc");
  EXPECT_EQ(quorvex::embed::leadingImports(scripts.at("pip")),
            (std::vector<std::string>{"re", "sys", "qvx_absent_pip"}));
  EXPECT_EQ(quorvex::embed::leadingImports(scripts.at("tool")),
            (std::vector<std::string>{"os", "qvx_absent_two"}));
  EXPECT_EQ(quorvex::embed::leadingImports(scripts.at("documented")), std::vector<std::string>{});
  EXPECT_EQ(quorvex::embed::leadingImports("import qvx_absent\n"), std::vector<std::string>{})
      << "no head: no script";

  quorvex::plugin::PluginManager manager;
  quorvex::Context context(manager, quorvex::testing::installedTool);
  const fs::path python = QUORVEX_VENV "/bin/python";
  const auto removed = quorvex::embed::removeScriptsWithoutModules(context, paths, python);
  using Removed = std::vector<std::pair<fs::path, std::string>>;
  EXPECT_EQ(removed, (Removed{{dir.path() / "bin/pip3", "qvx_absent_pip"},
                              {dir.path() / "bin/pip", "qvx_absent_pip"},
                              {dir.path() / "bin/relative", "qvx_absent_four"},
                              {dir.path() / "bin/tool", "qvx_absent_two"}}));
  for (const char* kept : {"pydoc3", "pydoc", "documented", "late"})
    EXPECT_TRUE(fs::exists(dir.path() / "bin" / kept)) << kept;
  for (const auto& [script, module] : removed)
    EXPECT_FALSE(fs::exists(fs::symlink_status(script))) << script;

  EXPECT_THROW(quorvex::embed::missingModules(context, dir.path() / "no-python", {"sys"}),
               std::runtime_error);
}

// Paths in RECORD are CSV fields: quoted when they hold a comma or a quote, read back whole.
TEST(EmbedScripts, RecordPathsAreQuotedAndReadBackAsCsv) {
  for (const std::string path : {"a/b.py", "odd,name.py", "say \"hi\".txt"}) {
    const std::string written = quorvex::record::line(path, "xyz");
    EXPECT_EQ(quorvex::record::pathOf(written), path) << written;
    EXPECT_TRUE(written.ends_with(",3")) << written;
  }
  EXPECT_EQ(quorvex::record::line("odd,name.py", "").substr(0, 14), "\"odd,name.py\",");
  EXPECT_EQ(quorvex::record::pathOf("\"unclosed,x,1"), std::nullopt);
}
