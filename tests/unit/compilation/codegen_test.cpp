// Code generation: the exact Cython command lines, the batches, the generated files, the
// splice and the template extensions.
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"
#include "fakes.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using quorvex::compilation_test::CythonRecorder;
using quorvex::compilation_test::FakeManager;
using quorvex::compiler::discoverSources;
using quorvex::compiler::generateSources;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;
using Args = std::vector<std::string>;

namespace {

Args cython(Args args) {
  Args full{"-m", "cython", "-3", "--no-docstrings", "-X", "annotation_typing=False"};
  full.insert(full.end(), args.begin(), args.end());
  return full;
}

quorvex::compiler::SourcePlan generate(FakeManager& fake, std::vector<fs::path> sources,
                                       bool library = false,
                                       std::optional<std::string> mainModule = "app",
                                       std::optional<std::string> projectMain = "app") {
  auto plan = discoverSources(*fake.manager, ".", "app", sources, true);
  generateSources(*fake.manager, plan, ".", library ? std::nullopt : mainModule, library,
                  projectMain);
  return plan;
}

} // namespace

TEST(CythonRuns, ExecutableWithAModuleAndTwoPackages) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  writeFile("app.py", "");
  writeFile("pkg/b.py", "");
  writeFile("util/c.py", "");
  auto plan = generate(fake, {"app.py", "pkg/b.py", "util/c.py"});

  ASSERT_EQ(cython_.runs.size(), 3u);
  EXPECT_EQ(cython_.runs[0], cython({"--generate-shared", ".quorvex_build/_qvx_shared.c",
                                     "--module-name", "_qvx_shared"}));
  EXPECT_EQ(cython_.runs[1], cython({"--embed", "--shared", "_qvx_shared", "--embed-modules",
                                     "_qvx_shared", ".quorvex_build/_qvx_bootstrap.pyx"}));
  // The rebuilt modules in module order, then the package bootstraps in package order.
  EXPECT_EQ(cython_.runs[2],
            cython({"-I", ".", "-I", ".quorvex_build", "-I", "pkg", "-I", "util", "--output-file",
                    ".quorvex_build", "--shared", "_qvx_shared", "app.py", "pkg/b.py",
                    "util/c.py", ".quorvex_build/pkg.pyx", ".quorvex_build/util.pyx"}));
  const fs::path m = ".quorvex_build";
  EXPECT_EQ(plan.cSources,
            (std::vector<fs::path>{m / "app.c", m / "b.c", m / "c.c", m / "_qvx_shared.c",
                                   m / "_qvx_bootstrap.c", m / "pkg.c", m / "util.c"}));
  for (auto name : {"_qvx_bootstrap.pyx", "__main__.h", "pkg.pyx", "pkg.h", "util.pyx", "util.h"})
    EXPECT_TRUE(fs::exists(m / name)) << name;
  // The program header declares the top-level modules and the package bootstraps.
  std::string header = readFile(m / "__main__.h");
  EXPECT_NE(header.find("extern PyObject* PyInit_app(void);"), std::string::npos);
  EXPECT_NE(header.find("PyInit_pkg(void);"), std::string::npos);
  EXPECT_EQ(header.find("PyInit_b(void)"), std::string::npos);
}

TEST(CythonRuns, PathsWithBlanksReachCythonWhole) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  writeFile("my app/it's.py", "");
  auto plan = discoverSources(*fake.manager, "my app", "app", {"it's.py"}, true);
  generateSources(*fake.manager, plan, "my app", "it's", false, "it's");
  ASSERT_EQ(cython_.runs.size(), 3u);
  EXPECT_EQ(cython_.runs[0], cython({"--generate-shared", ".quorvex_build/my app/_qvx_shared.c",
                                     "--module-name", "_qvx_shared"}));
  EXPECT_EQ(cython_.runs[2], cython({"-I", ".quorvex_build/my app", "-I", "my app",
                                     "--output-file", ".quorvex_build/my app", "--shared",
                                     "_qvx_shared", "my app/it's.py"}));
}

TEST(CythonRuns, FortyFiveSourcesRunInBatchesOfTwenty) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  auto name = [](int i) { return std::string(i < 10 ? "m0" : "m") + std::to_string(i) + ".py"; };
  std::vector<fs::path> sources;
  for (int i = 0; i < 45; ++i) writeFile(sources.emplace_back(name(i)), "");
  generate(fake, sources);
  ASSERT_EQ(cython_.runs.size(), 5u);
  int next = 0;
  for (int count : {20, 20, 5}) {
    Args want = cython({"-I", ".", "-I", ".quorvex_build", "--output-file", ".quorvex_build",
                        "--shared", "_qvx_shared"});
    for (int i = 0; i < count; ++i) want.push_back(name(next++));
    EXPECT_EQ(cython_.runs[2 + (next - 1) / 20], want);
  }
}

TEST(CythonRuns, NothingRebuiltStillMakesTheSharedModuleAndBootstrap) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  writeFile("m.py", "");
  writeFile(".quorvex_build/m.o", "");
  writeFile(".quorvex_build/_qvx_bootstrap.pxd", "stale");
  fs::last_write_time("m.py", fs::file_time_type::clock::now() - std::chrono::hours(1));
  auto plan = discoverSources(*fake.manager, ".", "app", {"m.py"}, false);
  generateSources(*fake.manager, plan, ".", "m", false, "m");
  ASSERT_EQ(cython_.runs.size(), 2u) << "no batch run";
  EXPECT_EQ(fake.platform->configTemplateAsked, 1);
  EXPECT_FALSE(fs::exists(".quorvex_build/_qvx_bootstrap.pxd"));
}

TEST(CythonRuns, MissingEmbeddedMainIsReported) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  cython_.writeEmbedOutput = false;
  writeFile("app.py", "");
  try {
    generate(fake, {"app.py"});
    FAIL() << "expected an error";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    EXPECT_NE(std::string(error.what())
                  .find("Expected generated file not found: .quorvex_build/_qvx_bootstrap.c. "
                        "Cython invocation likely did not run correctly."),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(cython_.runs.size(), 2u) << "nothing runs after the failed embed run";
}

TEST(Splice, ReplacesOnlyTheFirstMarkerAndLeavesAFileWithoutOne) {
  TempDir dir;
  FakeManager fake;
  writeFile("plain.c", "int main(void) { return 0; }\n");
  quorvex::compiler::patchEmbeddedBootstrap(*fake.manager, "plain.c");
  EXPECT_EQ(readFile("plain.c"), "int main(void) { return 0; }\n");
  EXPECT_EQ(fake.platform->configTemplateAsked, 0) << "no marker, no hook";

  fake.platform->configTemplate = "\n  PyConfig_InitPythonConfig(&config);\n  { setup(); }\n";
  writeFile("boot.c", "a\nPyConfig_InitPythonConfig(&config);\nb\n"
                      "PyConfig_InitPythonConfig(&config);\n");
  quorvex::compiler::patchEmbeddedBootstrap(*fake.manager, "boot.c");
  EXPECT_EQ(readFile("boot.c"), "a\n\n  PyConfig_InitPythonConfig(&config);\n  { setup(); }\n\n"
                                "b\nPyConfig_InitPythonConfig(&config);\n");
}

TEST(TemplateExtensions, CodeAndDeclarationsReachTheGeneratedFiles) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  fake.platform->extensions = nlohmann::json{
      {"code", {{"first", "EXTRA_ONE = 1"}, {"second", "EXTRA_TWO = 2"}}},
      {"pxd", {{"decl", "cdef int shared_flag"}}},
      {"features", {{"fast", true}}}};
  writeFile("app.py", "");
  writeFile("sub/m.py", "");
  generate(fake, {"app.py", "sub/m.py"});
  for (auto dirName : {".", "sub", ".quorvex_build"})
    EXPECT_EQ(readFile(fs::path(dirName) / "_qvx_bootstrap.pxd"), "cdef int shared_flag\n");
  std::string program = readFile(".quorvex_build/_qvx_bootstrap.pyx");
  EXPECT_NE(program.find("EXTRA_ONE = 1\nEXTRA_TWO = 2\n"), std::string::npos);
  EXPECT_NE(program.find("'fast': True"), std::string::npos);
  fake.platform->extensions = nlohmann::json::array({"code"});
  try {
    generate(fake, {"app.py"});
    FAIL() << "expected an error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(),
                 "The answer of the hook extendTemplate must be a mapping, got [\"code\"]");
  }
  // In an executable the package bootstraps carry no extension code.
  EXPECT_EQ(readFile(".quorvex_build/sub.pyx").find("EXTRA_ONE"), std::string::npos);
  EXPECT_FALSE(fs::exists(".quorvex_build/sub.pxd"));
}

TEST(TemplateExtensions, LibraryEntryPackageReceivesTheCode) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  fake.platform->extensions = nlohmann::json{{"code", {{"k", "EXTRA = 1"}}}};
  writeFile("app/cli.py", "");
  writeFile("util/u.py", "");
  writeFile(".quorvex_build/util.pxd", "stale");
  auto plan = generate(fake, {"app/cli.py", "util/u.py"}, true, std::nullopt, "app.cli");
  EXPECT_NE(readFile(".quorvex_build/app.pyx").find("EXTRA = 1"), std::string::npos);
  EXPECT_EQ(readFile(".quorvex_build/util.pyx").find("EXTRA = 1"), std::string::npos);
  // The entry package has a declaration file even with no declarations; others have none.
  EXPECT_EQ(readFile(".quorvex_build/app.pxd"), "");
  EXPECT_FALSE(fs::exists(".quorvex_build/util.pxd"));
  // A library does not compile the program bootstrap, though it is generated and spliced.
  EXPECT_TRUE(fs::exists(".quorvex_build/_qvx_bootstrap.c"));
  for (const auto& source : plan.cSources) EXPECT_NE(source.filename(), "_qvx_bootstrap.c");
  EXPECT_EQ(fake.platform->configTemplateAsked, 1);
}
