// Source discovery and the rebuild decision.
#include "compilation/pipeline.hpp"
#include "fakes.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace fs = std::filesystem;
using quorvex::compilation_test::FakeManager;
using quorvex::compiler::discoverSources;
using quorvex::compiler::relativeBuildPlace;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

// The sources of the modules that are translated again.
std::vector<std::string> rebuilt(const quorvex::compiler::SourcePlan& plan) {
  std::vector<std::string> out;
  for (const auto& module : plan.modules)
    if (module.rebuilt) out.push_back(module.source.string());
  return out;
}

} // namespace

TEST(ModuleBuildDirectory, FollowsTheSourceRootsPlace) {
  EXPECT_EQ(relativeBuildPlace("/w", "/w"), fs::path("."));
  EXPECT_EQ(relativeBuildPlace("/w", "/w/src/app"), fs::path("src/app"));
  EXPECT_EQ(relativeBuildPlace("/home/u/proj", "/home/u/other/app"), fs::path("other/app"));
  EXPECT_EQ(relativeBuildPlace("/home/u/proj", "/app"), fs::path("app"));
  // A sibling whose name merely starts like the working directory is outside it.
  EXPECT_EQ(relativeBuildPlace("/w/pro", "/w/project/app"), fs::path("project/app"));

  TempDir dir;
  FakeManager fake;
  fs::create_directories("src/app");
  EXPECT_EQ(discoverSources(*fake.manager, "src/app/", "app", {}, true).modBuildPath,
            fs::path(".quorvex_build/src/app"));
  EXPECT_TRUE(fs::is_directory(".quorvex_build/src/app"));
}

TEST(SourceDiscovery, OrdersModulesAndGroupsPackages) {
  TempDir dir;
  FakeManager fake;
  for (auto name : {"a.py", "pkg/b.py", "pkg/__init__.py", "pkg/c.py", "x/y/m.py", "zz.py"})
    writeFile(fs::path("root") / name, "");
  fake.platform->extraSources = {"res.rc"};
  auto plan = discoverSources(*fake.manager, "root", "app",
                              {"a.py", "pkg/*.py", "pkg/b.py", "x/**/*.py", "zz.py"}, true);
  const fs::path m = ".quorvex_build/root";
  // Path order compares component by component, so pkg/... and x/... come before zz.py and
  // after a.py; a package's own module is named after the package, its files after "__init__".
  std::vector<std::string> names;
  for (const auto& module : plan.modules) names.push_back(module.name);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "pkg", "pkg.b", "pkg.c", "x.y.m", "zz"}));
  EXPECT_EQ(plan.packages, (std::vector<std::string>{"pkg", "x", "x.y"}));
  EXPECT_EQ(plan.topPackage, std::nullopt);
  EXPECT_EQ(rebuilt(plan).at(1), "root/pkg/__init__.py");
  EXPECT_EQ(plan.cSources,
            (std::vector<fs::path>{"res.rc", m / "a.c", m / "pkg.__init__.c", m / "pkg.b.c",
                                   m / "pkg.c.c", m / "x.y.m.c", m / "zz.c"}));
  EXPECT_EQ(plan.objects.back(), m / "zz.o");
  EXPECT_EQ(discoverSources(*fake.manager, "root", "app", {"x/**/*.py"}, true).topPackage, "x");
  // Distinct names give distinct symbols, however their parts are cut.
  EXPECT_NE(quorvex::compiler::moduleSymbol("a.b_c"), quorvex::compiler::moduleSymbol("a_b.c"));
}

TEST(SourceDiscovery, RefusesWhatItCannotBuild) {
  TempDir dir;
  FakeManager fake;
  writeFile("app/util.py", "");
  writeFile("lib/util.py", "");
  writeFile("tool/tool.py", "");
  writeFile("m.py", "");
  writeFile("m/__init__.py", "");
  quorvex::plugin::PluginManager empty;
  auto message = [](auto call) {
    try {
      call();
    } catch (const std::exception& error) {
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message([&] { discoverSources(empty, ".", "app", {}, true); }),
            "No plug-in answered the hook getCompileBasics");
  // One stem in two packages is two modules; one name from two files is a clash.
  EXPECT_EQ(discoverSources(*fake.manager, ".", "app", {"*/util.py"}, true).modules.size(), 2u);
  EXPECT_EQ(message([&] { discoverSources(*fake.manager, ".", "app", {"m.py", "m/*"}, true); }),
            "Two modules named m: m/__init__.py and m.py");
}

TEST(RebuildDecision, RebuildsUnlessTheObjectIsStrictlyNewer) {
  TempDir dir;
  FakeManager fake;
  writeFile("fresh.py", "");
  writeFile("same.py", "");
  writeFile("old.py", "");
  writeFile(".quorvex_build/fresh.o", "");
  writeFile(".quorvex_build/same.o", "");
  auto now = fs::file_time_type::clock::now();
  fs::last_write_time("fresh.py", now - std::chrono::hours(1));
  fs::last_write_time(".quorvex_build/fresh.o", now);
  fs::last_write_time("same.py", now);
  fs::last_write_time(".quorvex_build/same.o", now);
  fake.platform->extraSources = {"extra.c"};

  auto plan = discoverSources(*fake.manager, ".", "app", {"*.py"}, false);
  // The up-to-date module is linked from its earlier object but neither translated nor
  // compiled; equal times count as out of date, as does a missing object.
  EXPECT_EQ(rebuilt(plan), (std::vector<std::string>{"old.py", "same.py"}));
  EXPECT_EQ(plan.cSources, (std::vector<fs::path>{"extra.c", ".quorvex_build/old.c",
                                                  ".quorvex_build/same.c"}));
  EXPECT_EQ(plan.objects.size(), 3u);
  EXPECT_EQ(plan.objects[0], fs::path(".quorvex_build/fresh.o"));

  auto forced = discoverSources(*fake.manager, ".", "app", {"*.py"}, true);
  EXPECT_EQ(rebuilt(forced).size(), 3u);
}

TEST(SourceDiscovery, TakesFilesOnlyJoinedWithTheSourceRoot) {
  TempDir dir;
  FakeManager fake;
  writeFile("r/a.py", "");
  writeFile("r/d/e/f.py", "");
  writeFile("r/pkg.py/g.py", ""); // a directory whose name looks like a module
  // The build passes "." and directories on when the user's patterns name them.
  auto plan = discoverSources(*fake.manager, "./r/", "app", {"**/*.py", ".", "d", "*.py/"}, true);
  EXPECT_EQ(rebuilt(plan), (std::vector<std::string>{"r/a.py", "r/d/e/f.py", "r/pkg.py/g.py"}));

  std::string message = "no error";
  try {
    discoverSources(*fake.manager, "r", "app", {"/r/a.py"}, true);
  } catch (const std::invalid_argument& error) {
    message = error.what();
  }
  EXPECT_EQ(message, "Non-relative patterns are unsupported: /r/a.py");
}
