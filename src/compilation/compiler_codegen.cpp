// Phase 2 of `compile`: the Cython runs, the bootstrap and header renders, the splice and the
// package bootstraps.
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"
#include "compilation/paths.hpp"
#include "compilation/product_isolation.hpp"
#include "compilation/pxd_stubs.hpp"
#include "compilation/textfile.hpp"

#include "compilation/huge_functions.hpp"
#include "compilation/jobs.hpp"
#include "compilation/translation.hpp"

#include "bootstrap/templates.hpp"
#include "core/log.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <chrono>
#include <functional>

#include <filesystem>
#include <cctype>
#include <string_view>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace quorvex::compiler {

namespace {

// The values of one extension mapping, each as text and followed by a new line.
std::string joinSnippets(const json& snippets) {
  if (!snippets.is_object())
    throw std::runtime_error("Template extension snippets must be a mapping, got " +
                             snippets.dump());
  std::string joined;
  for (const auto& value : snippets)
    joined += (value.is_string() ? value.get<std::string>() : value.dump()) + "\n";
  return joined;
}

json textList(const std::vector<std::string>& items) { return json(items); }

void writeOrRemove(const fs::path& path, const std::string& text, bool write) {
  if (write) writeText(path, text);
  else removeFile(path);
}

// Replaces every identifier of `text` for which `rename` gives a new name. Generated C files
// run to megabytes, so this is one linear scan rather than a regular expression.
template <typename Rename> std::string renameIdentifiers(const std::string& text, Rename rename) {
  auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    if (!isWord(text[i])) {
      out += text[i++];
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && isWord(text[end])) ++end;
    std::string_view word(text.data() + i, end - i);
    if (auto renamed = rename(word)) out += *renamed;
    else out.append(word);
    i = end;
  }
  return out;
}

// Cython names a module's init function after the module's last name part: two modules of one
// stem in different packages would define one symbol. The product calls each module's init
// function through its own `moduleSymbol`, and the module's "is main" flag goes the same way
// ("__pyx_module_is_main_" and the name, or "__pyx_module_is_mainU_" and its punycode).
// Functions too large to optimise in reasonable time are marked to be compiled without. The
// module keeps to its own product's shared code (`isolateProduct`).
void finishModuleC(const fs::path& cFile, const std::string& name, const std::string& product) {
  const std::string symbol = moduleSymbol(name);
  const std::string init = cythonInitFunction(name);
  const std::string_view isMain = "__pyx_module_is_main";
  std::string text = renameIdentifiers(readText(cFile), [&](std::string_view word)
                                           -> std::optional<std::string> {
    if (word == init) return "PyInit_" + symbol;
    if (word.starts_with(isMain)) return std::string(isMain) + "_" + symbol;
    return std::nullopt;
  });
  markHugeFunctionsUnoptimised(text);
  isolateProduct(text, product, sharedName, false);
  writeText(cFile, text);
}

// `isolateProduct` over a whole generated file.
void isolateFile(const fs::path& cFile, const std::string& product, bool sharedModule) {
  std::string text = readText(cFile);
  if (isolateProduct(text, product, sharedName, sharedModule)) writeText(cFile, text);
}

// The modules to rebuild in batches, one interpreter each, so that starting Python and
// importing Cython is paid a few times rather than once per module; with the bootstrap's run
// they make one run per core. Each module is translated under its dotted name, so that it
// carries its own package as `__package__` and its C file is named after the whole name.
// `sources` gives the file Cython reads for each module (a copy when the library's declarations
// are stubbed). The module build directory comes first on the include path: its
// `_qvx_bootstrap.pxd` is the one meant.
std::vector<Translation> moduleTranslations(Context& context, const SourcePlan& plan,
                                            const std::vector<fs::path>& sources) {
  std::set<fs::path> sourceDirs;
  for (const auto& source : sources) sourceDirs.insert(pathlibForm(source.parent_path()));
  sourceDirs.erase(plan.modBuildPath);
  std::vector<std::string> common = {"-I", plan.modBuildPath.string()};
  for (const auto& dir : sourceDirs) {
    common.push_back("-I");
    common.push_back(dir.string());
  }
  common.push_back("--shared");
  common.push_back(sharedName);
  std::vector<ModuleTranslation> modules;
  std::size_t next = 0;
  for (const auto& module : plan.modules)
    if (module.rebuilt)
      modules.push_back({module.name, sources.at(next++),
                         plan.modBuildPath / (module.fileStem + ".c")});
  return batchTranslations(context, common, modules, std::max<std::size_t>(jobCount(), 2) - 1);
}

// The bootstrap's table: each module's dotted name and the symbol of its init function.
json moduleTable(const SourcePlan& plan) {
  json table = json::array();
  for (const auto& module : plan.modules)
    table.push_back(json::array({module.name, moduleSymbol(module.name)}));
  return table;
}

} // namespace

json templateExtensions(plugin::PluginManager& manager) {
  json extensions = {{"pxd", json::object()},
                     {"code", json::object()},
                     {"features", json::object()},
                     {"exports", json::object()}};
  auto answer = manager.extendTemplate();
  if (!answer || answer->empty()) return extensions;
  if (!answer->is_object())
    throw std::runtime_error("The answer of the hook extendTemplate must be a mapping, got " +
                             answer->dump());
  for (const auto& [key, value] : answer->items()) extensions[key] = value;
  return extensions;
}

// As the bootstrap template tests it ("code or exports"): a snippet, even an empty one, joins
// into a non-empty text; null and an empty mapping are false.
bool hasStartUpCode(const json& extensions) {
  auto given = [&](const char* key) {
    return extensions.contains(key) && !extensions.at(key).empty();
  };
  return given("code") || given("exports");
}

void generateSources(Context& context, SourcePlan& plan, const fs::path& sourcePath,
                     const std::optional<std::string>& mainModule, bool library,
                     const std::optional<std::string>& /*projectMainModule*/) {
  const fs::path& modBuildPath = plan.modBuildPath;
  json extensions = templateExtensions(context.plugins);
  std::vector<std::string> moduleNames;
  for (const auto& module : plan.modules) moduleNames.push_back(module.name);
  const std::string product = productToken(library, moduleNames);

  fs::path sharedPath = modBuildPath / (sharedName + ".c");
  auto start = std::chrono::steady_clock::now();
  cythonCall(context, {"--generate-shared", sharedPath.string(), "--module-name", sharedName});
  log::getLogger("quorvex.compiler")
      .debug("translated {} in {:.2f} s", sharedPath.string(),
             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  patchSharedModule(sharedPath);
  isolateFile(sharedPath, product, true);
  plan.cSources.push_back(sharedPath);

  std::string code = joinSnippets(extensions["code"]);
  std::string pxd = joinSnippets(extensions["pxd"]);

  // Only in the build directory: a source directory may hold a file of that name of the user's.
  writeOrRemove(modBuildPath / "_qvx_bootstrap.pxd", pxd, !pxd.empty());

  fs::path bootstrapPyx = modBuildPath / "_qvx_bootstrap.pyx";
  utils::template_(context, std::string(templates::bootstrapTemplate), bootstrapPyx,
                   {{"modules", moduleTable(plan)},
                    {"library", library},
                    {"packages", textList(plan.packages)},
                    {"mainModule", mainModule ? json(*mainModule) : json(nullptr)},
                    {"code", code},
                    {"features", extensions["features"]},
                    {"exports", extensions["exports"]},
                    {"debug", false},
                    {"compiledTypes", std::string(templates::compiledTypesText)},
                    {"childProcesses", std::string(templates::childProcessesText)}});
  json symbols = json::array();
  for (const auto& module : plan.modules) symbols.push_back(moduleSymbol(module.name));
  utils::template_(context, std::string(templates::headerTemplate), modBuildPath / "__main__.h",
                   {{"symbols", symbols}});

  std::vector<fs::path> toTranslate;
  for (const auto& module : plan.modules)
    if (module.rebuilt) toTranslate.push_back(module.source);
  if (library)
    if (auto copies = stubbedCopies(sourcePath, toTranslate, modBuildPath / "_qvx_stubbed"))
      toTranslate = std::move(*copies);
  std::vector<Translation> runs = moduleTranslations(context, plan, toTranslate);

  fs::path bootstrapC = modBuildPath / "_qvx_bootstrap.c";
  std::vector<std::string> bootstrapArgs;
  if (library) {
    // Loaded by the wheel's package as its submodule "_qvx_bootstrap".
    bootstrapArgs = {"--shared", sharedName, "--output-file", bootstrapC.string(),
                     bootstrapPyx.string()};
  } else {
    bootstrapArgs = {"--embed", "--shared", sharedName, "--embed-modules", sharedName,
                     bootstrapPyx.string()};
  }
  runs.push_back({utils::pythonCommand(context, cythonCommand(context, bootstrapArgs)), {},
                  bootstrapC.string()});
  translateAll(runs, [&product](const ModuleTranslation& module) {
    finishModuleC(module.cFile, module.name, product);
  });

  if (!fs::exists(bootstrapC))
    throw fs::filesystem_error("Expected generated file not found: " + bootstrapC.string() +
                                   ". Cython invocation likely did not run correctly.",
                               std::make_error_code(std::errc::no_such_file_or_directory));
  nameBootstrapLikeTheImportSystem(bootstrapC);
  isolateFile(bootstrapC, product, false);
  if (!library) patchEmbeddedBootstrap(context.plugins, bootstrapC);
  plan.cSources.push_back(bootstrapC);
}

} // namespace quorvex::compiler
