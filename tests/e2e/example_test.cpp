// The bundled example (examples/), built once to an executable with its wheel: the program
// prints what the Python code prints, links libpython through its run path, its wheel installs
// with pip and runs, quorvex-wheel wraps it, and a rebuild reuses the pristine Python that the
// first build installed with uv.
#include "e2e/e2e_support.hpp"

#include "core/version.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <optional>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

class Example : public ::testing::Test {
protected:
  void SetUp() override {
    built = Project::copyOf("example", QUORVEX_SOURCE_DIR "/examples");
    // Every kind of METADATA line the project file gives, and a readme given as a table.
    testing::writeFile(built->dir() / "pyproject.toml", R"([project]
name = "tally"
version = "1.0.0"
readme = { file = "README.md", content-type = "text/markdown; charset=UTF-8" }
requires-python = ">=3.11"
authors = [{ name = "Ada" }, { name = "Grace", email = "grace@example.invalid" },
           { email = "team@example.invalid" }, { name = "Alan" }]
dependencies = ["pip>=20", "colorama; sys_platform == 'win32'"]
classifiers = ["Programming Language :: Python :: 3", "Environment :: Console"]

[project.urls]
Source = "https://example.invalid/tally/src"
Homepage = "https://example.invalid/tally"

# The program's modules are not importable from its wheel: it carries no entry points.
[project.scripts]
tally-main = "tally:main"
)");
    const Outcome build = built->build({"--wheel", "dist", "tally", "*.py", "ledger/*.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    // Whichever build of the process ran first installed the pristine Python with uv.
    const std::string& log = pristineInstallLog();
    EXPECT_NE(log.find("Installed pristine Python at .quorvex_build/python\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Using pristine Python at .quorvex_build/python/cpython-"),
              std::string::npos)
        << log;
    EXPECT_EQ(testing::readFile(built->buildDir() / ".gitignore"), "*\n!.gitignore");
  }

  const Project& project() const { return *built; }
  std::string program() const { return (project().buildDir() / "tally").string(); }

  Outcome expectSameAsPython(const std::vector<std::string>& args) const {
    return e2e::expectSameAsPython(program(), "tally.py", args, project().dir());
  }

  void expectItsOwnRunPath() const {
    const Outcome dynamic = run({"readelf", "-d", program()}, project().dir());
    ASSERT_EQ(dynamic.status, 0) << dynamic.all();
    const std::string pristineLib =
        fs::canonical(project().buildDir() / "python").string() + "/cpython-";
    EXPECT_NE(dynamic.out.find("[$ORIGIN:"), std::string::npos) << dynamic.out;
    EXPECT_NE(dynamic.out.find(pristineLib), std::string::npos) << dynamic.out;
    EXPECT_NE(libpythonOf(program()).find("=> " + pristineLib), std::string::npos);
  }

  // The name of the one installation in the pristine Python's directory (uv adds a link
  // named by the minor version).
  static std::string onlyInstallation(const fs::path& installs) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(installs))
      if (entry.path().filename().string().starts_with("cpython-") && !entry.is_symlink())
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names.size(), 1u) << ::testing::PrintToString(names);
    return names.empty() ? "" : names.front();
  }

  std::optional<Project> built;
};

TEST_F(Example, ProgramWheelAndRebuild) {
  {
    SCOPED_TRACE("the program");
    expectSameAsPython({"data/stock.csv"});
    expectSameAsPython({"--json", "--top", "3", "data/stock.csv", "data/stock.csv"});
    const Outcome broken = expectSameAsPython({"data/broken.csv"});
    expectSameAsPython({"missing.csv"});
    expectSameAsPython({"--top", "many", "data/stock.csv"});
    EXPECT_EQ(broken.status, 2);

    const Outcome clean =
        runClean({program(), "--top", "1", "stock.csv"}, project().dir() / "data");
    EXPECT_EQ(clean.status, 0) << clean.all();
    EXPECT_NE(clean.out.find("8 entries, total value 882.85\n"), std::string::npos) << clean.out;
    EXPECT_NE(clean.out.find("#1 white 5l: 256.00"), std::string::npos) << clean.out;
    expectItsOwnRunPath();
  }
  {
    SCOPED_TRACE("the wheel");
    const fs::path wheel = onlyWheel(project().dir() / "dist");
    EXPECT_TRUE(wheel.filename().string().starts_with("tally-1.0.0-cp312-")) << wheel;
    const Outcome checked = checkWheel(wheel);
    EXPECT_EQ(checked.status, 0) << checked.all();
    EXPECT_EQ(checked.out, "tally 1.0.0\n");

    const fs::path venv = freshVenv("tally");
    pipInstall(venv, wheel);
    // The metadata as an installer reads it.
    const Outcome metadata = run(
        {(venv / "bin" / "python").string(), "-c",
         "import importlib.metadata as m\n"
         "d = m.distribution('tally')\n"
         "for key in ('Requires-Python', 'Author', 'Author-Email', 'Requires-Dist', 'Classifier',"
         " 'Project-URL', 'Description-Content-Type'):\n"
         "    print(key, d.metadata.get_all(key))\n"
         "print(d.metadata.get_payload() == open('README.md', encoding='utf-8').read())\n"
         "print([line for line in d.read_text('WHEEL').splitlines() if 'Generator' in line])"},
        project().dir());
    EXPECT_EQ(metadata.out,
              "Requires-Python ['>=3.11']\n"
              "Author ['Ada, Alan']\n"
              "Author-Email ['Grace <grace@example.invalid>, team@example.invalid']\n"
              "Requires-Dist ['pip>=20', \"colorama; sys_platform == 'win32'\"]\n"
              "Classifier ['Programming Language :: Python :: 3', 'Environment :: Console']\n"
              "Project-URL ['Source, https://example.invalid/tally/src', "
              "'Homepage, https://example.invalid/tally']\n"
              "Description-Content-Type ['text/markdown; charset=UTF-8']\n"
              "True\n"
              "['Generator: Quorvex-custom " + std::string(version::version) + "']\n")
        << metadata.all();
    const fs::path data = project().dir() / "data" / "stock.csv";
    const Outcome expected =
        run({buildPython().string(), "tally.py", "--top", "2", data.string()}, project().dir());
    const Outcome installed =
        runClean({(venv / "bin" / "tally").string(), "--top", "2", data.string()}, venv);
    EXPECT_EQ(installed.status, 0) << installed.all();
    EXPECT_EQ(installed.out, expected.out);
    EXPECT_FALSE(fs::exists(venv / "bin" / "tally-main"));
    const std::string listing =
        "import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).namelist())";
    const Outcome members =
        run({buildPython().string(), "-c", listing, wheel.string()}, project().dir());
    EXPECT_NE(members.out.find(".dist-info/METADATA"), std::string::npos) << members.all();
    EXPECT_EQ(members.out.find("entry_points.txt"), std::string::npos) << members.out;
  }
  {
    SCOPED_TRACE("quorvex-wheel, into an output directory it makes");
    const fs::path out = project().dir() / "wrapped" / "dist";
    const Outcome wrapped = run({wheelTool().string(), program(), out.string()}, project().dir());
    ASSERT_EQ(wrapped.status, 0) << wrapped.all();
    const Outcome checked = checkWheel(onlyWheel(out));
    EXPECT_EQ(checked.status, 0) << checked.all();
    EXPECT_EQ(checked.out, "tally 1.0.0\n");
  }
  {
    SCOPED_TRACE("a rebuild, among installations it must not take");
    const fs::path installs = project().buildDir() / "python";
    const std::string installed = onlyInstallation(installs);
    const std::string version = installed.substr(0, installed.find('-', 8)); // cpython-3.12.1
    for (const std::string& decoy : {version + "+freethreaded-linux-x86_64-gnu",
                                     std::string("cpython-3.0.0-linux-x86_64-gnu")})
      fs::create_directory(installs / decoy);
    testing::writeFile(installs / (version + "-a-file"), "");
    const Outcome again = built->build({"tally", "*.py", "ledger/*.py"});
    ASSERT_EQ(again.status, 0) << again.all();
    const std::string log = again.out + again.err;
    EXPECT_NE(log.find("Found existing pristine Python at .quorvex_build/python/" + installed +
                       "\n"),
              std::string::npos)
        << again.all();
    EXPECT_EQ(log.find("Installed pristine Python"), std::string::npos) << again.all();
    expectSameAsPython({"data/stock.csv"});
  }
}

} // namespace
} // namespace quorvex::e2e
