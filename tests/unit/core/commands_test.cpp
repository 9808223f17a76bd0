// Command lines: the splitter, `system` and `pythonCall` running real programs.
#include "core/utils.hpp"
#include "platforms/builtin.hpp"
#include "support/thrown.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using quorvex::testing::writeFile;

namespace quorvex::utils {
namespace {

using Words = std::vector<std::string>;

using quorvex::testing::thrownMessage;

TEST(SplitCommand, PosixAndNonPosixRulesAndQuotedWordsSplitBackWhole) {
  const std::pair<std::string, Words> posix[] = {
      {"a \"b c\" d", {"a", "b c", "d"}},
      {"  a\t\r\nb  ", {"a", "b"}},
      {"x'y z'\"w\" '' \"\"", {"xy zw", "", ""}},
      {R"("a \"q\" \\ \n" 'b \n' c\ d # e)", {R"(a "q" \ \n)", R"(b \n)", "c d", "#", "e"}},
      {R"(C:\Python\python.exe -c)", {"C:Pythonpython.exe", "-c"}},
      {"", {}}};
  for (const auto& [line, words] : posix) EXPECT_EQ(splitCommand(line), words) << line;
  for (const char* bad : {"a 'b", "a \"b", "a\\", "\"a\\"})
    EXPECT_THROW(splitCommand(bad), std::invalid_argument) << bad;
  EXPECT_EQ(splitCommand(R"(C:\Python\python.exe "b c")", false),
            (Words{R"(C:\Python\python.exe)", "\"b c\""}));
  EXPECT_EQ(splitCommand("'a b'c x\"y z", false), (Words{"'a b'", "c", "x\"y", "z"}));
  for (std::string word : {"plain/path-1.0.whl", "my app", "it's", "", "a\\b", "say \"hi\"", "$HOME"})
    EXPECT_EQ(splitCommand("run " + quoteWord(word) + " x"), (Words{"run", word, "x"})) << word;
}

TEST(System, FailuresCarryTheOutputAndThePathIsLeftAlone) {
  quorvex::testing::TempDir dir;
  plugin::PluginManager none;
  Context context(none, quorvex::testing::installedTool);
  withEnv path("PATH", "/usr/bin:/bin");
  auto failureOf = [&](const std::string& cmd) {
    return thrownMessage([&] { system(context, cmd); });
  };
  std::string cmd = "sh -c 'printf out1; printf err1 >&2; printf \"a\\r\\nb\\377\"; exit 3'";
  EXPECT_EQ(failureOf(cmd), "Command failed: " + cmd + "\nlog: out1err1a\nb\xEF\xBF\xBD");
  // The child sees the working directory's bin first (by its absolute path: only absolute
  // directories are searched) and the tool's directory last; a program in that bin wins.
  cmd = "/bin/sh -c 'printf %s \"$PATH\"; exit 1'";
  EXPECT_EQ(failureOf(cmd), "Command failed: " + cmd + "\nlog: " + (dir.path() / "bin").string() +
                                ":/usr/bin:/bin:" QUORVEX_VENV "/bin");
  writeFile("bin/qvx-tool", "#!/bin/sh\necho local \"$@\"\nexit 4\n");
  fs::permissions("bin/qvx-tool", fs::perms::owner_all);
  EXPECT_EQ(failureOf("qvx-tool x"), "Command failed: qvx-tool x\nlog: local x\n");
  EXPECT_EQ(system(context, "uv --version"), 0) << "found beside the tool without being on PATH";
  EXPECT_EQ(failureOf("qvx-no-such-program --flag"),
            "cannot run 'qvx-no-such-program': No such file or directory");
  EXPECT_THROW(system(context, "sleep 30", std::chrono::milliseconds(200)), process::TimeoutError);
  EXPECT_THROW(system(context, "echo 'unclosed"), std::invalid_argument);
  EXPECT_STREQ(std::getenv("PATH"), "/usr/bin:/bin");
}

TEST(PythonCall, RunsThePythonBesideTheTool) {
  plugin::PluginManager manager = platforms::loadPlugins();
  Context context(manager, quorvex::testing::installedTool);
  EXPECT_EQ(thrownMessage([&] { pythonCall(context, "-c \"raise SystemExit('nope')\""); }),
            "Command failed: " QUORVEX_VENV
            "/bin/python -c \"raise SystemExit('nope')\"\nlog: nope\n");
}

} // namespace
} // namespace quorvex::utils
