// How a built program ends: its arguments (also under the C locale), an escaping exception and
// sys.exit, under a name given with --exe, also with libpython's compiled-in prefix out of
// reach; the build interpreter's queries ignore modules in the working directory.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> statusFiles = {
    // Stands in for the standard json module if anything in the working directory imports it.
    {"json.py", "raise SystemExit('json.py of the working directory was imported')\n"},
    {"src/greet.py", R"(import sys

import words


def main():
    command = sys.argv[1] if len(sys.argv) > 1 else "hello"
    if command == "raise":
        words.explode()
    if command == "args":
        print(ascii(sys.argv[2:]))
        return
    if command == "exit":
        print("leaving with 3")
        sys.exit(3)
    print(words.greeting(sys.argv[2:]))
)"},
    {"src/words.py", R"(class Boom(RuntimeError):
    pass


def greeting(names):
    return "hello " + " and ".join(names or ["world"])


def explode():
    raise Boom("the fuse was lit")
)"},
};

TEST(StatusProgram, NamedByExeEndsAsPythonWould) {
  Project project("status", statusFiles);
  const Outcome build = project.build({"--base", "src", "--exe", "greeter", "greet", "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_TRUE(fs::is_regular_file(project.buildDir() / "greeter"));
  EXPECT_FALSE(fs::exists(project.buildDir() / "greet"));
  EXPECT_NE((build.out + build.err).find("Compiled to .quorvex_build/greeter"), std::string::npos)
      << build.all();

  const std::string greeterPath = (project.buildDir() / "greeter").string();
  auto greeter = [&](const std::vector<std::string>& args) {
    std::vector<std::string> argv = {greeterPath};
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

  const Outcome cLocale = run({"env", "LC_ALL=C", greeterPath, "args", "\xc3\xa9"}, project.dir());
  EXPECT_EQ(cLocale.out, "['\\xe9']\n") << cLocale.all();

  if (geteuid() == 0) {
    SCOPED_TRACE("libpython's compiled-in prefix hidden by an empty file system");
    const Outcome prefix = run({buildPython().string(), "-c",
                                "import sysconfig; print(sysconfig.get_config_var('prefix'))"},
                               project.dir());
    const Outcome hidden =
        run({"unshare", "-m", "sh", "-c", "mount -t tmpfs none \"$0\" && exec \"$1\" hello Ada",
             prefix.out.substr(0, prefix.out.size() - 1), greeterPath},
            project.dir());
    EXPECT_EQ(hidden.status, 0) << hidden.all();
    EXPECT_EQ(hidden.out, "hello Ada\n");
  }

  const Outcome shadowed = project.build({"json", "json.py"});
  EXPECT_EQ(shadowed.status, 1);
  EXPECT_NE(shadowed.err.find("The project module 'json' (json.py) has the name of a module "
                              "that the program's start-up imports"),
            std::string::npos)
      << shadowed.all();
}

} // namespace
} // namespace quorvex::e2e
