// Phase 2 of `compile`: the Cython runs, the bootstrap and header renders, the splice and the
// package bootstraps.
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"
#include "compilation/paths.hpp"
#include "compilation/pxd_stubs.hpp"
#include "compilation/textfile.hpp"

#include "bootstrap/templates.hpp"
#include "core/utils.hpp"

#include <filesystem>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace quorvex::compiler {

namespace {

constexpr std::size_t batchSize = 20;
const std::string sharedName = "_qvx_shared";

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

json textList(const std::vector<std::string>& items) { return json(items); }

void writeOrRemove(const fs::path& path, const std::string& text, bool write) {
  if (write) writeText(path, text);
  else removeFile(path);
}

// Translates `sources` in batches, each with the same include and output arguments. The module
// build directory comes first on the include path: its `_qvx_bootstrap.pxd` is the one meant.
void runBatches(const std::vector<fs::path>& sources, const fs::path& modBuildPath) {
  std::set<fs::path> sourceDirs;
  for (const auto& source : sources) sourceDirs.insert(pathlibForm(source.parent_path()));
  sourceDirs.erase(modBuildPath);
  std::vector<std::string> common = {"-I", modBuildPath.string()};
  for (const auto& dir : sourceDirs) {
    common.push_back("-I");
    common.push_back(dir.string());
  }
  common.push_back("--output-file");
  common.push_back(modBuildPath.string());
  common.push_back("--shared");
  common.push_back(sharedName);
  for (std::size_t start = 0; start < sources.size(); start += batchSize) {
    std::vector<std::string> args = common;
    for (std::size_t i = start; i < sources.size() && i < start + batchSize; ++i)
      args.push_back(sources[i].string());
    cythonCall(args);
  }
}

} // namespace

void generateSources(plugin::PluginManager& manager, SourcePlan& plan, const fs::path& sourcePath,
                     const std::optional<std::string>& mainModule, bool library,
                     const std::optional<std::string>& projectMainModule) {
  const fs::path& modBuildPath = plan.modBuildPath;
  json extensions = templateExtensions(manager);

  fs::path sharedPath = modBuildPath / (sharedName + ".c");
  cythonCall({"--generate-shared", sharedPath.string(), "--module-name", sharedName});
  plan.cSources.push_back(sharedPath);

  std::string code = joinSnippets(extensions["code"]);
  std::string pxd = joinSnippets(extensions["pxd"]);

  // Only in the build directory: a source directory may hold a file of that name of the user's.
  writeOrRemove(modBuildPath / "_qvx_bootstrap.pxd", pxd, !pxd.empty());
  std::vector<fs::path> toTranslate = plan.pySources;
  if (library)
    if (auto copies = stubbedCopies(sourcePath, plan.pySources, modBuildPath / "_qvx_stubbed"))
      toTranslate = std::move(*copies);

  std::optional<std::string> entryPackage;
  std::optional<std::string> entryModule =
      projectMainModule && !projectMainModule->empty() ? projectMainModule : mainModule;
  if (library && entryModule && entryModule->find('.') != std::string::npos)
    entryPackage = entryModule->substr(0, entryModule->find('.'));

  std::vector<std::string> programModules = plan.modulesOf("");
  std::vector<std::string> topLevel = programModules;
  programModules.insert(programModules.end(), plan.packages.begin(), plan.packages.end());

  fs::path bootstrapPyx = modBuildPath / "_qvx_bootstrap.pyx";
  utils::template_(std::string(templates::bootstrapTemplate), bootstrapPyx,
                   {{"modules", textList(programModules)},
                    {"package", "__main__"},
                    {"packages", textList(plan.packages)},
                    {"qualifiedModules", textList(plan.qualifiedModules)},
                    {"mainModule", mainModule ? json(*mainModule) : json(nullptr)},
                    {"code", code},
                    {"features", extensions["features"]},
                    {"exports", extensions["exports"]},
                    {"debug", false}});
  utils::template_(std::string(templates::headerTemplate), modBuildPath / "__main__.h",
                   {{"modules", textList(topLevel)}, {"packages", textList(plan.packages)}});

  cythonCall({"--embed", "--shared", sharedName, "--embed-modules", sharedName,
              bootstrapPyx.string()});
  fs::path bootstrapC = modBuildPath / "_qvx_bootstrap.c";
  if (!fs::exists(bootstrapC))
    throw fs::filesystem_error("Expected generated file not found: " + bootstrapC.string() +
                                   ". Cython invocation likely did not run correctly.",
                               std::make_error_code(std::errc::no_such_file_or_directory));
  patchEmbeddedBootstrap(manager, bootstrapC);
  if (!library) plan.cSources.push_back(bootstrapC);

  for (const auto& package : plan.packages) {
    bool isEntry = library && entryPackage == package;
    std::vector<std::string> modules = plan.modulesOf(package);
    utils::template_(std::string(templates::bootstrapTemplate), modBuildPath / (package + ".pyx"),
                     {{"modules", textList(modules)},
                      {"package", package},
                      {"qualifiedModules", textList(plan.qualifiedModules)},
                      {"packages", json::array()},
                      {"code", isEntry ? code : std::string()},
                      {"features", isEntry ? extensions["features"] : json(nullptr)},
                      {"exports", isEntry ? extensions["exports"] : json(nullptr)},
                      {"debug", false},
                      {"mainModule", nullptr}});
    writeOrRemove(modBuildPath / (package + ".pxd"), pxd, isEntry && !code.empty());
    utils::template_(std::string(templates::headerTemplate), modBuildPath / (package + ".h"),
                     {{"modules", textList(modules)},
                      {"package", package},
                      {"packages", json::array()}});
    plan.pySources.push_back(modBuildPath / (package + ".pyx"));
    toTranslate.push_back(modBuildPath / (package + ".pyx"));
    plan.cSources.push_back(modBuildPath / (package + ".c"));
  }
  if (!toTranslate.empty()) runBatches(toTranslate, modBuildPath);
}

} // namespace quorvex::compiler
