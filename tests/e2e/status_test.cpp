// How a built program ends: its arguments, an escaping exception and sys.exit, under a name
// given with --exe.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> statusFiles = {
    {"greet.py", R"(import sys

import words


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "hello"
    if command == "raise":
        words.explode()
    if command == "exit":
        print("leaving with 3")
        sys.exit(3)
    print(words.greeting(sys.argv[2:]))
)"},
    {"words.py", R"(class Boom(RuntimeError):
    pass


def greeting(names):
    return "hello " + " and ".join(names or ["world"])


def explode():
    raise Boom("the fuse was lit")
)"},
};

class StatusProgram : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    project = std::make_unique<Project>("status", statusFiles);
    build = project->build({"--exe", "greeter", "greet", "*.py"});
  }
  static void TearDownTestSuite() { project.reset(); }
  void SetUp() override { ASSERT_EQ(build.status, 0) << build.all(); }

  static Outcome greeter(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(project->buildDir() / "greeter").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, project->dir());
  }

  static inline std::unique_ptr<Project> project;
  static inline Outcome build;
};

TEST_F(StatusProgram, ExeNamesTheProgram) {
  EXPECT_TRUE(fs::is_regular_file(project->buildDir() / "greeter"));
  EXPECT_FALSE(fs::exists(project->buildDir() / "greet"));
  EXPECT_NE((build.out + build.err).find("Compiled to .quorvex_build/greeter"), std::string::npos)
      << build.all();
}

TEST_F(StatusProgram, PassesItsArguments) {
  const Outcome outcome = greeter({"hello", "Ada", "Grace"});
  EXPECT_EQ(outcome.status, 0) << outcome.all();
  EXPECT_EQ(outcome.out, "hello Ada and Grace\n");
  EXPECT_EQ(greeter({}).out, "hello world\n");
}

TEST_F(StatusProgram, AnEscapingExceptionPrintsTheTracebackAndEndsWithOne) {
  const Outcome outcome = greeter({"raise"});
  EXPECT_EQ(outcome.status, 1) << outcome.all();
  EXPECT_EQ(outcome.out, "");
  EXPECT_NE(outcome.err.find("Traceback (most recent call last):"), std::string::npos)
      << outcome.err;
  EXPECT_NE(outcome.err.find("Boom: the fuse was lit\n"), std::string::npos) << outcome.err;
}

TEST_F(StatusProgram, SysExitSetsTheStatus) {
  const Outcome outcome = greeter({"exit"});
  EXPECT_EQ(outcome.status, 3) << outcome.all();
  EXPECT_EQ(outcome.out, "leaving with 3\n");
  EXPECT_EQ(outcome.err, "");
}

} // namespace
} // namespace quorvex::e2e
