#include "frontend/reserved_modules.hpp"

#include "frontend/build_checks.hpp"

#include <array>
#include <cctype>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace quorvex::builder {

namespace {

// The modules that the start-up and Cython enter into sys.modules, by their short names.
constexpr std::array<std::pair<std::string_view, std::string_view>, 4> productModules{{
    {"_qvx_bootstrap", "the start-up module"},
    {"_qvx_shared", "the module of Cython's shared functions"},
    {"quorvex_runtime", "the run-time API module"},
    {"cython_runtime", "Cython's run-time module"},
}};

std::optional<std::string> productModuleUse(std::string_view shortName) {
  for (const auto& [name, use] : productModules)
    if (shortName == name) return std::string(use);
  return std::nullopt;
}

// Cython's module of shared types is "_cython_" followed by its version ("_cython_3_3_0").
bool isCythonTypesModule(std::string_view name) {
  constexpr std::string_view prefix = "_cython_";
  return name.starts_with(prefix) && name.size() > prefix.size() &&
         std::isdigit(static_cast<unsigned char>(name[prefix.size()]));
}

} // namespace

std::optional<std::string> reservedModuleUse(const std::string& name, bool library) {
  const auto dot = name.find('.');
  const std::string_view top = std::string_view(name).substr(0, dot);
  if (dot == std::string::npos) {
    if (auto use = productModuleUse(top)) return use;
    if (isCythonTypesModule(top)) return "Cython's module of shared types";
    if (top.starts_with("_qvx_")) return "the tool's own modules (a library's private package)";
    if (!library && top == "quorvex")
      return "the package that a program's top-level modules belong to";
    return std::nullopt;
  }
  const std::string_view last = std::string_view(name).substr(name.rfind('.') + 1);
  const bool belowTopLevel = name.find('.', dot + 1) == std::string::npos;
  // A program enters the run-time API module below every package; a library its start-up,
  // shared and run-time API modules below its top-level packages.
  if (!library) return last == "quorvex_runtime" ? productModuleUse(last) : std::nullopt;
  if (!belowTopLevel || last == "cython_runtime") return std::nullopt;
  return productModuleUse(last);
}

void checkReservedModuleNames(const std::vector<std::filesystem::path>& sources, bool library) {
  for (const auto& source : sources) {
    const std::optional<std::string> name = moduleNameOf(source);
    if (!name) continue;
    if (auto use = reservedModuleUse(*name, library))
      throw std::invalid_argument(
          "The project module '" + *name + "' (" + source.generic_string() +
          ") has a name that the " + (library ? "library" : "program") + " keeps for " + *use +
          ", which would take its place when it runs; rename it");
  }
}

} // namespace quorvex::builder
