// Phase 1 of `compile`: the module build directory, the platform's suffixes and extra
// sources, the matched modules in module order and the rebuild decision.
#include "compilation/compiler.hpp"
#include "compilation/paths.hpp"
#include "compilation/pipeline.hpp"

#include "core/glob.hpp"
#include "core/punycode.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <fmt/format.h>
#include <optional>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

bool isAncestorOrSelf(const fs::path& ancestor, const fs::path& path) {
  auto a = ancestor.begin(), p = path.begin();
  for (; a != ancestor.end(); ++a, ++p) {
    if (a->empty()) continue; // a trailing separator
    if (p == path.end() || *a != *p) return false;
  }
  return true;
}

// The object file of a module is up to date only when strictly newer than its source.
bool needsRebuild(const fs::path& objPath, const fs::path& source) {
  std::error_code ec;
  if (!fs::exists(objPath, ec)) return true;
  return fs::last_write_time(objPath) <= fs::last_write_time(source);
}

// Two files giving one dotted name (m.py beside m.pyx, or beside a package m/), or a module
// named like a package, would be one name served twice.
void requireUniqueNames(const std::vector<ModuleSource>& modules,
                        const std::vector<std::string>& packages) {
  std::map<std::string, fs::path> seen;
  for (const auto& module : modules)
    if (auto [at, added] = seen.emplace(module.name, module.source); !added)
      throw std::invalid_argument("Two modules named " + module.name + ": " +
                                  at->second.string() + " and " + module.source.string());
  for (const auto& package : packages)
    if (auto at = seen.find(package);
        at != seen.end() && at->second.stem() != "__init__")
      throw std::invalid_argument("The module " + at->second.string() +
                                  " has the name of the package " + package +
                                  " (module names must differ from package names)");
}

// The dotted name of `file` below `root`: its directories, then its stem unless it is the
// package's own "__init__" file.
std::vector<std::string> nameParts(const fs::path& root, const fs::path& file) {
  std::vector<std::string> parts;
  for (const auto& part : pathlibForm(file.parent_path()).lexically_relative(pathlibForm(root)))
    if (part != "." && !part.empty()) parts.push_back(part.string());
  if (file.stem() != "__init__") parts.push_back(file.stem().string());
  return parts;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
  std::string name;
  for (std::size_t i = 0; i < count; ++i) name += (i ? "." : "") + parts[i];
  return name;
}

// The files below `root` that `pattern` names, each joined with `root`. Directories are no
// sources; a pattern naming the root itself (the build passes "." for a "**" source pattern)
// or a missing file yields nothing.
std::vector<fs::path> sourceFiles(const fs::path& root, const std::string& pattern) {
  if (!pattern.empty() && (pattern.front() == '/' || fs::path(pattern).is_absolute()))
    throw std::invalid_argument("Non-relative patterns are unsupported: " + pattern);
  std::vector<fs::path> files;
  if (pathlibForm(pattern) == ".") return files;
  for (const auto& match : glob::glob(root, pattern)) {
    fs::path file = joinPath(root, match);
    std::error_code ec;
    const auto status = fs::status(file, ec);
    if (!ec && fs::exists(status) && !fs::is_directory(status)) files.push_back(std::move(file));
  }
  return files;
}

} // namespace

namespace {

// A non-ASCII name part in ASCII as Cython writes it: its punycode, with "_" for "-". Unambiguous,
// since the encoded digits after the last "-" hold no "_".
std::string punycodePart(const std::string& part) {
  std::string encoded = punycode::encode(part);
  std::replace(encoded.begin(), encoded.end(), '-', '_');
  return encoded;
}

bool isCNameCharacter(unsigned char c) {
  return c >= 0x80 || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9');
}

// A name part that the import system reaches but that is no identifier ("0001_initial",
// "unicode-data"), as the Cython driver writes it into C names: each ASCII character that C
// does not take as "_xx_" (its code in hex).
std::string cSafePart(const std::string& part) {
  std::string safe;
  for (const char c : part) {
    if (isCNameCharacter(static_cast<unsigned char>(c))) safe += c;
    else safe += fmt::format("_{:02x}_", static_cast<unsigned char>(c));
  }
  return safe;
}

bool isIdentifierPart(const std::string& part) {
  return !part.empty() && !(part.front() >= '0' && part.front() <= '9') &&
         std::all_of(part.begin(), part.end(),
                     [](char c) { return isCNameCharacter(static_cast<unsigned char>(c)); });
}

} // namespace

std::string moduleSymbol(const std::string& name) {
  // Each part with its length before it: "a.b_c" and "a_b.c" stay apart. A non-ASCII part is
  // "U", then the length and the part in punycode: a plain part starts with its length's digit.
  // A part that is no identifier is "N", its C-safe form's length, "_" and that form, whose
  // leading digits the "_" keeps apart from the length.
  std::string symbol = "qvx_";
  std::size_t start = 0;
  while (true) {
    std::size_t end = name.find('.', start);
    std::string part = name.substr(start, end == std::string::npos ? end : end - start);
    if (!isIdentifierPart(part)) {
      part = cSafePart(part);
      if (!punycode::isAscii(part)) part = punycodePart(part);
      symbol += "N" + std::to_string(part.size()) + "_" + part;
    } else {
      if (!punycode::isAscii(part)) {
        part = punycodePart(part);
        symbol += "U";
      }
      symbol += std::to_string(part.size()) + part;
    }
    if (end == std::string::npos) return symbol;
    start = end + 1;
  }
}

std::string cythonInitFunction(const std::string& name) {
  std::string last = cSafePart(name.substr(name.rfind('.') + 1));
  return punycode::isAscii(last) ? "PyInit_" + last : "PyInitU_" + punycodePart(last);
}

std::optional<ModuleSource> moduleOf(const fs::path& root, const fs::path& file) {
  const std::vector<std::string> parts = nameParts(root, file);
  if (parts.empty()) return std::nullopt; // an "__init__" file directly in the source root
  ModuleSource module;
  module.name = joined(parts, parts.size());
  module.source = file;
  module.fileStem = module.name + (file.stem() == "__init__" ? ".__init__" : "");
  return module;
}

fs::path relativeBuildPlace(const fs::path& cwd, const fs::path& resolvedSource) {
  if (isAncestorOrSelf(cwd, resolvedSource))
    return pathlibForm(resolvedSource.lexically_relative(cwd));
  fs::path source = pathlibForm(resolvedSource);
  fs::path parentName = source.parent_path().filename();
  if (parentName.empty() || parentName == source.root_path()) return source.filename();
  return parentName / source.filename();
}

SourcePlan discoverSources(Context& context, const fs::path& sourcePath,
                           const std::optional<std::string>& exeName,
                           const std::vector<fs::path>& sources, bool force) {
  SourcePlan plan;
  fs::path cwd = fs::current_path();
  fs::path resolvedSource = fs::canonical(fs::absolute(sourcePath));
  fs::path relPath = relativeBuildPlace(cwd, resolvedSource);
  plan.modBuildPath = joinPath(pathlibForm(context.buildPath()), relPath);
  fs::create_directories(plan.modBuildPath);

  auto basics = context.plugins.getCompileBasics();
  if (!basics) throw std::runtime_error("No plug-in answered the hook getCompileBasics");
  if (!basics->objSuffix)
    throw std::runtime_error("The answer of the hook getCompileBasics has no objSuffix");
  plan.objSuffix = *basics->objSuffix;
  plan.exeSuffix = basics->exeSuffix;

  auto extra = context.plugins.getExtraSources(plan.modBuildPath, exeName);
  if (!extra) throw std::runtime_error("No plug-in answered the hook getExtraSources");
  plan.cSources = *extra;

  fs::path root = pathlibForm(sourcePath);
  std::set<fs::path> sourceSet;
  for (const auto& pattern : sources)
    for (auto& file : sourceFiles(root, pattern.generic_string())) sourceSet.insert(file);
  std::vector<fs::path> matched(sourceSet.begin(), sourceSet.end());
  std::sort(matched.begin(), matched.end(), pathLess);

  std::set<std::string> packageSet;
  for (const auto& filePath : matched) {
    std::optional<ModuleSource> found = moduleOf(root, filePath);
    if (!found) continue;
    ModuleSource module = std::move(*found);
    const std::vector<std::string> parts = nameParts(root, filePath);
    std::size_t packageDepth = filePath.stem() == "__init__" ? parts.size() : parts.size() - 1;
    for (std::size_t depth = 1; depth <= packageDepth; ++depth)
      if (std::string package = joined(parts, depth); packageSet.insert(package).second)
        plan.packages.push_back(package);
    fs::path objPath = plan.modBuildPath / (module.fileStem + plan.objSuffix);
    module.rebuilt = force || needsRebuild(objPath, filePath);
    if (module.rebuilt) plan.cSources.push_back(plan.modBuildPath / (module.fileStem + ".c"));
    plan.objects.push_back(objPath);
    plan.modules.push_back(std::move(module));
  }
  requireUniqueNames(plan.modules, plan.packages);
  return plan;
}

} // namespace quorvex::compiler
