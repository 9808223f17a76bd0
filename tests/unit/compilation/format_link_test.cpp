// The file-list text of log lines, order-keeping de-duplication, and the compile groups and
// link of phase 3 with recording compiler objects.
#include "compilation/compiler.hpp"
#include "compilation/jobs.hpp"
#include "compilation/pipeline.hpp"
#include "fakes.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;
using quorvex::compilation_test::FakeManager;
using quorvex::compilation_test::LogRecorder;
using quorvex::compiler::_format_filenames;
using quorvex::compiler::compileAndLink;
using quorvex::compiler::SourcePlan;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using Strings = std::vector<std::string>;

TEST(FormatFilenames, WrapsWholeNamesWithinTheWidth) {
  EXPECT_EQ(_format_filenames(Strings{}), "");
  EXPECT_EQ(_format_filenames(std::vector<fs::path>{"a/b/x.c", "y.c"}), "x.c, y.c");
  EXPECT_EQ(_format_filenames(Strings{"a/b/x.c", "y.c"}, 8), "x.c\ny.c");

  Strings many(24, "abcde");
  std::string text = _format_filenames(many);
  std::string full = "abcde";
  for (int i = 1; i < 10; ++i) full += ", abcde";
  EXPECT_EQ(text, full + "\n" + full + "\nabcde, abcde, abcde, abcde"); // 68 wide lines

  // Widths count characters: five two-byte names of 3 characters fit in 25 columns.
  EXPECT_EQ(_format_filenames(Strings(5, "\u00e9.c"), 25), "é.c, é.c, é.c, é.c, é.c");

  std::string longName(80, 'n');
  EXPECT_EQ(_format_filenames(Strings{"a.c", longName + ".c", "b.c"}),
            "a.c\n" + longName + ".c\nb.c");
}

namespace {

SourcePlan executablePlan() {
  SourcePlan plan;
  plan.modBuildPath = ".quorvex_build";
  plan.objSuffix = ".o";
  plan.exeSuffix = "";
  plan.cSources = {".quorvex_build/app.c", ".quorvex_build/app.c", ".quorvex_build/_qvx_shared.c",
                   ".quorvex_build/_qvx_bootstrap.c", ".quorvex_build/pkg.c"};
  plan.objects = {".quorvex_build/app.o", ".quorvex_build/old.o"};
  return plan;
}

} // namespace

TEST(CompileAndLink, ExecutableCompilesEachFileThenLinksAndFinishes) {
  TempDir dir;
  FakeManager fake;
  LogRecorder logs;
  fs::create_directories("out");
  auto plan = executablePlan();
  int runtimeAsked = 0;
  auto result = compileAndLink(*fake.manager, plan, "app", false, "out", true, [&] {
    ++runtimeAsked;
    return std::optional<fs::path>("libpython3.12.so");
  });
  auto& compilers = fake.platform->compilers;
  EXPECT_EQ(compilers.compiles,
            (std::vector<Strings>{{".quorvex_build/_qvx_bootstrap.c"}, {".quorvex_build/app.c"},
                                  {".quorvex_build/_qvx_shared.c"}, {".quorvex_build/pkg.c"}}));
  EXPECT_EQ(compilers.noInits, (std::vector<bool>{true, true, true, true, false}));
  EXPECT_EQ(compilers.outputDirs, Strings{"out"});
  // Linked under another name and renamed: only the whole product is ever seen under its name.
  EXPECT_NE(compilers.links, Strings{"exe app"});
  EXPECT_EQ(readFile("out/app"), "binary");
  EXPECT_EQ(std::distance(fs::directory_iterator("out"), {}), 1) << "no temporary is left";
  // Phase 1's objects first, each once, then what only the compiles reported.
  EXPECT_EQ(compilers.linkedObjects[0],
            (Strings{".quorvex_build/app.o", ".quorvex_build/old.o",
                     ".quorvex_build/_qvx_bootstrap.o", ".quorvex_build/_qvx_shared.o",
                     ".quorvex_build/pkg.o"}));
  EXPECT_EQ(runtimeAsked, 1);
  EXPECT_EQ(fake.platform->finishing,
            (Strings{"resolveExePath", "appendExecutable", "makeExecutable"}));
  EXPECT_EQ(result, fs::path("out/app"));
  auto messages = logs.messages("quorvex.compiler");
  std::erase_if(messages, [](const std::string& m) { return m.find(" in 0.") != m.npos; });
  ASSERT_GE(messages.size(), 8u);
  EXPECT_EQ(messages[0], "Source files: app.c, _qvx_shared.c, _qvx_bootstrap.c, pkg.c");
  EXPECT_EQ(messages[1], "Compiling _qvx_bootstrap.c (noInit=True)");
  EXPECT_EQ(messages[2], "Compiling app.c, _qvx_shared.c, pkg.c (noInit=True)");
  EXPECT_EQ(messages[3], "[1/4] compiled _qvx_bootstrap.c");
  EXPECT_EQ(messages[6], "[4/4] compiled pkg.c");
  EXPECT_EQ(messages[7], "Objects app.o, old.o, _qvx_bootstrap.o, _qvx_shared.o, pkg.o");
}

TEST(CompileAndLink, LibraryLinksASharedObjectWithoutFinishing) {
  TempDir dir;
  FakeManager fake;
  LogRecorder logs;
  SourcePlan plan;
  plan.cSources = {".quorvex_build/mod.c", ".quorvex_build/_qvx_shared.c"};
  const std::string name = "mod.cpython-312-x86_64-linux-gnu.so";
  fs::create_directories("out");
  auto result = compileAndLink(*fake.manager, plan, name, true, "out", false,
                               [] { return std::optional<fs::path>("lib.so"); });
  EXPECT_EQ(fake.platform->compilers.noInits, (std::vector<bool>{false, false, false}));
  EXPECT_EQ(readFile("out/" + name), "library");
  EXPECT_TRUE(fake.platform->finishing.empty());
  EXPECT_EQ(result, fs::path("out") / name);
  auto messages = logs.messages("quorvex.compiler");
  EXPECT_EQ(messages.at(messages.size() - 2),
            "Linking shared object: mod.cpython-312-x86_64-linux-gnu -> " + name);
}

TEST(CompileAndLink, FailingGroupStopsBeforeTheLinkAndReportsTheCompilerOutput) {
  TempDir dir;
  FakeManager fake;
  LogRecorder logs;
  auto plan = executablePlan();
  fake.platform->compilers.failOn = "_qvx_bootstrap";
  fake.platform->compilers.chatter = "boot.c:1: error: expected ';'\n";
  bool runtimeAsked = false;
  try {
    compileAndLink(*fake.manager, plan, "app", false, "out", true, [&] {
      runtimeAsked = true;
      return std::nullopt;
    });
    FAIL() << "expected an error";
  } catch (const quorvex::ccompiler::CompileError& error) {
    EXPECT_STREQ(error.what(),
                 "command 'cc -c .quorvex_build/_qvx_bootstrap.c' failed with exit code 1");
  }
  EXPECT_FALSE(runtimeAsked);
  EXPECT_TRUE(fake.platform->compilers.links.empty());
  EXPECT_EQ(fake.platform->compilers.compiles.size(), 1u);
  EXPECT_EQ(logs.messages("quorvex.compiler").back(),
            "Compiler output: boot.c:1: error: expected ';'");

  // Without debug output the message points at --verbose instead.
  quorvex::log::root().level = quorvex::log::INFO;
  fake.platform->compilers.failOn = "pkg.c";
  try {
    compileAndLink(*fake.manager, plan, "app", false, "out", true, [] { return std::nullopt; });
    FAIL() << "expected an error";
  } catch (const quorvex::ccompiler::CompileError& error) {
    EXPECT_STREQ(error.what(), "command 'cc -c .quorvex_build/pkg.c' failed with exit code 1 "
                               "(run with --verbose to see the compiler's output)");
  }
}

TEST(CompileAndLink, DottedExecutableNameIsLinkedWholeWithoutSuffix) {
  TempDir dir;
  FakeManager fake;
  SourcePlan plan;
  plan.exeSuffix = "";
  plan.cSources = {"m.c"};
  fs::create_directories("out");
  auto result =
      compileAndLink(*fake.manager, plan, "tool.bin", false, "out", true,
                     [] { return std::nullopt; });
  EXPECT_EQ(result, fs::path("out/tool.bin"));
  EXPECT_TRUE(fs::exists(*result)) << "the file returned is the file made";
}

TEST(Jobs, CoresLoweredByTheEnvironmentAndAFailureStartsNothingMore) {
  using quorvex::compiler::jobCount;
  EXPECT_EQ(jobCount(8, std::nullopt), 8u);
  EXPECT_EQ(jobCount(8, "3"), 3u);
  EXPECT_EQ(jobCount(8, "20"), 8u) << "never more than the cores";
  EXPECT_EQ(jobCount(0, std::nullopt), 1u) << "core count unknown";
  for (const char* bad : {"0", "-2", "two", "99999999999"})
    EXPECT_THROW(jobCount(8, bad), std::invalid_argument) << bad;

  std::atomic<int> started = 0;
  std::vector<std::function<void()>> tasks(40, [&] {
    ++started;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  });
  tasks[0] = [&] {
    ++started;
    throw std::runtime_error("first fails");
  };
  std::vector<std::size_t> finished;
  EXPECT_THROW(quorvex::compiler::runJobs(tasks, 4, [&](std::size_t i) { finished.push_back(i); }),
               std::runtime_error);
  EXPECT_LT(started, 40) << "tasks went on starting after the failure";
  EXPECT_EQ(std::count(finished.begin(), finished.end(), 0u), 0);
}
