// Module names that a product keeps for its own modules, in programs and libraries.
#include "frontend/reserved_modules.hpp"

#include <gtest/gtest.h>

using quorvex::builder::checkReservedModuleNames;
using quorvex::builder::reservedModuleUse;

TEST(ReservedModules, KeptWhereTheProductEntersItsOwnModules) {
  struct Case {
    const char* name;
    bool inProgram, inLibrary;
  };
  const Case cases[] = {
      {"_qvx_bootstrap", true, true},        {"_qvx_shared", true, true},
      {"quorvex_runtime", true, true},       {"cython_runtime", true, true},
      {"_cython_3_3_0", true, true},         {"_qvx_mytool", true, true},
      {"quorvex", true, false},              {"quorvex.util", false, false},
      {"pkg.quorvex_runtime", true, true},   {"pkg.sub.quorvex_runtime", true, false},
      {"pkg._qvx_shared", false, true},      {"pkg._qvx_bootstrap", false, true},
      {"pkg.sub._qvx_shared", false, false}, {"pkg.cython_runtime", false, false},
      {"_cython_helpers", false, false},     {"cython", false, false},
      {"runtime", false, false},             {"pkg._qvx_other", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(reservedModuleUse(c.name, false).has_value(), c.inProgram);
    EXPECT_EQ(reservedModuleUse(c.name, true).has_value(), c.inLibrary);
  }
}

TEST(ReservedModules, RefusalNamesTheModuleItsFileAndWhy) {
  EXPECT_NO_THROW(checkReservedModuleNames({"app.py", "pkg/__init__.py", "pkg/_qvx_shared.py",
                                            "data-file.py"},
                                           false));
  try {
    checkReservedModuleNames({"app.py", "pkg/__init__.py", "pkg/_qvx_shared.py"}, true);
    FAIL() << "a library's pkg._qvx_shared was accepted";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "The project module 'pkg._qvx_shared' (pkg/_qvx_shared.py) has a "
                               "name that the library keeps for the module of Cython's shared "
                               "functions, which would take its place when it runs; rename it");
  }
}
