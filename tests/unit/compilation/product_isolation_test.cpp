// The product's name in its generated C, and the C that another Cython writes, left alone.
#include "compilation/product_isolation.hpp"

#include <gtest/gtest.h>

using quorvex::compiler::isolateProduct;
using quorvex::compiler::productToken;

TEST(ProductIsolation, TokenIsStableAndTellsCoexistingProductsApart) {
  const std::vector<std::string> modules = {"rp", "rp.m"};
  const std::string token = productToken(true, modules);
  EXPECT_EQ(token.size(), 16u);
  EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
  EXPECT_EQ(productToken(true, modules), token);
  EXPECT_NE(productToken(false, modules), token) << "a program of the same modules";
  EXPECT_NE(productToken(true, {"rp", "rp.n"}), token);
  EXPECT_NE(productToken(true, {"rpr", "p.m"}), token) << "names are kept apart";
}

TEST(ProductIsolation, RewritesOnlyTheCodeItKnows) {
  const std::string abi = "#define __PYX_ABI_MODULE_NAME \"_cython_\" CYTHON_ABI\n";
  const std::string imports = "m = PyImport_ImportModule(\"_qvx_shared\");\n";
  const std::string exportCall =
      "if (unlikely((__Pyx_modinit_Shared_function_export_code(s) < 0))) goto bad;\n";
  // No ABI name, or a shared module without the call that publishes its functions.
  for (const auto& [text, shared] : {std::pair{imports, false}, std::pair{abi + imports, true},
                                     std::pair{abi + abi + imports, false}}) {
    std::string left = text;
    EXPECT_FALSE(isolateProduct(left, "t", "_qvx_shared", shared)) << text;
    EXPECT_EQ(left, text);
  }

  std::string module = abi + imports + imports;
  ASSERT_TRUE(isolateProduct(module, "t", "_qvx_shared", false));
  EXPECT_TRUE(module.starts_with("#define __PYX_ABI_MODULE_NAME \"_cython_\" CYTHON_ABI \"_qvxt\"\n"))
      << module;
  EXPECT_NE(module.find("m = __Pyx_qvx_ImportShared();\nm = __Pyx_qvx_ImportShared();\n"),
            std::string::npos)
      << module;
  EXPECT_EQ(module.find("__pyx_qvx_shared_module = __pyx_m"), std::string::npos);

  std::string shared = abi + exportCall + "more();\n";
  ASSERT_TRUE(isolateProduct(shared, "t", "_qvx_shared", true));
  EXPECT_NE(shared.find(exportCall + "  Py_INCREF(__pyx_m);\n"), std::string::npos) << shared;
  EXPECT_NE(shared.find("PyObject *__pyx_qvx_shared_module = NULL;"), std::string::npos);
  EXPECT_EQ(shared.find("__Pyx_qvx_ImportShared"), std::string::npos) << "it imports nothing";
}
