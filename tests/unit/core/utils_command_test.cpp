#include "core/interpreter.hpp"
#include "core/utils.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace fs = std::filesystem;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace quorvex::utils {
namespace {

using Words = std::vector<std::string>;

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string failureOf(const std::string& cmd) {
  try {
    system(cmd);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no failure)";
}

TEST(SplitCommandTest, PosixAndNonPosixRules) {
  EXPECT_EQ(splitCommand("a \"b c\" d"), (Words{"a", "b c", "d"}));
  EXPECT_EQ(splitCommand("  a\t\r\nb  "), (Words{"a", "b"}));
  EXPECT_EQ(splitCommand("x'y z'\"w\" '' \"\""), (Words{"xy zw", "", ""}));
  EXPECT_EQ(splitCommand(R"("a \"q\" \\ \n" 'b \n' c\ d # e)"),
            (Words{R"(a "q" \ \n)", R"(b \n)", "c d", "#", "e"}));
  EXPECT_EQ(splitCommand(R"(C:\Python\python.exe -c)"), (Words{"C:Pythonpython.exe", "-c"}));
  EXPECT_EQ(splitCommand(""), Words{});
  for (const char* bad : {"a 'b", "a \"b", "a\\", "\"a\\"})
    EXPECT_THROW(splitCommand(bad), std::invalid_argument) << bad;
  try {
    splitCommand("cython 'unclosed");
    FAIL() << "no error";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ(e.what(), "No closing quotation in the command: cython 'unclosed");
  }

  // Without POSIX rules:
  EXPECT_EQ(splitCommand("a \"b c\" d", false), (Words{"a", "\"b c\"", "d"}));
  EXPECT_EQ(splitCommand(R"(C:\Python\python.exe -c)", false),
            (Words{R"(C:\Python\python.exe)", "-c"}));
  // A quoted word ends at its closing quote; quotes inside a word are ordinary.
  EXPECT_EQ(splitCommand("'a b'c x\"y z", false), (Words{"'a b'", "c", "x\"y", "z"}));
  EXPECT_THROW(splitCommand("a 'b", false), std::invalid_argument);
}

TEST(WithEnvTest, VariablesAreRestoredAlsoWhenTheBodyThrows) {
  ::unsetenv("QVX_TEST_VAR");
  {
    withEnv guard("QVX_TEST_VAR", "inside");
    EXPECT_EQ(env("QVX_TEST_VAR"), "inside");
  }
  EXPECT_EQ(env("QVX_TEST_VAR"), std::nullopt);
  try {
    withEnv guard("QVX_TEST_VAR", "inside");
    throw std::runtime_error("body failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(env("QVX_TEST_VAR"), std::nullopt);

  // An empty variable stays set and nested scopes unwind in order.
  ::setenv("QVX_TEST_VAR", "", 1);
  {
    withEnv outer("QVX_TEST_VAR", "one");
    {
      withEnv inner("QVX_TEST_VAR", "two");
      EXPECT_EQ(env("QVX_TEST_VAR"), "two");
    }
    EXPECT_EQ(env("QVX_TEST_VAR"), "one");
  }
  EXPECT_EQ(env("QVX_TEST_VAR"), "");
  ::unsetenv("QVX_TEST_VAR");
}

TEST(SplitCommandTest, QuotedWordsSplitBackWhole) {
  for (std::string word :
       {"plain/path-1.0.whl", "my app", "it's", "", "a\\b", "say \"hi\"", "$HOME"})
    EXPECT_EQ(splitCommand("run " + quoteWord(word) + " x"), (Words{"run", word, "x"})) << word;
  EXPECT_EQ(quoteWord("plain/path-1.0.whl"), "plain/path-1.0.whl");
}

TEST(SystemTest, AFailedCommandCarriesItsInterleavedOutput) {
  std::string cmd = "sh -c 'printf out1; printf err1 >&2; printf out2; exit 3'";
  EXPECT_EQ(failureOf(cmd), "Command failed: " + cmd + "\nlog: out1err1out2");
  EXPECT_EQ(failureOf("false"), "Command failed: false\nlog: ");
  EXPECT_EQ(system("sh -c 'echo discarded; echo also >&2'"), 0);
  // Line ends are unified and bad bytes replaced.
  EXPECT_EQ(failureOf("sh -c 'printf \"a\\r\\nb\\rc\\n\\377\"; exit 1'"),
            "Command failed: sh -c 'printf \"a\\r\\nb\\rc\\n\\377\"; exit 1'\n"
            "log: a\nb\nc\n\xEF\xBF\xBD");
}

TEST(SystemTest, TheChildSeesTheLocalBinFirstAndTheToolsDirectoryLastOnItsPath) {
  const std::string cmd = "/bin/sh -c 'printf %s \"$PATH\"; exit 1'";
  const std::string toolDir = QUORVEX_VENV "/bin";
  std::optional<std::string> saved = env("PATH");
  {
    withEnv path("PATH", "/usr/bin:/bin");
    EXPECT_EQ(failureOf(cmd), "Command failed: " + cmd + "\nlog: ./bin:/usr/bin:/bin:" + toolDir);
    EXPECT_EQ(env("PATH"), "/usr/bin:/bin");
  }
  {
    withEnv path("PATH", "");
    EXPECT_EQ(failureOf(cmd), "Command failed: " + cmd + "\nlog: ./bin:" + toolDir);
    EXPECT_EQ(env("PATH"), "");
  }
  ::unsetenv("PATH");
  EXPECT_EQ(failureOf(cmd), "Command failed: " + cmd + "\nlog: ./bin:" + toolDir);
  EXPECT_EQ(env("PATH"), std::nullopt);
  if (saved) ::setenv("PATH", saved->c_str(), 1);
}

TEST(SystemTest, AProgramInTheLocalBinWins) {
  TempDir dir;
  writeFile("bin/qvx-tool", "#!/bin/sh\necho local \"$@\"\nexit 4\n");
  fs::permissions("bin/qvx-tool", fs::perms::owner_all);
  EXPECT_EQ(failureOf("qvx-tool x"), "Command failed: qvx-tool x\nlog: local x\n");
}

TEST(SystemTest, UnsplittableMissingOrTimedOutCommandsLeavePathAlone) {
  std::optional<std::string> before = env("PATH");
  int runs = 0;
  {
    CommandRunnerOverride recorder(
        [&](const Words&, std::chrono::milliseconds) { return ++runs, process::Result{}; });
    EXPECT_THROW(system("echo 'unclosed"), std::invalid_argument);
  }
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(env("PATH"), before);
  try {
    system("qvx-no-such-program --flag");
    FAIL() << "no error";
  } catch (const process::SpawnError& e) {
    EXPECT_STREQ(e.what(), "cannot run 'qvx-no-such-program': No such file or directory");
  }
  EXPECT_EQ(env("PATH"), before);
  auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(system("sleep 30", std::chrono::milliseconds(200)), process::TimeoutError);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(env("PATH"), before);
}

TEST(SystemTest, AProgramBesideTheToolIsFoundWithoutBeingOnPath) {
  // The test programs' tool executable is the virtual environment's, where uv is installed.
  std::optional<std::string> saved = env("PATH");
  ::setenv("PATH", "/usr/bin:/bin", 1);
  EXPECT_EQ(system("uv --version"), 0);
  std::string failure = failureOf("uv no-such-subcommand");
  if (saved) ::setenv("PATH", saved->c_str(), 1);
  EXPECT_EQ(failure.rfind("Command failed: uv no-such-subcommand\nlog: ", 0), 0u) << failure;
}

// Answers getExePath as a platform plug-in would, for when no real one is loaded.
struct ExePathPlugin : plugin::Plugin {
  std::optional<fs::path> getExePath(const fs::path& path, const std::string& name) override {
    return path.parent_path() / name;
  }
};

TEST(PythonCallTest, RunsThePythonBesideTheToolAsOneWord) {
  auto& manager = plugin::pluginManager();
  if (!manager.getExePath(interpreter::toolExecutable(), "python"))
    manager.register_(std::make_unique<ExePathPlugin>());

  pythonCall("-c \"import Cython\"");
  try {
    pythonCall("-c \"raise SystemExit('nope')\"");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Command failed: " QUORVEX_VENV
                           "/bin/python -c \"raise SystemExit('nope')\"\nlog: nope\n");
  }

  // A blank in the tool's directory does not split the interpreter's path.
  std::vector<Words> recorded;
  interpreter::overrideToolExecutable("/opt/my tools/bin/quorvex");
  try {
    CommandRunnerOverride recorder([&](const Words& argv, std::chrono::milliseconds timeout) {
      recorded.push_back(argv);
      EXPECT_EQ(timeout, commandTimeout);
      EXPECT_EQ(env("PATH").value_or("").substr(0, 6), "./bin:");
      return process::Result{.exitCode = 1, .output = "boom"};
    });
    pythonCall("-m cython 'a b.pyx'");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(),
                 "Command failed: /opt/my tools/bin/python -m cython 'a b.pyx'\nlog: boom");
  }
  interpreter::overrideToolExecutable(QUORVEX_VENV "/bin/quorvex");
  EXPECT_EQ(recorded,
            (std::vector<Words>{{"/opt/my tools/bin/python", "-m", "cython", "a b.pyx"}}));
}

} // namespace
} // namespace quorvex::utils
