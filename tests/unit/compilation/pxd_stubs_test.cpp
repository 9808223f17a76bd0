// The ".pxd" stubs of library builds: Cython translates copies, the source tree is not written.
#include "compilation/pipeline.hpp"
#include "compilation/pxd_stubs.hpp"
#include "fakes.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using quorvex::compilation_test::CythonRecorder;
using quorvex::compilation_test::FakeManager;
using quorvex::compiler::pxdStubText;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

const std::string header =
    "# library build - patched by quorvex (no cimport from _qvx_bootstrap)\n";
const std::string cimporting = "cdef int x\nfrom _qvx_bootstrap cimport alpha, beta\ncdef int y\n";

} // namespace

TEST(PxdStubText, DeclaresTheImportedNamesOnly) {
  EXPECT_EQ(pxdStubText(cimporting), header + "cdef object alpha\ncdef object beta\n");
  EXPECT_EQ(pxdStubText("from   _qvx_bootstrap  cimport  one\r\n"), header + "cdef object one\n");
  EXPECT_EQ(pxdStubText("from other cimport a\n# from _qvx_bootstrap cimport b\n"), std::nullopt);
}

TEST(LibraryStubs, CythonReadsStubbedCopiesAndTheSourcesStayAsTheyWere) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  writeFile("app/__init__.py", "");
  writeFile("app/cli.py", "");
  writeFile("hooks.pxd", cimporting);
  writeFile("app/deep.pxd", cimporting);
  auto plan =
      quorvex::compiler::discoverSources(*fake.manager, ".", "app.so", {"app/cli.py"}, true);
  quorvex::compiler::generateSources(*fake.manager, plan, ".", std::nullopt, true, "app.cli");
  const fs::path copies = ".quorvex_build/_qvx_stubbed";
  EXPECT_EQ(readFile(copies / "hooks.pxd"), header + "cdef object alpha\ncdef object beta\n");
  EXPECT_EQ(readFile(copies / "app/deep.pxd"), cimporting) << "only the top level is stubbed";
  EXPECT_TRUE(fs::exists(copies / "app/__init__.py"));
  ASSERT_EQ(cython_.runs.size(), 3u);
  const auto& batch = cython_.runs[1]; // after the shared module, before the bootstrap
  EXPECT_NE(std::find(batch.begin(), batch.end(), (copies / "app/cli.py").string()), batch.end());
  EXPECT_EQ(readFile("hooks.pxd"), cimporting);
}
