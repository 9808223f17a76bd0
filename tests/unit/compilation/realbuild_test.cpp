// Real builds through `compile`: the real Cython, gcc, the Linux plug-in and a pristine Python
// installed by the real uv from the local source that scripts/pristine-env prepares.
#include "compilation/compiler.hpp"
#include "compilation/pristine.hpp"
#include "core/plugin.hpp"
#include "platforms/builtin.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "frontend/cli.hpp"
#include "packaging/whl_layout.hpp"
#include "support/context.hpp"
#include "support/pristine_env.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

// The variables that scripts/pristine-env exports, set in this process while it lives.
class PristineEnvironment {
public:
  PristineEnvironment() {
    for (const auto& [name, value] : quorvex::testing::pristineEnvironment())
      guards_.push_back(std::make_unique<quorvex::utils::withEnv>(name, value));
  }

private:
  std::vector<std::unique_ptr<quorvex::utils::withEnv>> guards_;
};

std::optional<fs::path> build(quorvex::Context& context, const std::string& base,
                              const std::string& mainModule, const std::vector<fs::path>& sources,
                              bool library) {
  auto& manager = context.plugins;
  quorvex::cli::BuildArguments args;
  args.command = "build";
  args.library = library;
  args.mainModule = mainModule;
  manager.extendBuild(args);
  auto exeName = manager.getExecutableName(mainModule.substr(0, mainModule.find('.')));
  quorvex::pristine::getPristinePython(context);
  return quorvex::compiler::compile(
      context, base, exeName, library ? std::nullopt : std::optional<std::string>(mainModule),
      sources,
      {.library = library,
       .targetPath = context.buildPath(),
       .noInit = !library,
       .projectMainModule = mainModule});
}

std::string run(const std::vector<std::string>& argv) {
  auto result = quorvex::process::run(argv, {.timeout = std::chrono::seconds(60)});
  EXPECT_TRUE(result.ok()) << result.output;
  return result.output;
}

} // namespace

TEST(RealBuild, ExecutableAndLibraryFromAModuleAndAPackage) {
  PristineEnvironment environment;
  TempDir dir;
  quorvex::plugin::PluginManager manager = quorvex::platforms::loadPlugins();
  quorvex::Context context(manager, quorvex::testing::installedTool);
  writeFile("app.py", "from pkg import helper\n\n"
                      "def main():\n    print('app says', helper.greet('world'))\n");
  writeFile("pkg/__init__.py", "");
  writeFile("pkg/helper.py", "def greet(name):\n    return 'hello ' + name\n");
  writeFile("libsrc/mylib/__init__.py", "");
  writeFile("libsrc/mylib/core.py", "def answer():\n    return 6 * 7\n");

  auto exe = build(context, ".", "app", {"app.py", "pkg/__init__.py", "pkg/helper.py"}, false);
  ASSERT_TRUE(exe);
  EXPECT_EQ(*exe, fs::path(".quorvex_build/app"));
  EXPECT_TRUE(fs::exists(".quorvex_build/python/cpython-3.12.1-linux-x86_64-gnu"))
      << "installed by uv from the local source";
  EXPECT_EQ(run({exe->string()}), "app says hello world\n");

  auto library =
      build(context, "libsrc", "mylib.core", {"mylib/__init__.py", "mylib/core.py"}, true);
  ASSERT_TRUE(library);
  EXPECT_EQ(library->parent_path(), fs::path(".quorvex_build"));
  EXPECT_EQ(library->filename().string().rfind("mylib.cpython-312", 0), 0u) << *library;
  // Imported as its wheel's package loads it.
  fs::create_directories("site/mylib");
  fs::copy_file(*library, "site/mylib" / library->filename());
  writeFile("site/mylib/__init__.py",
            quorvex::whl::packageInit(library->filename().string(), ""));
  EXPECT_EQ(run({QUORVEX_VENV "/bin/python", "-c",
                 "import sys; sys.path.insert(0, 'site'); import mylib.core; "
                 "print(mylib.core.answer())"}),
            "42\n");
}
