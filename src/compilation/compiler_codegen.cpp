// Phase 2 of `compile`: the Cython runs, the bootstrap and header renders, the splice and the
// package bootstraps.
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"
#include "compilation/paths.hpp"
#include "compilation/pxd_stubs.hpp"
#include "compilation/textfile.hpp"

#include "compilation/batches.hpp"
#include "compilation/huge_functions.hpp"
#include "compilation/jobs.hpp"

#include "bootstrap/templates.hpp"
#include "core/log.hpp"
#include "core/utf8.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <cstdlib>

#include <filesystem>
#include <cctype>
#include <string_view>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;
using nlohmann::json;

namespace quorvex::compiler {

namespace {

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
// function through its own `moduleSymbol`, and the module's "is main" flag goes the same way.
// Functions too large to optimise in reasonable time are marked to be compiled without.
void finishModuleC(const fs::path& cFile, const std::string& name) {
  const std::string symbol = moduleSymbol(name);
  const std::string init = "PyInit_" + name.substr(name.rfind('.') + 1);
  const std::string_view isMain = "__pyx_module_is_main_";
  std::string text = renameIdentifiers(readText(cFile), [&](std::string_view word)
                                           -> std::optional<std::string> {
    if (word == init) return "PyInit_" + symbol;
    if (word.starts_with(isMain)) return std::string(isMain) + symbol;
    return std::nullopt;
  });
  markHugeFunctionsUnoptimised(text);
  writeText(cFile, text);
}

// One module of a translation batch.
struct BatchModule {
  std::string name;
  fs::path source;
  fs::path cFile;
};

// One Cython interpreter's work: the modules of a batch one after the other, or, without
// modules, the one run whose output is `what`.
struct Translation {
  utils::PythonCommand command;
  std::vector<BatchModule> modules;
  std::string what;
};

// The modules to rebuild dealt into batches, one interpreter each, so that starting Python
// and importing Cython is paid a few times rather than once per module; with the bootstrap's
// run they make one run per core. Each module is translated under its dotted name, so that it
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
  common.push_back("--modules");

  std::vector<BatchModule> modules;
  std::vector<std::uintmax_t> sizes;
  std::size_t next = 0;
  for (const auto& module : plan.modules) {
    if (!module.rebuilt) continue;
    const fs::path& source = sources.at(next++);
    modules.push_back({module.name, source, plan.modBuildPath / (module.fileStem + ".c")});
    std::error_code ignored;
    auto size = fs::file_size(source, ignored);
    sizes.push_back(ignored ? 0 : size);
  }
  std::vector<Translation> runs;
  for (const auto& batch : dealIntoBatches(sizes, std::max<std::size_t>(jobCount(), 2) - 1)) {
    std::vector<std::string> args = common;
    Translation run{{}, {}, {}};
    for (std::size_t index : batch) {
      const BatchModule& module = modules[index];
      args.insert(args.end(), {"--module-name", module.name, "--output-file",
                               module.cFile.string(), module.source.string()});
      run.modules.push_back(module);
    }
    run.command = utils::pythonCommand(context, cythonCommand(context, args));
    runs.push_back(std::move(run));
  }
  return runs;
}

// The driver's output less its lines "translated <C file> in <seconds> s", whose times go
// into `seconds` by C file.
std::string takeReportedTimes(const std::string& output, std::map<std::string, double>& seconds) {
  constexpr std::string_view head = "translated ", middle = " in ", tail = " s";
  std::string rest;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    std::string_view line(output.data() + at, end - at);
    auto split = line.rfind(middle);
    bool report = line.starts_with(head) && line.ends_with(tail) && split != std::string::npos;
    if (report) {
      std::string number(line.substr(split + middle.size(),
                                     line.size() - split - middle.size() - tail.size()));
      char* stop = nullptr;
      double value = std::strtod(number.c_str(), &stop);
      report = !number.empty() && stop == number.c_str() + number.size();
      if (report) seconds[std::string(line.substr(head.size(), split - head.size()))] = value;
    }
    if (!report) rest.append(line).append("\n");
    at = end + 1;
  }
  return rest;
}

// Runs one batch. A stale C file must not stand for a module that fails now: each is removed
// first, and the driver writes one only for a module that translated. The error of a failed
// batch names its failed modules.
void translateBatch(const Translation& run, std::vector<double>& seconds) {
  for (const auto& module : run.modules) removeFile(module.cFile);
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  const process::Result result =
      run.command.outcome(utils::commandTimeout * static_cast<int>(run.modules.size()));
  const double batchSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::map<std::string, double> reported;
  const std::string log = takeReportedTimes(
      utf8::normaliseLineEnds(utf8::decodeReplace(result.output)), reported);
  std::vector<std::string> failed;
  for (std::size_t i = 0; i < run.modules.size(); ++i) {
    const BatchModule& module = run.modules[i];
    if (!fs::exists(module.cFile)) {
      failed.push_back(module.name + " (" + module.source.string() + ")");
      continue;
    }
    finishModuleC(module.cFile, module.name);
    auto time = reported.find(module.cFile.string());
    seconds[i] = time == reported.end() ? 0 : time->second;
  }
  // Starting the interpreter and importing Cython counts to the first module, whose C file
  // could be there no sooner.
  double startUp = batchSeconds;
  for (double time : seconds) startUp -= time;
  seconds[0] += std::max(startUp, 0.0);
  if (!failed.empty()) {
    std::string names;
    for (const auto& name : failed) names += (names.empty() ? "" : ", ") + name;
    throw std::runtime_error("Cython could not translate " +
                             std::string(failed.size() == 1 ? "module " : "modules ") + names +
                             "\nlog: " + log);
  }
  if (!result.ok()) throw std::runtime_error("Command failed: " + run.command.text + "\nlog: " + log);
}

// Runs the translations side by side; each module's translation is logged at DEBUG with its
// time when its run ends.
void translateAll(const std::vector<Translation>& runs) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<std::vector<double>> seconds(runs.size());
  std::vector<std::function<void()>> tasks;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    seconds[i].resize(std::max<std::size_t>(runs[i].modules.size(), 1));
    tasks.push_back([&runs, &seconds, i] {
      if (!runs[i].modules.empty()) return translateBatch(runs[i], seconds[i]);
      auto start = Clock::now();
      runs[i].command.run();
      seconds[i][0] = std::chrono::duration<double>(Clock::now() - start).count();
    });
  }
  runJobs(tasks, jobCount(), [&](std::size_t i) {
    auto& logger = log::getLogger("quorvex.compiler");
    if (runs[i].modules.empty()) logger.debug("translated {} in {:.2f} s", runs[i].what, seconds[i][0]);
    for (std::size_t m = 0; m < runs[i].modules.size(); ++m)
      logger.debug("translated {} in {:.2f} s", runs[i].modules[m].cFile.string(), seconds[i][m]);
  });
  std::size_t modules = 0;
  for (const auto& run : runs) modules += run.modules.size();
  log::getLogger("quorvex.compiler")
      .debug("translation: {} modules in {} Cython runs, {:.2f} s", modules, runs.size(),
             std::chrono::duration<double>(Clock::now() - start).count());
}

// The bootstrap's table: each module's dotted name and the symbol of its init function.
json moduleTable(const SourcePlan& plan) {
  json table = json::array();
  for (const auto& module : plan.modules)
    table.push_back(json::array({module.name, moduleSymbol(module.name)}));
  return table;
}

} // namespace

void generateSources(Context& context, SourcePlan& plan, const fs::path& sourcePath,
                     const std::optional<std::string>& mainModule, bool library,
                     const std::optional<std::string>& /*projectMainModule*/) {
  const fs::path& modBuildPath = plan.modBuildPath;
  json extensions = templateExtensions(context.plugins);

  fs::path sharedPath = modBuildPath / (sharedName + ".c");
  auto start = std::chrono::steady_clock::now();
  cythonCall(context, {"--generate-shared", sharedPath.string(), "--module-name", sharedName});
  log::getLogger("quorvex.compiler")
      .debug("translated {} in {:.2f} s", sharedPath.string(),
             std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  patchSharedModule(sharedPath);
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
                    {"debug", false}});
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
  translateAll(runs);

  if (!fs::exists(bootstrapC))
    throw fs::filesystem_error("Expected generated file not found: " + bootstrapC.string() +
                                   ". Cython invocation likely did not run correctly.",
                               std::make_error_code(std::errc::no_such_file_or_directory));
  nameBootstrapLikeTheImportSystem(bootstrapC);
  if (!library) patchEmbeddedBootstrap(context.plugins, bootstrapC);
  plan.cSources.push_back(bootstrapC);
}

} // namespace quorvex::compiler
