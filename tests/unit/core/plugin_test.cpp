#include "core/ccompiler.hpp"
#include "core/host.hpp"
#include "core/interpreter.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"
#include "platforms/builtin.hpp"
#include "support/tempdir.hpp"
#include "unit/core/log_recorder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using namespace quorvex;
namespace qt = quorvex::testing;
using plugin::Plugin;
using plugin::PluginManager;
using Argv = std::vector<std::string>;

namespace {

// A plug-in whose answers a test sets, and which notes every hook it is asked.
struct Scripted : Plugin {
  std::optional<plugin::CompileBasics> basics;
  std::optional<Argv> compileArgs;
  std::optional<std::string> exeName;
  std::optional<plugin::TemplateExtensions> extensions;
  bool makesCompiler = false;
  bool throws = false;
  std::vector<std::string>* calls = nullptr;
  std::string name;

  void note(const std::string& hook) {
    if (calls) calls->push_back(name + "." + hook);
    if (throws) throw std::runtime_error(name + " failed in " + hook);
  }
  std::optional<plugin::CompileBasics> getCompileBasics() override {
    note("getCompileBasics");
    return basics;
  }
  std::optional<Argv> getCompileArgs() override {
    note("getCompileArgs");
    return compileArgs;
  }
  std::optional<std::string> getExecutableName(const std::string&) override {
    note("getExecutableName");
    return exeName;
  }
  std::optional<plugin::TemplateExtensions> extendTemplate() override {
    note("extendTemplate");
    return extensions;
  }
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool) override {
    note("newCompiler");
    if (!makesCompiler) return nullptr;
    return std::make_unique<utils::PlatformCompiler>(ccompiler::new_compiler("unix"));
  }
  void makeExecutable(const fs::path&) override { note("makeExecutable"); }
};

// A plug-in named `name` reporting its hooks to `calls`, set up further by `setUp`.
std::unique_ptr<Plugin> scripted(std::string name, std::function<void(Scripted&)> setUp = {},
                                 std::vector<std::string>* calls = nullptr) {
  auto p = std::make_unique<Scripted>();
  p->name = std::move(name);
  p->calls = calls;
  if (setUp) setUp(*p);
  return p;
}

template <typename... Plugins> std::unique_ptr<PluginManager> managerOf(Plugins... plugins) {
  std::vector<std::unique_ptr<Plugin>> list;
  (list.push_back(std::move(plugins)), ...);
  return std::make_unique<PluginManager>(std::move(list));
}

std::string loadFailure(const std::string& module, const std::string& error) {
  return "Failed to load plugin " + module + ": " + error +
         " (sys.executable=" + interpreter::toolExecutable().string() + ", sys.path=";
}

} // namespace

TEST(PluginDispatch, MappingsMergeKeyByKeyAndListsAppend) {
  auto manager = managerOf(scripted("first",
                                    [](Scripted& p) {
                                      p.basics = plugin::CompileBasics{.objSuffix = ".o", .exeSuffix = ""};
                                      p.compileArgs = Argv{"-x"};
                                      p.extensions = nlohmann::json{{"code", "a = 1"},
                                                                    {"features", {{"x", 1}}}};
                                    }),
                           // JSON null is a JSON answer's None.
                           scripted("silent", [](Scripted& p) { p.extensions = nlohmann::json(); }),
                           scripted("second", [](Scripted& p) {
                             p.basics = plugin::CompileBasics{.exeSuffix = ".exe"};
                             p.compileArgs = Argv{"-y", "-z"};
                             p.extensions = nlohmann::json{{"features", {{"y", 2}}}};
                           }));

  EXPECT_EQ(manager->getCompileBasics(), (plugin::CompileBasics{".o", ".exe"}));
  EXPECT_EQ(manager->getCompileArgs(), (Argv{"-x", "-y", "-z"}));
  // Template extensions replace whole keys.
  EXPECT_EQ(manager->extendTemplate(),
            (nlohmann::json{{"code", "a = 1"}, {"features", {{"y", 2}}}}));
  EXPECT_EQ(manager->getExecutableName("app"), std::nullopt) << "nobody answered";
  EXPECT_EQ(manager->getLinkerArgs("app", std::nullopt), std::nullopt);
}

TEST(PluginDispatch, ASingleValueHookTakesOneAnswerAndNamesTheHookOnASecond) {
  const auto answering = [](std::string name) {
    return scripted(name, [](Scripted& p) {
      p.exeName = "app";
      p.makesCompiler = true;
    });
  };
  auto one = managerOf(scripted("quiet"), answering("platform"));
  EXPECT_EQ(one->getExecutableName("app"), "app");
  EXPECT_NE(one->newCompiler(true), nullptr);

  auto two = managerOf(answering("extension"), answering("platform"));
  const std::vector<std::pair<std::string, std::function<void()>>> hooks{
      {"getExecutableName", [&] { two->getExecutableName("app"); }},
      {"newCompiler", [&] { two->newCompiler(false); }}};
  for (const auto& [hook, ask] : hooks) {
    try {
      ask();
      ADD_FAILURE() << "two answers to " << hook << " must fail";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()),
                "The hook " + hook + " was answered by more than one plug-in");
    }
  }
}

TEST(PluginDispatch, AnExceptionStopsTheWalkAndEveryPluginHearsIgnoredHooks) {
  std::vector<std::string> calls;
  managerOf(scripted("a", {}, &calls), scripted("b", {}, &calls))->makeExecutable("app");
  EXPECT_EQ(calls, (Argv{"a.makeExecutable", "b.makeExecutable"}));

  calls.clear();
  auto manager = managerOf(scripted("a", [](Scripted& p) { p.throws = true; }, &calls),
                           scripted("b", {}, &calls));
  try {
    manager->getCompileArgs();
    FAIL() << "the hook's exception must reach the caller";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "a failed in getCompileArgs");
  }
  EXPECT_EQ(calls, Argv{"a.getCompileArgs"});

  manager->register_(scripted("late"));
  EXPECT_EQ(manager->plugins.size(), 3u);
}

TEST(PluginLoading, PlatformPluginsByName) {
  qt::LogRecorder recorder;
  {
    PluginManager manager({}, {".winplatform", ".linuxplatform"}, platforms::builtinPlugins());
    EXPECT_EQ(manager.plugins.size(), 1u) << "the Linux plug-in accepts this host";
    EXPECT_TRUE(manager.getCompileBasics().has_value());
  }
  const Argv warnings = recorder.messages(log::WARNING);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "Plugin .winplatform constructor failed: Unsupported platform");

  host::PlatformOverride darwin("darwin");
  PluginManager manager({}, {".linuxplatform"}, platforms::builtinPlugins());
  EXPECT_TRUE(manager.plugins.empty());
  EXPECT_EQ(recorder.messages(log::WARNING).back(),
            "Plugin .linuxplatform constructor failed: Unsupported platform");
}

TEST(PluginLoading, TheExtensionLibraryIsFoundUnderSrc) {
  ASSERT_STRNE(QUORVEX_FIXTURE_PLUGIN, "");
  qt::TempDir dir;
  qt::LogRecorder recorder;
  {
    PluginManager none({}, {"quorvexpro"});
    EXPECT_TRUE(none.plugins.empty());
  }
  ASSERT_EQ(recorder.messages(log::WARNING).size(), 1u) << "no src directory: no second try";
  const std::string missing =
      "libquorvexpro.so: cannot open shared object file: No such file or directory";
  EXPECT_TRUE(recorder.messages(log::WARNING)[0].starts_with(loadFailure("quorvexpro", missing)));

  fs::create_directories("src");
  fs::copy_file(QUORVEX_FIXTURE_PLUGIN, "src/libquorvexpro.so");
  PluginManager manager({}, {"quorvexpro"});
  ASSERT_EQ(manager.plugins.size(), 1u);
  EXPECT_EQ(manager.getCompileArgs(), Argv{"-DQUORVEXPRO_FIXTURE=1"});
  EXPECT_EQ(manager.getLinkerArgs("app", std::nullopt),
            (plugin::LinkerInfo{.linkerArgsEntangle = Argv{"-Wl,--as-needed"}}));
  const Argv warnings = recorder.messages(log::WARNING);
  ASSERT_EQ(warnings.size(), 2u) << "the first look along the loader's path still fails";
  EXPECT_TRUE(warnings[1].find("sys.path=['" + (dir.path() / "src").string() + "'") ==
              std::string::npos)
      << "the src directory is shown only once it is searched";

  // Once src is searched, a later manager of the process finds the library at once.
  PluginManager again({}, {"quorvexpro"});
  EXPECT_EQ(again.plugins.size(), 1u);
  EXPECT_EQ(recorder.messages(log::WARNING).size(), 2u);
}

TEST(PluginLoading, ABrokenExtensionCostsAWarningAndNoPlugin) {
  qt::LogRecorder recorder;
  {
    qt::TempDir dir;
    fs::create_directories("src");
    fs::copy_file(QUORVEX_FIXTURE_PLUGIN, "src/libquorvexpro.so");
    utils::withEnv fail("QUORVEXPRO_FIXTURE_FAIL", "1");
    PluginManager manager({}, {"quorvexpro"});
    EXPECT_TRUE(manager.plugins.empty());
  }
  EXPECT_EQ(recorder.messages(log::WARNING).back(),
            "Plugin quorvexpro constructor failed: the fixture was asked to fail");

  // A library without the factory, built here with the real compiler.
  qt::TempDir other;
  qt::writeFile("src/lib.c", "int unrelated(void) { return 1; }\n");
  auto compiler = ccompiler::new_compiler("unix");
  compiler->link_shared_object(compiler->compile({"src/lib.c"}), "src/libquorvexpro.so");
  PluginManager manager({}, {"quorvexpro"});
  EXPECT_TRUE(manager.plugins.empty());
  EXPECT_EQ(recorder.messages(log::WARNING).back(),
            "Plugin module quorvexpro has no Plugin class");
}
