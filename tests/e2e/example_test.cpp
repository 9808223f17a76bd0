// The bundled example (examples/), built once to an executable with its wheel: the program
// prints what the Python code prints, links libpython through its run path, its wheel installs
// with pip and runs, quorvex-wheel wraps it, and a rebuild reuses the pristine Python that the
// first build installed with uv.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

class Example : public ::testing::Test {
protected:
  void SetUp() override {
    built = Project::copyOf("example", QUORVEX_SOURCE_DIR "/examples");
    // The program's modules are not importable from its wheel: it carries no entry points.
    std::ofstream(built->dir() / "pyproject.toml", std::ios::app)
        << "\n[project.scripts]\ntally-main = \"tally:main\"\n";
    const Outcome build = built->build({"--wheel", "dist", "tally", "*.py", "ledger/*.py"});
    ASSERT_EQ(build.status, 0) << build.all();
    // Whichever build of the process ran first installed the pristine Python with uv.
    const std::string& log = pristineInstallLog();
    EXPECT_NE(log.find("Installed pristine Python at .quorvex_build/python\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Using pristine Python at .quorvex_build/python/cpython-"),
              std::string::npos)
        << log;
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
    SCOPED_TRACE("a rebuild");
    const Outcome again = built->build({"tally", "*.py", "ledger/*.py"});
    ASSERT_EQ(again.status, 0) << again.all();
    const std::string log = again.out + again.err;
    EXPECT_NE(log.find("Found existing pristine Python at .quorvex_build/python/cpython-"),
              std::string::npos)
        << again.all();
    EXPECT_EQ(log.find("Installed pristine Python"), std::string::npos) << again.all();
    expectSameAsPython({"data/stock.csv"});
  }
}

} // namespace
} // namespace quorvex::e2e
