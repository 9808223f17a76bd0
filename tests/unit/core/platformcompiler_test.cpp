#include "core/ccompiler.hpp"
#include "core/interpreter.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "core/utils_compilerconfig.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace quorvex;
using ccompiler::CompileArgs;
using ccompiler::LinkArgs;
using Argv = std::vector<std::string>;

namespace {

// Keeps what the wrapper hands to the compiler object, and fails its links on request.
class FakeCompiler : public ccompiler::CCompiler {
public:
  std::string compiler_type() const override { return "fake"; }
  std::vector<std::string> compile(const Argv& sources, const CompileArgs& args) override {
    compiled.push_back(args);
    return sources;
  }
  void link_executable(const Argv& objects, const std::string& name,
                       const LinkArgs& args) override {
    record(objects, name, args);
  }
  void link_shared_object(const Argv& objects, const std::string& name,
                          const LinkArgs& args) override {
    record(objects, name, args);
  }
  std::string object_filename(const std::string& source,
                              const std::optional<std::string>&) const override {
    return source;
  }

  std::vector<CompileArgs> compiled;
  Argv linkedObjects;
  std::string linkedName;
  LinkArgs linked;
  bool failLinks = false;

private:
  void record(const Argv& objects, const std::string& name, const LinkArgs& args) {
    if (failLinks) throw ccompiler::LinkError("command 'cc x.o -o app' failed with exit code 1");
    linkedObjects = objects;
    linkedName = name;
    linked = args;
  }
};

struct Wrapped {
  FakeCompiler* fake;
  std::unique_ptr<utils::PlatformCompiler> wrapper;
};

Wrapped wrap(Argv compileArgs, Argv compileLibArgs,
             utils::PlatformCompiler::LinkerArgsCallback callback = nullptr) {
  auto fake = std::make_unique<FakeCompiler>();
  FakeCompiler* raw = fake.get();
  return {raw, std::make_unique<utils::PlatformCompiler>(std::move(fake), std::move(compileArgs),
                                                         std::move(compileLibArgs),
                                                         std::move(callback))};
}

std::vector<std::pair<std::string, std::optional<std::string>>>
macroList(const ccompiler::CCompiler& compiler) {
  std::vector<std::pair<std::string, std::optional<std::string>>> list;
  for (const auto& macro : compiler.macros) list.emplace_back(macro.name, macro.value);
  return list;
}

} // namespace

TEST(PlatformCompiler, CompileArgumentsFollowTheCallersAndNeverAccumulate) {
  auto [fake, wrapper] = wrap({"-flto"}, {"-fPIC"});
  wrapper->compile({"a.c"});
  wrapper->compile({"a.c"});
  ASSERT_EQ(fake->compiled.size(), 2u);
  EXPECT_EQ(fake->compiled[0].extra_postargs, Argv{"-flto"});
  EXPECT_EQ(fake->compiled[1].extra_postargs, Argv{"-flto"});

  wrapper->_library = true;
  const CompileArgs own{.extra_preargs = {"-pre"}, .extra_postargs = {"-O1"}};
  wrapper->compile({"a.c"}, own);
  EXPECT_EQ(fake->compiled[2].extra_postargs, (Argv{"-O1", "-flto", "-fPIC"}));
  EXPECT_EQ(fake->compiled[2].extra_preargs, Argv{"-pre"});
}

TEST(PlatformCompiler, LinkMergesThePlatformsLinkerInformation) {
  std::vector<std::pair<std::string, std::optional<fs::path>>> asked;
  auto [fake, wrapper] = wrap({}, {}, [&](const std::string& name,
                                          const std::optional<fs::path>& libraryPath) {
    asked.emplace_back(name, libraryPath);
    return plugin::LinkerInfo{.extraObjects = Argv{"extra.o"},
                              .linkerArgs = Argv{"Y"},
                              .libraryDirs = Argv{"/py/lib", "/usr/lib"},
                              .libraries = Argv{"python3.12", "m"},
                              .runtimeLibraryDirs = Argv{"$ORIGIN"},
                              .libraryLinkerArgs = Argv{"W"},
                              .linkerArgsEntangle = Argv{"Z"}};
  });
  const LinkArgs args{.output_dir = "out",
                      .libraries = {"m", "z", "m"},
                      .library_dirs = {"/usr/lib"},
                      .runtime_library_dirs = {"$ORIGIN"},
                      .extra_preargs = {"X"},
                      .extra_postargs = {"post"}};

  wrapper->link_executable({"a.o"}, "app", args);
  EXPECT_EQ(fake->linkedObjects, (Argv{"a.o", "extra.o"}));
  EXPECT_EQ(fake->linkedName, "app");
  EXPECT_EQ(fake->linked.libraries, (Argv{"m", "z", "python3.12"}));
  EXPECT_EQ(fake->linked.library_dirs, (Argv{"/usr/lib", "/py/lib"}));
  EXPECT_EQ(fake->linked.runtime_library_dirs, (Argv{"$ORIGIN", "$ORIGIN"}));
  EXPECT_EQ(fake->linked.extra_preargs, (Argv{"X", "Y", "Z"}));
  EXPECT_EQ(fake->linked.extra_postargs, Argv{"post"});
  EXPECT_EQ(fake->linked.output_dir, "out");

  wrapper->_libraryPath = fs::path("python/lib/libpython3.12.so");
  wrapper->link_shared_object({"a.o"}, "mod.so", args);
  EXPECT_EQ(fake->linked.extra_preargs, (Argv{"X", "W", "Z"}));
  EXPECT_EQ(fake->linkedName, "mod.so");

  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0], (std::pair<std::string, std::optional<fs::path>>{"app", std::nullopt}));
  EXPECT_EQ(asked[1].second, fs::path("python/lib/libpython3.12.so"));
}

TEST(PlatformCompiler, WithoutLinkerInformationTheCallersListsPassDeduplicated) {
  for (auto callback : {utils::PlatformCompiler::LinkerArgsCallback{},
                        utils::PlatformCompiler::LinkerArgsCallback{
                            [](const std::string&, const std::optional<fs::path>&) {
                              return std::optional<plugin::LinkerInfo>{};
                            }}}) {
    auto [fake, wrapper] = wrap({}, {}, callback);
    wrapper->link_executable({"a.o", "a.o"}, "app",
                             {.libraries = {"a", "b", "a"},
                              .library_dirs = {"/x", "/x"},
                              .runtime_library_dirs = {"/r", "/r"}});
    EXPECT_EQ(fake->linkedObjects, (Argv{"a.o", "a.o"}));
    EXPECT_EQ(fake->linked.libraries, (Argv{"a", "b"}));
    EXPECT_EQ(fake->linked.library_dirs, Argv{"/x"});
    EXPECT_EQ(fake->linked.runtime_library_dirs, (Argv{"/r", "/r"}));
  }
}

TEST(PlatformCompiler, OnlyAFailingExecutableLinkPrintsLinkFailed) {
  auto [fake, wrapper] = wrap({}, {});
  fake->failLinks = true;

  ::testing::internal::CaptureStderr();
  EXPECT_THROW(wrapper->link_executable({"x.o"}, "app"), ccompiler::LinkError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Link failed: command 'cc x.o -o app' failed with exit code 1\n");

  ::testing::internal::CaptureStderr();
  EXPECT_THROW(wrapper->link_shared_object({"x.o"}, "mod.so"), ccompiler::LinkError);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

  auto [unused, failingCallback] =
      wrap({}, {}, [](const std::string&, const std::optional<fs::path>&)
                       -> std::optional<plugin::LinkerInfo> {
        throw std::runtime_error("no linker information");
      });
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(failingCallback->link_executable({"x.o"}, "app"), std::runtime_error);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(ConfigureCompiler, SettingsFollowNoInitVersionAndBuildMode) {
  using Macros = std::vector<std::pair<std::string, std::optional<std::string>>>;
  auto settings = [](bool noInit, int major, int minor, bool freeThreaded) {
    FakeCompiler compiler;
    utils::detail::applyCommonSettings(compiler, noInit,
                                       {major, minor, "/py/include", [=] { return freeThreaded; }});
    EXPECT_EQ(compiler.include_dirs, Argv{"/py/include"});
    return macroList(compiler);
  };

  EXPECT_EQ(settings(true, 3, 12, false),
            (Macros{{"NDEBUG", std::nullopt},
                    {"CYTHON_NO_PYINIT_EXPORT", "1"},
                    {"CYTHON_COMPRESS_STRINGS", "0"}}));
  EXPECT_EQ(settings(false, 3, 12, false),
            (Macros{{"NDEBUG", std::nullopt},
                    {"CYTHON_COMPRESS_STRINGS", "0"},
                    {"Py_LIMITED_API", std::to_string(0x030C0000)}}));
  EXPECT_EQ(settings(false, 3, 11, false).back(),
            (std::pair<std::string, std::optional<std::string>>{"Py_LIMITED_API",
                                                                 std::to_string(0x030B0000)}));
  EXPECT_EQ(settings(false, 3, 10, false),
            (Macros{{"NDEBUG", std::nullopt}, {"CYTHON_COMPRESS_STRINGS", "0"}}));
  EXPECT_EQ(settings(false, 3, 13, true),
            (Macros{{"NDEBUG", std::nullopt},
                    {"CYTHON_COMPRESS_STRINGS", "0"},
                    {"Py_GIL_DISABLED", "1"}}));
}

TEST(ConfigureCompiler, ExtensionsSeeTheBuildInterpretersSettingsAlreadyMade) {
  // The plug-in stays registered for the process; it goes quiet once this test is over.
  auto seen = std::make_shared<std::pair<Argv, Argv>>();
  struct Extension : plugin::Plugin {
    std::weak_ptr<std::pair<Argv, Argv>> watcher;
    void extendCompiler(ccompiler::CCompiler& compiler) override {
      auto seen = watcher.lock();
      if (!seen) return;
      for (const auto& macro : compiler.macros) seen->first.push_back(macro.name);
      seen->second = compiler.include_dirs;
      compiler.define_macro("FROM_EXTENSION");
    }
  };
  auto extension = std::make_unique<Extension>();
  extension->watcher = seen;
  plugin::pluginManager().register_(std::move(extension));

  FakeCompiler compiler;
  utils::configureCompiler(compiler, true);
  EXPECT_EQ(seen->first, (Argv{"NDEBUG", "CYTHON_NO_PYINIT_EXPORT", "CYTHON_COMPRESS_STRINGS"}));
  EXPECT_EQ(seen->second, Argv{quorvex::interpreter::facts().path("include")});
  EXPECT_EQ(compiler.macros.back().name, "FROM_EXTENSION");
}

// A program that embeds the build interpreter, compiled and linked through the wrapper the way
// the platform plug-ins set it up, then run.
TEST(PlatformCompiler, BuildsAndRunsAProgramEmbeddingCPython) {
  quorvex::testing::TempDir dir;
  const interpreter::Facts& facts = interpreter::facts();
  const std::string libDir = facts.configVar("LIBDIR").value();
  const std::string ldLibrary = facts.configVar("LDLIBRARY").value(); // libpython3.12.so
  const std::string libName = ldLibrary.substr(3, ldLibrary.find(".so") - 3);
  quorvex::testing::writeFile("embed/main.c",
                              "#include <Python.h>\n"
                              "int main(void) {\n"
                              "  Py_Initialize();\n"
                              "  PyRun_SimpleString(\"import sys; \"\n"
                              "                     \"print(6 * 7, sys.version_info[:2])\");\n"
                              "  return Py_FinalizeEx() < 0 ? 120 : 0;\n"
                              "}\n");

  auto raw = ccompiler::new_compiler("unix");
  utils::configureCompiler(*raw, true);
  utils::PlatformCompiler compiler(std::move(raw), {}, {"-fPIC"},
                                   [&](const std::string&, const std::optional<fs::path>&) {
                                     return plugin::LinkerInfo{.libraryDirs = Argv{libDir},
                                                               .libraries = Argv{libName},
                                                               .runtimeLibraryDirs = Argv{libDir}};
                                   });
  const Argv objects = compiler.compile({"embed/main.c"});
  EXPECT_EQ(objects, Argv{"embed/main.o"});
  compiler.link_executable(objects, "embedded", {.output_dir = "out"});

  process::Result result = process::run({(dir.path() / "out/embedded").string()});
  EXPECT_TRUE(result.ok()) << result.output;
  EXPECT_EQ(result.output,
            "42 (" + std::to_string(facts.major) + ", " + std::to_string(facts.minor) + ")\n");
}
