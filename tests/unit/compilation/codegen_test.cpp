// Code generation with real Cython: the runs a free-threaded build interpreter asks for, and a
// bootstrap that Cython did not write.
#include "compilation/pipeline.hpp"
#include "platforms/builtin.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

namespace fs = std::filesystem;
using Argv = std::vector<std::string>;

TEST(CodeGeneration, FreeThreadedRunsCarryTheDirectiveAndAMissingBootstrapIsReported) {
  quorvex::testing::TempDir dir;
  quorvex::testing::writeFile("app.py", "def main():\n    print('hi')\n");
  auto manager = quorvex::platforms::loadPlugins();
  std::vector<Argv> runs;
  std::mutex runsLock;
  // Every Cython run is real but the bootstrap's, which ends well and writes nothing.
  quorvex::Context context(manager, quorvex::testing::installedTool, ".quorvex_build",
                           [&](const Argv& argv, std::chrono::milliseconds timeout,
                               const std::string& path,
                               const quorvex::Context::OutputSink& onOutput) {
                             {
                               std::lock_guard lock(runsLock);
                               runs.push_back(argv);
                             }
                             if (argv.back().ends_with("_qvx_bootstrap.pyx"))
                               return quorvex::process::Result{};
                             return quorvex::process::run(
                                 argv, {.timeout = timeout, .path = path, .onOutput = onOutput});
                           });
  quorvex::interpreter::Facts facts = quorvex::testing::buildFacts();
  facts.configVars["Py_GIL_DISABLED"] = 1;
  context.setInterpreter(facts);
  manager.extendBuild(quorvex::options::BuildOptions{});

  auto plan = quorvex::compiler::discoverSources(context, ".", "app", {"app.py"}, true);
  const std::string error = quorvex::testing::thrownMessage(
      [&] { quorvex::compiler::generateSources(context, plan, ".", "app", false, "app"); });
  EXPECT_NE(error.find("Expected generated file not found: .quorvex_build/_qvx_bootstrap.c. "
                       "Cython invocation likely did not run correctly."),
            std::string::npos)
      << error;
  ASSERT_EQ(runs.size(), 3u) << "the shared module, the module and the bootstrap";
  for (const Argv& argv : runs) {
    auto flag = std::find(argv.begin(), argv.end(), "freethreading_compatible=True");
    EXPECT_TRUE(flag != argv.end() && *std::prev(flag) == "-X") << ::testing::PrintToString(argv);
  }
  EXPECT_TRUE(fs::exists(".quorvex_build/app.c")) << "Cython took the directive";
}
