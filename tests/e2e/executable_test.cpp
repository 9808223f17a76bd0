// The bundled example built to an executable: it prints what the Python code prints, links
// libpython through its run path, and a rebuild reuses the pristine Python.
#include "e2e/example.hpp"

#include <gtest/gtest.h>


namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

class ExampleProgram : public ::testing::Test {
protected:
  static void SetUpTestSuite() { project = &example().project; }

  void SetUp() override { ASSERT_EQ(example().build.status, 0) << example().build.all(); }

  // The program's and the interpreter's run of the same sources must agree in every stream.
  static void expectSameAsPython(const std::vector<std::string>& args) {
    std::vector<std::string> native = {(project->buildDir() / "tally").string()};
    std::vector<std::string> python = {buildPython().string(), "tally.py"};
    native.insert(native.end(), args.begin(), args.end());
    python.insert(python.end(), args.begin(), args.end());
    const Outcome expected = run(python, project->dir());
    const Outcome actual = run(native, project->dir());
    EXPECT_EQ(actual.status, expected.status) << actual.all();
    EXPECT_EQ(actual.out, expected.out);
    EXPECT_EQ(actual.err, expected.err);
  }

  static inline Project* project = nullptr;
};

TEST_F(ExampleProgram, PrintsWhatThePythonCodePrints) {
  expectSameAsPython({"data/stock.csv"});
  expectSameAsPython({"--json", "--top", "3", "data/stock.csv", "data/stock.csv"});
}

TEST_F(ExampleProgram, ReportsBadInputLikeThePythonCode) {
  expectSameAsPython({"data/broken.csv"});
  expectSameAsPython({"missing.csv"});
  expectSameAsPython({"--top", "many", "data/stock.csv"});

  const Outcome broken = run({(project->buildDir() / "tally").string(), "data/broken.csv"},
                             project->dir());
  EXPECT_EQ(broken.status, 2);
  EXPECT_EQ(broken.err, "tally: data/broken.csv:2: quantity 'four' is not a whole number\n");
}

TEST_F(ExampleProgram, RunsFromAnotherDirectoryWithoutPythonSettings) {
  const Outcome outcome =
      runClean({(project->buildDir() / "tally").string(), "--top", "1", "stock.csv"},
               project->dir() / "data");
  EXPECT_EQ(outcome.status, 0) << outcome.all();
  EXPECT_NE(outcome.out.find("8 entries, total value 882.85\n"), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("#1 white 5l: 256.00"), std::string::npos) << outcome.out;
}

TEST_F(ExampleProgram, FindsLibpythonThroughItsRunPath) {
  const std::string exe = (project->buildDir() / "tally").string();
  const Outcome dynamic = run({"readelf", "-d", exe}, project->dir());
  ASSERT_EQ(dynamic.status, 0) << dynamic.all();
  const std::string pristineLib =
      fs::canonical(project->buildDir() / "python").string() + "/cpython-";
  EXPECT_NE(dynamic.out.find("[$ORIGIN:"), std::string::npos) << dynamic.out;
  EXPECT_NE(dynamic.out.find(pristineLib), std::string::npos) << dynamic.out;
  EXPECT_NE(dynamic.out.find("(NEEDED)             Shared library: [libpython3"),
            std::string::npos)
      << dynamic.out;

  const Outcome ldd = run({"ldd", exe}, project->dir());
  ASSERT_EQ(ldd.status, 0) << ldd.all();
  const auto line = ldd.out.find("libpython3");
  ASSERT_NE(line, std::string::npos) << ldd.out;
  const std::string entry = ldd.out.substr(line, ldd.out.find('\n', line) - line);
  EXPECT_NE(entry.find("=> " + pristineLib), std::string::npos) << entry;
}

TEST_F(ExampleProgram, RebuildReusesThePristinePython) {
  const Outcome again = project->build({"tally", "*.py", "ledger/*.py"});
  ASSERT_EQ(again.status, 0) << again.all();
  const std::string log = again.out + again.err;
  EXPECT_NE(log.find("Found existing pristine Python at .quorvex_build/python/cpython-"),
            std::string::npos)
      << again.all();
  EXPECT_EQ(log.find("Installed pristine Python"), std::string::npos) << again.all();
  expectSameAsPython({"data/stock.csv"});
}

TEST(PristinePython, FirstBuildInstallsItWithUv) {
  // Whichever build ran first installed the run's pristine Python from the local source.
  if (pristineInstallLog().empty()) {
    Project project("pristine-first", {{"hello.py", "def main():\n    print('hello')\n"}});
    ASSERT_EQ(project.build({"hello", "hello.py"}).status, 0);
  }
  EXPECT_NE(pristineInstallLog().find("Installed pristine Python at .quorvex_build/python\n"),
            std::string::npos)
      << pristineInstallLog();
  EXPECT_NE(pristineInstallLog().find("Using pristine Python at .quorvex_build/python/cpython-"),
            std::string::npos)
      << pristineInstallLog();
}

} // namespace
} // namespace quorvex::e2e
