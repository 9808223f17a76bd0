#include "compilation/product_isolation.hpp"

#include <cstdint>
#include <fmt/format.h>
#include <string_view>

namespace quorvex::compiler {

namespace {

// Cython keeps the types that its modules share (the function type, generators, coroutines) in
// a module that sys.modules holds under this name, the same for every product built with one
// Cython: a second product would be handed the first one's types, built from its code.
constexpr std::string_view abiModuleName = "#define __PYX_ABI_MODULE_NAME \"_cython_\" CYTHON_ABI";

// Every module takes its shared functions from the shared utility module it imports by name.
// In a process holding a program and libraries, or several libraries, that name is taken by
// the first product loaded: each product's modules instead reach the shared module linked into
// their own product, which records itself when it loads. Until then (a program's start-up
// imports its built-in shared module first) the import by name stands.
constexpr std::string_view sharedModuleDeclaration = R"(
/* The shared utility module of this product, recorded when it loads. */
#if (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32) && !defined(__CYGWIN__)
  #define __Pyx_qvx_PRODUCT_LOCAL __attribute__((visibility("hidden")))
#else
  #define __Pyx_qvx_PRODUCT_LOCAL
#endif
__Pyx_qvx_PRODUCT_LOCAL extern PyObject *__pyx_qvx_shared_module;
)";

constexpr std::string_view sharedModuleDefinition =
    "__Pyx_qvx_PRODUCT_LOCAL PyObject *__pyx_qvx_shared_module = NULL;\n";

constexpr std::string_view sharedModuleRecord = R"(
  Py_INCREF(__pyx_m);
  Py_XDECREF(__pyx_qvx_shared_module);
  __pyx_qvx_shared_module = __pyx_m;
)";

constexpr std::string_view importSharedFunction = R"(static PyObject *__Pyx_qvx_ImportShared(void) {{
    if (!__pyx_qvx_shared_module) return PyImport_ImportModule("{0}");
    Py_INCREF(__pyx_qvx_shared_module);
    return __pyx_qvx_shared_module;
}}
)";

// The call in the shared module's body that publishes its functions: the module is recorded
// right after it.
constexpr std::string_view sharedExportCall = "(__Pyx_modinit_Shared_function_export_code(";

std::size_t count(const std::string& text, std::string_view part) {
  std::size_t found = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

} // namespace

std::string productToken(bool library, const std::vector<std::string>& moduleNames) {
  // FNV-1a over the kind and the names, each ended by a zero byte.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  auto add = [&hash](std::string_view text) {
    for (unsigned char c : text) hash = (hash ^ c) * 0x100000001b3ULL;
    hash = hash * 0x100000001b3ULL; // the terminating zero
  };
  add(library ? "library" : "program");
  for (const auto& name : moduleNames) add(name);
  return fmt::format("{:016x}", hash);
}

bool isolateProduct(std::string& text, const std::string& token, const std::string& sharedName,
                    bool sharedModule) {
  const std::string importCall = "PyImport_ImportModule(\"" + sharedName + "\")";
  auto abi = text.find(abiModuleName);
  if (abi == std::string::npos || count(text, abiModuleName) != 1) return false;
  auto abiEnd = abi + abiModuleName.size();
  if (abiEnd >= text.size() || text[abiEnd] != '\n') return false;
  std::size_t recordAt = std::string::npos;
  if (sharedModule) {
    auto call = text.find(sharedExportCall);
    if (call == std::string::npos || count(text, sharedExportCall) != 1) return false;
    recordAt = text.find('\n', call);
    if (recordAt == std::string::npos) return false;
  }

  // From the end backwards, so that the places found stay valid.
  if (sharedModule) text.insert(recordAt + 1, sharedModuleRecord.substr(1));
  const bool imports = text.find(importCall, abiEnd) != std::string::npos;
  std::string block(sharedModuleDeclaration);
  if (sharedModule) block += sharedModuleDefinition;
  if (imports) {
    block += fmt::format(fmt::runtime(importSharedFunction), sharedName);
    for (auto at = text.find(importCall, abiEnd); at != std::string::npos;
         at = text.find(importCall, at))
      text.replace(at, importCall.size(), "__Pyx_qvx_ImportShared()");
  }
  text.insert(abiEnd + 1, block);
  text.insert(abiEnd, " \"_qvx" + token + "\"");
  return true;
}

} // namespace quorvex::compiler
