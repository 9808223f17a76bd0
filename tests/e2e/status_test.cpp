// How a built program ends: its arguments, an escaping exception and sys.exit, under a name
// given with --exe.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

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

TEST(StatusProgram, NamedByExeEndsAsPythonWould) {
  Project project("status", statusFiles);
  const Outcome build = project.build({"--exe", "greeter", "greet", "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_TRUE(fs::is_regular_file(project.buildDir() / "greeter"));
  EXPECT_FALSE(fs::exists(project.buildDir() / "greet"));
  EXPECT_NE((build.out + build.err).find("Compiled to .quorvex_build/greeter"), std::string::npos)
      << build.all();

  auto greeter = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {(project.buildDir() / "greeter").string()};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, project.dir());
  };
  const Outcome greeted = greeter({"hello", "Ada", "Grace"});
  EXPECT_EQ(greeted.status, 0) << greeted.all();
  EXPECT_EQ(greeted.out, "hello Ada and Grace\n");
  EXPECT_EQ(greeter({}).out, "hello world\n");

  const Outcome raised = greeter({"raise"});
  EXPECT_EQ(raised.status, 1) << raised.all();
  EXPECT_EQ(raised.out, "");
  EXPECT_NE(raised.err.find("Traceback (most recent call last):"), std::string::npos)
      << raised.err;
  EXPECT_NE(raised.err.find("Boom: the fuse was lit\n"), std::string::npos) << raised.err;

  const Outcome exited = greeter({"exit"});
  EXPECT_EQ(exited.status, 3) << exited.all();
  EXPECT_EQ(exited.out, "leaving with 3\n");
  EXPECT_EQ(exited.err, "");
}

} // namespace
} // namespace quorvex::e2e
