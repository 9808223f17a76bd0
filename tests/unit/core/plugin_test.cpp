// The plug-in manager: how answers combine, and which plug-ins a manager ends up holding.
#include "core/ccompiler.hpp"
#include "core/host.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"
#include "platforms/builtin.hpp"
#include "support/context.hpp"
#include "support/log_recorder.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace quorvex;
namespace qt = quorvex::testing;
using plugin::PluginManager;
using Argv = std::vector<std::string>;

namespace {

// A plug-in whose answers a test sets.
struct Scripted : plugin::Plugin {
  std::optional<plugin::CompileBasics> basics;
  std::optional<Argv> compileArgs;
  std::optional<std::string> exeName;
  std::optional<plugin::TemplateExtensions> extensions;
  bool throws = false;
  std::vector<std::string>* calls = nullptr;

  std::optional<plugin::CompileBasics> getCompileBasics() override { return basics; }
  std::optional<Argv> getCompileArgs() override {
    if (calls) calls->push_back("getCompileArgs");
    if (throws) throw std::runtime_error("failed in getCompileArgs");
    return compileArgs;
  }
  std::optional<std::string> getExecutableName(const std::string&) override { return exeName; }
  std::optional<plugin::TemplateExtensions> extendTemplate() override { return extensions; }
};

std::unique_ptr<PluginManager> managerOf(std::vector<Scripted> scripted) {
  std::vector<std::unique_ptr<plugin::Plugin>> list;
  for (auto& plugin : scripted) list.push_back(std::make_unique<Scripted>(std::move(plugin)));
  return std::make_unique<PluginManager>(std::move(list));
}

} // namespace

TEST(PluginDispatch, FirstAnswerMappingsMergedListsAppendedSingleValuesOnce) {
  Scripted first, silent, second;
  first.basics = plugin::CompileBasics{.objSuffix = ".o", .exeSuffix = ""};
  first.compileArgs = Argv{"-x"};
  first.extensions = nlohmann::json{{"code", "a = 1"}, {"features", {{"x", 1}}}};
  silent.extensions = nlohmann::json(); // JSON null is no answer
  second.basics = plugin::CompileBasics{.exeSuffix = ".exe"};
  second.compileArgs = Argv{"-y", "-z"};
  second.extensions = nlohmann::json{{"features", {{"y", 2}}}};
  second.exeName = "app";
  auto manager = managerOf({first, silent, second});
  EXPECT_EQ(manager->getCompileBasics(), (plugin::CompileBasics{".o", ".exe"}));
  EXPECT_EQ(manager->getCompileArgs(), (Argv{"-x", "-y", "-z"}));
  EXPECT_EQ(manager->extendTemplate(),
            (nlohmann::json{{"code", "a = 1"}, {"features", {{"y", 2}}}}));
  EXPECT_EQ(manager->getExecutableName("app"), "app");
  EXPECT_EQ(manager->getLinkerArgs("app", std::nullopt), std::nullopt) << "nobody answered";

  auto twice = managerOf({second, second});
  try {
    twice->getExecutableName("app");
    ADD_FAILURE() << "two answers must fail";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "The hook getExecutableName was answered by more than one plug-in");
  }

  std::vector<std::string> calls;
  Scripted failing, after;
  failing.throws = true;
  failing.calls = after.calls = &calls;
  EXPECT_THROW(managerOf({failing, after})->getCompileArgs(), std::runtime_error);
  EXPECT_EQ(calls, Argv{"getCompileArgs"}) << "an exception stops the walk";
}

TEST(PluginLoading, OnlyTheHostsPlatformPluginIsMade) {
  qt::LogRecorder recorder;
  {
    PluginManager manager({}, {".winplatform", ".linuxplatform", ".macplatform"},
                          platforms::builtinPlugins());
    EXPECT_EQ(manager.plugins.size(), 1u) << "the Linux plug-in accepts this host";
  }
  const Argv warnings = recorder.messages(log::WARNING);
  ASSERT_EQ(warnings.size(), 2u);
  EXPECT_EQ(warnings[0], "Plugin .winplatform constructor failed: Unsupported platform");
  EXPECT_EQ(warnings[1], "Plugin .macplatform constructor failed: Unsupported platform");
  host::PlatformOverride darwin("darwin");
  PluginManager manager({}, {".linuxplatform", ".macplatform"}, platforms::builtinPlugins());
  EXPECT_EQ(manager.plugins.size(), 1u) << "only the macOS plug-in accepts darwin";
  EXPECT_EQ(recorder.messages(log::WARNING).back(),
            "Plugin .linuxplatform constructor failed: Unsupported platform");
}

// The extension library is taken only from the directories the manager is given: never from
// the working directory's src, where a project being built may hold anything.
TEST(PluginLoading, TheExtensionLibraryIsFoundOnlyInTheGivenDirectories) {
  ASSERT_STRNE(QUORVEX_FIXTURE_PLUGIN, "");
  qt::LogRecorder recorder;
  qt::TempDir dir;
  fs::create_directories("src");
  fs::copy_file(QUORVEX_FIXTURE_PLUGIN, "src/libquorvexpro.so");
  const fs::path lib = fs::absolute("lib");
  fs::create_directories(lib);
  EXPECT_TRUE(PluginManager({}, {"quorvexpro"}, {}, {lib}).plugins.empty());
  EXPECT_EQ(recorder.messages(log::WARNING).size(), 1u) << "no second attempt elsewhere";
  EXPECT_TRUE(recorder.messages(log::WARNING).back().starts_with(
      "Failed to load plugin quorvexpro: No module named 'quorvexpro' (no libquorvexpro.so in the "
      "directories searched) (sys.executable="))
      << recorder.messages(log::WARNING).back();
  EXPECT_TRUE(recorder.messages(log::WARNING).back().ends_with(", sys.path=['" + lib.string() +
                                                                "'])"));

  fs::copy_file(QUORVEX_FIXTURE_PLUGIN, lib / "libquorvexpro.so");
  {
    utils::withEnv fail("QUORVEXPRO_FIXTURE_FAIL", "1");
    EXPECT_TRUE(PluginManager({}, {"quorvexpro"}, {}, {lib}).plugins.empty());
    EXPECT_EQ(recorder.messages(log::WARNING).back(),
              "Plugin quorvexpro constructor failed: the fixture was asked to fail");
  }
  PluginManager manager({}, {"quorvexpro"}, {}, {fs::absolute("empty"), lib});
  ASSERT_EQ(manager.plugins.size(), 1u);
  EXPECT_EQ(manager.getCompileArgs(), Argv{"-DQUORVEXPRO_FIXTURE=1"});
  EXPECT_EQ(manager.getLinkerArgs("app", std::nullopt),
            (plugin::LinkerInfo{.linkerArgsEntangle = Argv{"-Wl,--as-needed"}}));
}

// The directories a run searches: the absolute ones the user names for libraries, then the
// library directory of the tool's installation; an entry that would mean the working
// directory is left out.
TEST(PluginLoading, ARunSearchesTheUsersLibraryDirectoriesAndTheToolsInstallation) {
  {
    utils::withEnv named("LD_LIBRARY_PATH", ":src:/opt/ext/lib::./lib:/usr/local/lib");
    EXPECT_EQ(plugin::extensionSearchPath("/opt/venv/bin/quorvex"),
              (std::vector<fs::path>{"/opt/ext/lib", "/usr/local/lib", "/opt/venv/lib"}));
  }
  utils::withEnv unset("LD_LIBRARY_PATH", "");
  EXPECT_EQ(plugin::extensionSearchPath("/usr/bin/quorvex"), std::vector<fs::path>{"/usr/lib"});
}

// In a process of its own: a loaded library stays loaded.
TEST(PluginLoading, ALibraryWithoutTheFactoryCostsAWarning) {
  qt::LogRecorder recorder;
  qt::TempDir dir;
  qt::writeFile("src/lib.c", "int unrelated(void) { return 1; }\n");
  auto compiler = ccompiler::new_compiler("unix", qt::buildFacts());
  compiler->link_shared_object(compiler->compile({"src/lib.c"}), "src/libquorvexpro.so");
  EXPECT_TRUE(PluginManager({}, {"quorvexpro"}, {}, {fs::absolute("src")}).plugins.empty());
  EXPECT_EQ(recorder.messages(log::WARNING).back(),
            "Plugin module quorvexpro has no Plugin class");
}
