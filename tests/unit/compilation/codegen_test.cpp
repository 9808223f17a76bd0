// Code generation: the Cython command lines, the generated files, the splice and the template
// extensions.
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
  Args full{"-P", "-m", "cython", "-3", "--no-docstrings", "-X", "annotation_typing=False"};
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

TEST(CythonRuns, EachModuleRunsUnderItsDottedNameWithItsOwnSymbols) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  writeFile("app.py", "");
  writeFile("a/util.py", "");
  writeFile("b/util.py", "");
  auto plan = generate(fake, {"app.py", "a/util.py", "b/util.py"});

  ASSERT_EQ(cython_.runs.size(), 5u);
  EXPECT_EQ(cython_.runs[4], cython({"--embed", "--shared", "_qvx_shared", "--embed-modules",
                                     "_qvx_shared", ".quorvex_build/_qvx_bootstrap.pyx"}));
  EXPECT_EQ(cython_.runs[1], cython({"-I", ".quorvex_build", "-I", ".", "-I", "a", "-I", "b",
                                     "--shared", "_qvx_shared", "--module-name", "a.util",
                                     "--output-file", ".quorvex_build/a.util.c", "a/util.py"}));
  const fs::path m = ".quorvex_build";
  EXPECT_EQ(plan.cSources, (std::vector<fs::path>{m / "a.util.c", m / "app.c", m / "b.util.c",
                                                  m / "_qvx_shared.c", m / "_qvx_bootstrap.c"}));
  // The two "util" modules no longer share a symbol, and the bootstrap calls each by its own.
  EXPECT_EQ(readFile(m / "a.util.c"), "PyObject* PyInit_qvx_1a4util(void);\n"
                                      "int __pyx_module_is_main_qvx_1a4util = 0;\n");
  EXPECT_NE(readFile(m / "_qvx_bootstrap.pyx").find("\"b.util\": PyInit_qvx_1b4util,"),
            std::string::npos);
  EXPECT_NE(readFile(m / "__main__.h").find("extern PyObject* PyInit_qvx_1b4util(void);"),
            std::string::npos);
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
  EXPECT_EQ(cython_.runs[1], cython({"-I", ".quorvex_build/my app", "-I", "my app", "--shared",
                                     "_qvx_shared", "--module-name", "it's", "--output-file",
                                     ".quorvex_build/my app/it's.c", "my app/it's.py"}));
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
  EXPECT_EQ(readFile(".quorvex_build/_qvx_bootstrap.pxd"), "cdef int shared_flag\n");
  EXPECT_FALSE(fs::exists("sub/_qvx_bootstrap.pxd")) << "the source tree is not written";
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
}

TEST(TemplateExtensions, LibraryBootstrapIsCompiledWithTheCode) {
  TempDir dir;
  FakeManager fake;
  CythonRecorder cython_;
  fake.platform->extensions = nlohmann::json{{"code", {{"k", "EXTRA = 1"}}}};
  writeFile("app/cli.py", "");
  writeFile("util/u.py", "");
  auto plan = generate(fake, {"app/cli.py", "util/u.py"}, true, std::nullopt, "app.cli");
  std::string bootstrap = readFile(".quorvex_build/_qvx_bootstrap.pyx");
  EXPECT_NE(bootstrap.find("EXTRA = 1"), std::string::npos);
  // Two top-level packages: served below the package that loads the library.
  EXPECT_NE(bootstrap.find("_prefix = package + \".\""), std::string::npos);
  // A module of the package, not a program: no embedded main, no start-up block.
  EXPECT_EQ(cython_.runs.back(), cython({"--shared", "_qvx_shared", "--output-file",
                                     ".quorvex_build/_qvx_bootstrap.c",
                                     ".quorvex_build/_qvx_bootstrap.pyx"}));
  EXPECT_EQ(plan.cSources.back(), fs::path(".quorvex_build/_qvx_bootstrap.c"));
  EXPECT_EQ(fake.platform->configTemplateAsked, 0);
}
