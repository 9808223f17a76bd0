// The ".pxd" stubs of library builds and their restore on every way out.
#include "compilation/pipeline.hpp"
#include "compilation/pxd_stubs.hpp"
#include "fakes.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <csignal>

namespace fs = std::filesystem;
using quorvex::compilation_test::CythonRecorder;
using quorvex::compilation_test::FakeManager;
using quorvex::compiler::PxdStubs;
using quorvex::compiler::pxdStubText;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

const std::string header =
    "# library build - patched by quorvex (no cimport from _qvx_bootstrap)\n";
const std::string cimporting = "cdef int x\nfrom _qvx_bootstrap cimport alpha, beta\ncdef int y\n";

void libraryBuild(FakeManager& fake, const std::vector<fs::path>& sources) {
  auto plan = quorvex::compiler::discoverSources(*fake.manager, ".", "app.so", sources, true);
  quorvex::compiler::generateSources(*fake.manager, plan, ".", std::nullopt, true, "app.cli");
}

} // namespace

TEST(PxdStubText, DeclaresTheImportedNamesOnly) {
  EXPECT_EQ(pxdStubText(cimporting), header + "cdef object alpha\ncdef object beta\n");
  EXPECT_EQ(pxdStubText("from   _qvx_bootstrap  cimport  one\r\n"), header + "cdef object one\n");
  EXPECT_EQ(pxdStubText("from _qvx_bootstrap cimport a,\n"),
            header + "cdef object a\ncdef object \n");
  EXPECT_EQ(pxdStubText("from other cimport a\n# from _qvx_bootstrap cimport b\n"), std::nullopt);
}

TEST(LibraryStubs, StubbedDuringTheBatchRunsAndRestoredAfterSuccessOrFailure) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  writeFile("app/cli.py", "");
  writeFile("hooks.pxd", cimporting);
  writeFile("plain.pxd", "cdef int z\n");
  writeFile("app/deep.pxd", cimporting);
  std::vector<std::string> seenDuringBatch;
  cython_.duringBatch = [&] {
    seenDuringBatch = {readFile("hooks.pxd"), readFile("plain.pxd"), readFile("app/deep.pxd")};
  };
  auto plainTime = fs::last_write_time("plain.pxd");
  libraryBuild(fake, {"app/cli.py"});
  EXPECT_EQ(seenDuringBatch, (std::vector<std::string>{
                                 header + "cdef object alpha\ncdef object beta\n",
                                 "cdef int z\n", cimporting}));
  EXPECT_EQ(readFile("hooks.pxd"), cimporting);
  EXPECT_EQ(fs::last_write_time("plain.pxd"), plainTime) << "not rewritten";

  // A failing batch run: Cython's output reaches the user, and the stub is undone first.
  cython_.failOn = "cli.py";
  try {
    libraryBuild(fake, {"app/cli.py"});
    FAIL() << "expected an error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(std::string(error.what()).find("app/cli.py:1:4: Syntax error"), std::string::npos)
        << error.what();
  }
  EXPECT_EQ(readFile("hooks.pxd"), cimporting);
  cython_.failOn.clear();

  // An executable build leaves the declaration files alone.
  writeFile("app.py", "");
  auto plan = quorvex::compiler::discoverSources(*fake.manager, ".", "app", {"app.py"}, true);
  quorvex::compiler::generateSources(*fake.manager, plan, ".", "app", false, "app");
  EXPECT_EQ(seenDuringBatch[0], cimporting);
}

TEST(LibraryStubs, RestoredWhenStubbingFailsHalfway) {
  TempDir dir;
  for (int i = 0; i < 8; ++i) writeFile("good" + std::to_string(i) + ".pxd", cimporting);
  fs::create_symlink("missing-target", "broken.pxd");
  {
    PxdStubs stubs;
    try {
      stubs.stub(".");
      FAIL() << "expected an error";
    } catch (const fs::filesystem_error& error) {
      EXPECT_EQ(error.path1(), fs::path("./broken.pxd"));
    }
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(readFile("good" + std::to_string(i) + ".pxd"), cimporting);
}

TEST(LibraryStubs, RestoreTriesEveryFileAndReportsTheFirstFailure) {
  TempDir dir;
  writeFile("a.pxd", cimporting);
  writeFile("b.pxd", cimporting);
  PxdStubs stubs;
  stubs.stub(".");
  ASSERT_EQ(stubs.backups().size(), 2u);
  // The first file's directory entry is replaced by a directory, so writing it back fails.
  fs::path blocked = stubs.backups()[0].first, other = stubs.backups()[1].first;
  fs::remove(blocked);
  fs::create_directory(blocked);
  EXPECT_THROW(stubs.restore(), fs::filesystem_error);
  EXPECT_EQ(readFile(other), cimporting);
  fs::remove(blocked);
  // Still remembered, so the owner's destructor puts it back once that can succeed.
  ASSERT_EQ(stubs.backups().size(), 1u);
  stubs.restore();
  EXPECT_EQ(readFile(blocked), cimporting);
}

// A SIGINT that arrives while a real Cython child runs (here a shell standing in for it, which
// signals the tool as a terminal's Ctrl-C would) ends the tool by that signal, but only after
// the stubbed file has its text back.
TEST(LibraryStubsDeathTest, InterruptDuringABatchRestoresBeforeDying) {
  TempDir dir;
  writeFile("app/cli.py", "");
  writeFile("hooks.pxd", cimporting);
  EXPECT_EXIT(
      {
        FakeManager fake;
        CythonRecorder cython_;
        cython_.duringBatch = [] {
          quorvex::process::run(
              {"/bin/sh", "-c", "cp hooks.pxd seen.txt; kill -INT $PPID; sleep 0.2"});
        };
        libraryBuild(fake, {"app/cli.py"});
        std::exit(0); // not reached: the held-back signal ends the process
      },
      ::testing::KilledBySignal(SIGINT), "");
  EXPECT_EQ(readFile("seen.txt"), header + "cdef object alpha\ncdef object beta\n");
  EXPECT_EQ(readFile("hooks.pxd"), cimporting);
}

