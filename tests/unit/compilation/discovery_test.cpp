// Source discovery, the rebuild decision and the ".pxd" stub text.
#include "compilation/pipeline.hpp"
#include "compilation/pxd_stubs.hpp"
#include "support/thrown.hpp"
#include "support/context.hpp"
#include "support/fake_platform.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

namespace fs = std::filesystem;
using quorvex::compiler::discoverSources;
using quorvex::testing::writeFile;
using Names = std::vector<std::string>;

namespace {

struct Discovery : ::testing::Test {
  Discovery() {
    auto owned = std::make_unique<quorvex::testing::FakePlatform>();
    platform = owned.get();
    manager = quorvex::testing::managerOf(std::move(owned));
    context = std::make_unique<quorvex::Context>(*manager, quorvex::testing::installedTool);
  }
  quorvex::compiler::SourcePlan discover(const fs::path& root, const Names& patterns,
                                         bool force = true) {
    return discoverSources(*context, root, "app", {patterns.begin(), patterns.end()}, force);
  }
  std::string errorOf(const fs::path& root, const Names& patterns) {
    return quorvex::testing::thrownMessage([&] { discover(root, patterns); });
  }
  quorvex::testing::TempDir dir;
  quorvex::testing::FakePlatform* platform;
  std::unique_ptr<quorvex::plugin::PluginManager> manager;
  std::unique_ptr<quorvex::Context> context;
};

Names rebuilt(const quorvex::compiler::SourcePlan& plan) {
  Names out;
  for (const auto& module : plan.modules)
    if (module.rebuilt) out.push_back(module.source.generic_string());
  return out;
}

} // namespace

TEST_F(Discovery, OrdersModulesGroupsPackagesAndRefusesWhatItCannotBuild) {
  for (auto name : {"a.py", "pkg/b.py", "pkg/__init__.py", "pkg/c.py", "x/y/m.py", "zz.py",
                    "m.py", "m/__init__.py"})
    writeFile(fs::path("root") / name, "");
  platform->extraSources = {"res.rc"};
  auto plan = discover("./root/", {"a.py", "pkg/*.py", "pkg/b.py", "x/**/*.py", "zz.py", "x/"});
  Names names;
  for (const auto& module : plan.modules) names.push_back(module.name);
  EXPECT_EQ(names, (Names{"a", "pkg", "pkg.b", "pkg.c", "x.y.m", "zz"}));
  EXPECT_EQ(plan.packages, (Names{"pkg", "x", "x.y"}));
  const fs::path m = ".quorvex_build/root";
  EXPECT_EQ(plan.cSources.front(), fs::path("res.rc"));
  EXPECT_EQ(plan.cSources.at(2), m / "pkg.__init__.c");
  EXPECT_EQ(plan.objects.back(), m / "zz.o");
  EXPECT_TRUE(fs::is_directory(m));
  EXPECT_NE(quorvex::compiler::moduleSymbol("a.b_c"), quorvex::compiler::moduleSymbol("a_b.c"));

  EXPECT_EQ(errorOf("root", {"m.py", "m/*"}), "Two modules named m: root/m/__init__.py and root/m.py");
  EXPECT_EQ(errorOf("root", {"/r/a.py"}), "Non-relative patterns are unsupported: /r/a.py");
  quorvex::plugin::PluginManager empty;
  quorvex::Context bare(empty, quorvex::testing::installedTool);
  EXPECT_THROW(discoverSources(bare, "root", "app", {}, true), std::runtime_error);
  EXPECT_EQ(quorvex::compiler::relativeBuildPlace("/w/pro", "/w/project/app"),
            fs::path("project/app"));
}

// Non-ASCII module names get the init function names that Cython writes for them (the punycode
// of the last name part, as Python's codec gives it) and ASCII symbols of their own.
TEST(ModuleSymbols, NonAsciiNamesAsCythonAndPythonSpellThem) {
  using quorvex::compiler::cythonInitFunction;
  using quorvex::compiler::moduleSymbol;
  EXPECT_EQ(cythonInitFunction("pkg.m\u00f3dulo"), "PyInitU_mdulo_0ta");
  EXPECT_EQ(cythonInitFunction("\u00f1"), "PyInitU_ida");
  EXPECT_EQ(cythonInitFunction("\u65e5\u672c\u8a9e"), "PyInitU_wgv71a119e");
  EXPECT_EQ(cythonInitFunction("caf\u00e9_au_lait"), "PyInitU_caf_au_lait_dbb");
  EXPECT_EQ(cythonInitFunction("\u03a9mega2"), "PyInitU_mega2_y7d");
  EXPECT_EQ(cythonInitFunction("a\U0001F600b"), "PyInitU_ab_no82a");
  EXPECT_EQ(cythonInitFunction("m\u00f3dulo.plain"), "PyInit_plain");
  const std::string symbol = moduleSymbol("m\u00f3dulo.sub");
  EXPECT_EQ(symbol, "qvx_U9mdulo_0ta3sub");
  // A plain part spelled like an encoded one stays apart from it.
  EXPECT_NE(moduleSymbol("U9mdulo_0ta.sub"), symbol);
  EXPECT_NE(moduleSymbol("mdulo_0ta.sub"), symbol);
}

// Names that the import system reaches though they are no identifiers (migrations, files with
// hyphens) get C names: the init function as the Cython driver spells it, and symbols that
// stay apart from every other name's, the digits of a part kept from its length.
TEST(ModuleSymbols, NamesThatAreNoIdentifiersGetCNamesOfTheirOwn) {
  using quorvex::compiler::cythonInitFunction;
  using quorvex::compiler::moduleSymbol;
  EXPECT_EQ(cythonInitFunction("shop.migrations.0001_initial"), "PyInit_0001_initial");
  EXPECT_EQ(cythonInitFunction("m.0002_add-field"), "PyInit_0002_add_2d_field");
  EXPECT_EQ(cythonInitFunction("m.~x y"), "PyInit__7e_x_20_y");
  EXPECT_EQ(moduleSymbol("shop.0001_initial"), "qvx_4shopN12_0001_initial");
  EXPECT_EQ(moduleSymbol("a-b"), "qvx_N6_a_2d_b");
  // Digits of a part that could be read as its length: "10" + "1111111111" against "1" + "0",
  // then five parts "1", when every part is written as a plain one.
  EXPECT_NE(moduleSymbol("1111111111"), moduleSymbol("0.1.1.1.1.1"));
  EXPECT_NE(moduleSymbol("a_2d_b"), moduleSymbol("a-b"));
  for (const std::string name : {"0.1", "m.0001_initial", "x.a b", "p.\u00e9-1", "q.1\u00e9"}) {
    const std::string symbol = moduleSymbol(name);
    EXPECT_TRUE(std::all_of(symbol.begin(), symbol.end(), [](char c) {
      return c == '_' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    })) << symbol;
  }
}

TEST_F(Discovery, RebuildsUnlessTheObjectIsStrictlyNewer) {
  for (auto name : {"fresh.py", "same.py", "old.py", ".quorvex_build/fresh.o",
                    ".quorvex_build/same.o"})
    writeFile(name, "");
  auto now = fs::file_time_type::clock::now();
  fs::last_write_time("fresh.py", now - std::chrono::hours(1));
  fs::last_write_time(".quorvex_build/fresh.o", now);
  fs::last_write_time("same.py", now);
  fs::last_write_time(".quorvex_build/same.o", now);
  auto plan = discover(".", {"*.py"}, false);
  // Equal times count as out of date, as does a missing object; all are linked.
  EXPECT_EQ(rebuilt(plan), (Names{"old.py", "same.py"}));
  EXPECT_EQ(plan.objects.size(), 3u);
  EXPECT_EQ(rebuilt(discover(".", {"*.py"}, true)).size(), 3u);
}

TEST(PxdStubText, DeclaresTheImportedNamesOnly) {
  const std::string header =
      "# library build - patched by quorvex (no cimport from _qvx_bootstrap)\n";
  EXPECT_EQ(quorvex::compiler::pxdStubText("cdef int x\nfrom _qvx_bootstrap cimport a, b\n"),
            header + "cdef object a\ncdef object b\n");
  EXPECT_EQ(quorvex::compiler::pxdStubText("from other cimport a\n# from _qvx_bootstrap cimport b"),
            std::nullopt);
  // Lines of any length, as a generated declaration file may have.
  const std::string blanks(100000, ' '), name(100000, 'n');
  EXPECT_EQ(quorvex::compiler::pxdStubText("from" + blanks + "_qvx_bootstrap\tcimport" + blanks +
                                           name + " ,b"),
            header + "cdef object " + name + "\ncdef object b\n");
  EXPECT_EQ(quorvex::compiler::pxdStubText("from _qvx_bootstrap cimport" + name), std::nullopt);
}
