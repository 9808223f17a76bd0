// The Windows plug-in's answers, checked on this host through the host override.
#include "platforms/winplatform.hpp"

#include "core/host.hpp"
#include "core/utils.hpp"
#include "support/context.hpp"
#include "support/tempdir.hpp"
#include "support/log_recorder.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace wp = quorvex::winplatform;
using quorvex::testing::writeFile;
using Strings = std::vector<std::string>;

TEST(WinPlugin, ToolchainChoice) {
  quorvex::testing::TempDir dir;
  quorvex::plugin::PluginManager manager;
  quorvex::Context context(manager, quorvex::testing::installedTool);
  const auto& facts = quorvex::testing::buildFacts();
  const auto make = [&facts](const std::string& kind) {
    return quorvex::ccompiler::new_compiler(kind, facts);
  };
  EXPECT_THROW(wp::Plugin{manager}, std::runtime_error); // this host is not Windows
  for (auto file : {"tc/bin/x86_64", "path/x86_64", "path/aarch64", "a\\b/x86_64"})
    writeFile(std::string(file) + "-w64-mingw32-clang.exe", "");
  const auto cwd = dir.path().string(), search = ":" + cwd + "/none:" + cwd + "/path";
  EXPECT_EQ(wp::findMingwCompiler("tc", "", search), "tc/bin/x86_64-w64-mingw32-clang.exe");
  EXPECT_EQ(wp::findMingwCompiler("path", "", search), cwd + "/path/x86_64-w64-mingw32-clang.exe");
  EXPECT_EQ(wp::findMingwCompiler("tc", "WIN-ARM64", search),
            cwd + "/path/aarch64-w64-mingw32-clang.exe");
  EXPECT_EQ(wp::findMingwCompiler(std::nullopt, "", "a\\b"), "a/b/x86_64-w64-mingw32-clang.exe");
  EXPECT_EQ(wp::findMingwCompiler(std::nullopt, "", ":"), std::nullopt); // never the working dir

  quorvex::host::PlatformOverride windows("win32");
  quorvex::utils::withEnv path("PATH", cwd + "/none"), toolchain("QRV_MINGW32", cwd + "/tc");
  wp::Plugin plugin(manager);
  EXPECT_EQ(plugin.getCompileBasics()->objSuffix, ".obj");
  EXPECT_EQ(plugin.newCompiler(false)->_compile_args, Strings{"-flto"});
  EXPECT_EQ(plugin.getCompileBasics(), (quorvex::plugin::CompileBasics{".o", ".exe"}));
  EXPECT_EQ(std::string(std::getenv("CXX")) + " " + std::getenv("LDSHARED"),
            cwd + "/tc/bin/x86_64-w64-mingw32-clang++.exe " + cwd +
                "/tc/bin/x86_64-w64-mingw32-clang.exe -shared");

  const std::string spaced = "C:/Program Files/x86_64-w64-mingw32-clang.exe";
  EXPECT_TRUE(wp::chooseCompiler(spaced, make).useMingw);
  EXPECT_EQ(std::getenv("LDSHARED"), '"' + spaced + "\" -shared");
  quorvex::testing::LogRecorder log;
  auto choice =
      wp::chooseCompiler("C:/bin/x86_64-w64-mingw32-clang.exe", [&](const std::string& kind) {
        if (kind == "mingw32")
          throw std::runtime_error("cannot run it");
        return make(kind);
      });
  EXPECT_EQ(choice.compiler->compiler_type() + std::to_string(choice.useMingw), "msvc0");
  EXPECT_EQ(log.messages(quorvex::log::WARNING),
            Strings{"MinGW compiler init failed, falling back to MSVC"});
  for (const char* name : {"CC", "CXX", "LDSHARED"})
    EXPECT_EQ(std::getenv(name), nullptr) << name;
}

TEST(WinPlugin, LinkShapesAndResourceScript) {
  const auto shape = [](bool mingw, bool noConsole, int minor, bool stableAbi) {
    auto info = wp::linkerInfoFor(mingw, noConsole, 3, minor, stableAbi);
    return fmt::format("{} | {} | {}", fmt::join(*info.linkerArgs, " "),
                       fmt::join(*info.libraryLinkerArgs, " "), fmt::join(*info.extraObjects, " "));
  };
  EXPECT_EQ(shape(true, false, 9, false), "-flto -municode -mconsole -l python39 | -l python39 | ");
  EXPECT_EQ(shape(true, true, 9, false), "-flto -municode -mwindows -l python39 | -l python39 | ");
  // A stable-ABI library loads under every later version: python3.dll, not python312.dll. The
  // program embeds its own version.
  EXPECT_EQ(shape(true, false, 12, true), "-flto -municode -mconsole -l python312 | -l python3 | ");
  EXPECT_EQ(shape(false, false, 9, false), "/ENTRY:wmainCRTStartup /SUBSYSTEM:CONSOLE /LTCG |  | "
                                           "kernel32.lib ucrt.lib vcruntime.lib");
  EXPECT_EQ(wp::linkerInfoFor(false, true, 3, 12, true).linkerArgs->at(1), "/SUBSYSTEM:WINDOWS");

  quorvex::testing::TempDir dir;
  quorvex::host::PlatformOverride windows("win32");
  quorvex::plugin::PluginManager manager;
  quorvex::Context context(manager, quorvex::testing::installedTool);
  writeFile("tc/bin/x86_64-w64-mingw32-clang.exe", "");
  quorvex::utils::withEnv toolchain("QRV_MINGW32", (dir.path() / "tc").string());
  wp::Plugin plugin(manager);
  EXPECT_THROW(plugin.getLinkerArgs("app", std::nullopt), std::runtime_error); // no options yet
  // The build interpreter (3.11 or later, not free-threaded) gives libraries the stable ABI.
  quorvex::options::BuildOptions options;
  options.library = true;
  plugin.extendBuild(options);
  ASSERT_EQ(plugin.newCompiler(false)->compiler().compiler_type(), "mingw32");
  const auto& facts = quorvex::testing::buildFacts();
  const std::string versioned = fmt::format("python{}{}", facts.major, facts.minor);
  const auto linked = *plugin.getLinkerArgs("mod.pyd", std::nullopt);
  EXPECT_EQ(*linked.libraryLinkerArgs, (Strings{"-l", "python3"}));
  EXPECT_EQ(linked.linkerArgs->back(), versioned);
  writeFile("mods/a.b.rc", "");
  EXPECT_EQ(plugin.getExtraSources("mods", "a.b.exe"), std::vector<fs::path>{"mods/a.b.rc"});
  EXPECT_EQ(plugin.getExtraSources("mods", "a.pyd"), std::vector<fs::path>{});
}

TEST(WinPlugin, ProductsAndRuntime) {
  quorvex::testing::TempDir dir;
  quorvex::host::PlatformOverride windows("win32");
  quorvex::plugin::PluginManager manager;
  wp::Plugin plugin(manager);
  EXPECT_EQ(plugin.getExePath("/v/Scripts/quorvex.exe", "python"),
            fs::path("/v/Scripts/python.exe"));
  EXPECT_EQ(plugin.getExePath(".", "my.tool"), fs::path("my.exe"));
  EXPECT_THROW(plugin.getExePath("x/y", ""), std::invalid_argument);
  writeFile("app.exe", "MZ");
  writeFile("b", "");
  for (auto [path, resolved] : {std::pair{"app", "app.exe"}, {"app.bin", "app.exe"}, {"b", "b"}})
    EXPECT_EQ(plugin.resolveExePath(path), fs::path(resolved)) << path;

  plugin.appendExecutable("app.exe", "library.zip"); // none: unchanged
  std::string archive(1000, '\0');
  for (size_t i = 0; i < archive.size(); ++i)
    archive[i] = static_cast<char>(i * 7);
  writeFile("library.zip", archive);
  plugin.appendExecutable("app.exe", "library.zip");
  plugin.appendExecutable("app.exe", "library.zip");
  EXPECT_EQ(quorvex::testing::readFile("app.exe"), "MZ" + archive + archive);

  for (auto dll : {"python312.dll", "python3.dll", "vcruntime140.dll"})
    writeFile(fs::path("base") / dll, dll);
  auto records = wp::runtimeDllRecords("base", "demo", "1.0");
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].path + " " + records[1].data,
            "demo-1.0.data/scripts/python3.dll python312.dll");

  EXPECT_EQ(wp::installSelectorFor(3, 12, 0, false, "").installSelector,
            "cpython-3.12-windows-x86_64-none");
  auto arm = wp::installSelectorFor(3, 13, 1, true, "WIN-ARM64");
  EXPECT_EQ(arm.installSelector + " " + arm.orgVersionName,
            "cpython-3.13+freethreaded-windows-aarch64-none 3.13.1");
}
