#include "frontend/build_checks.hpp"

#include "frontend/reserved_modules.hpp"

#include "bootstrap/templates.hpp"
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"
#include "core/context.hpp"
#include "core/host.hpp"
#include "core/interpreter.hpp"
#include "core/process.hpp"

#include <algorithm>
#include <array>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::builder {

namespace {

// The policies whose platform tags an executable's wheel can be given.
constexpr std::array<const char*, 2> knownPolicies{"manylinux_2_28", "musllinux_1_2"};

bool isIdentifier(const std::string& word) {
  if (word.empty() || (word.front() >= '0' && word.front() <= '9')) return false;
  // Bytes of non-ASCII letters are let through: Python accepts such identifiers.
  return std::all_of(word.begin(), word.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x80 || c == '_' || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9');
  });
}

bool isDottedName(const std::string& name) {
  std::string::size_type start = 0;
  for (;;) {
    const auto dot = name.find('.', start);
    if (!isIdentifier(name.substr(start, dot - start))) return false;
    if (dot == std::string::npos) return true;
    start = dot + 1;
  }
}

// Whether a pattern's `..` components climb above the directory it starts from. A `**` may
// stand for no directory at all, so it counts as none.
bool leavesBase(const std::string& pattern) {
  const bool windows = host::platform() == "win32";
  int depth = 0;
  std::string component;
  for (std::size_t i = 0; i <= pattern.size(); ++i) {
    const bool end = i == pattern.size() || pattern[i] == '/' || (windows && pattern[i] == '\\');
    if (!end) {
      component += pattern[i];
      continue;
    }
    if (component == "..") {
      if (--depth < 0) return true;
    } else if (!component.empty() && component != "." && component != "**") {
      ++depth;
    }
    component.clear();
  }
  return false;
}

// Module names of the source files, in order, each once.
std::vector<std::string> moduleNames(const fs::path& base, const std::vector<fs::path>& sources) {
  std::vector<std::string> names;
  for (const auto& source : sources) {
    std::error_code ec;
    if (!fs::is_regular_file(base / source, ec)) continue;
    if (auto name = moduleNameOf(source);
        name && std::find(names.begin(), names.end(), *name) == names.end())
      names.push_back(*name);
  }
  return names;
}

std::string listed(std::vector<std::string> names) {
  if (names.empty()) return "(none)";
  std::sort(names.begin(), names.end());
  constexpr std::size_t shown = 12;
  std::string text;
  for (std::size_t i = 0; i < names.size() && i < shown; ++i)
    text += (i ? ", " : "") + names[i];
  if (names.size() > shown) text += ", ...";
  return text;
}

void checkMainModule(const cli::BuildArguments& args, const std::vector<std::string>& modules) {
  const std::string& main = args.mainModule;
  const bool found = std::any_of(modules.begin(), modules.end(), [&](const std::string& name) {
    // A library may be named by the package that holds its modules.
    return name == main || (args.library && name.starts_with(main + "."));
  });
  if (found) return;
  const std::string sources = " (modules of the sources: " + listed(modules) + ")";
  const bool fileName = main.find('/') != std::string::npos || main.ends_with(".py") ||
                        main.ends_with(".pyx");
  if (fileName) {
    const std::optional<std::string> name = moduleNameOf(main);
    throw std::invalid_argument("The main module '" + main + "' is a file name; give its module " +
                                (name ? "name, '" + *name + "'" : "name") + sources);
  }
  if (!isDottedName(main))
    throw std::invalid_argument("The main module '" + main +
                                "' is not a dotted module name (such as app or pkg.app)" +
                                sources);
  throw std::invalid_argument("The main module '" + main + "' is not among the sources" +
                              sources);
}

// A program's start-up imports these before the program's own modules can be found, so a
// project module of one of these names would never be loaded.
void checkShadowedModules(const fs::path& base, const std::vector<fs::path>& sources,
                          const std::function<std::set<std::string>()>& startupModules) {
  std::set<std::string> startup;
  bool asked = false;
  for (const auto& source : sources) {
    std::error_code ec;
    std::optional<std::string> name = moduleNameOf(source);
    if (!name || !fs::is_regular_file(base / source, ec)) continue;
    if (!asked) {
      startup = startupModules();
      asked = true;
    }
    const std::string top = name->substr(0, name->find('.'));
    if (startup.contains(top))
      throw std::invalid_argument(
          "The project module '" + top + "' (" + source.generic_string() +
          ") has the name of a module that the program's start-up imports before the "
          "project's modules can be found, so the program would use that module instead; "
          "rename it");
  }
}

// The wheel's directory is made when the wheel is placed: a file at its place, or at the place
// of one of its parents, would stop the run only after the whole build.
void checkWheelDirectory(const fs::path& directory) {
  for (fs::path at = directory; !at.empty(); at = at.parent_path()) {
    std::error_code ec;
    const fs::file_status status = fs::status(at, ec);
    if (ec == std::errc::filename_too_long)
      throw std::invalid_argument("The wheel directory '" + directory.string() +
                                  "' (--wheel) cannot be made: " + ec.message());
    if (!fs::exists(status)) {
      if (at == at.parent_path()) return;
      continue;
    }
    if (fs::is_directory(status)) return;
    throw std::invalid_argument(
        "The wheel directory '" + directory.string() + "' (--wheel) " +
        (at == directory ? std::string("is an existing file, not a directory")
                         : "cannot be made: '" + at.string() + "' is a file, not a directory"));
  }
}

// A path relative to the build directory as the host's file systems compare it: without case on
// Windows and macOS.
std::string comparable(const fs::path& path) {
  std::string text = path.lexically_normal().generic_string();
  while (text.ends_with('/')) text.pop_back();
  if (host::platform() == "win32" || host::platform() == "darwin")
    for (char& c : text)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// Whether one of two such paths is the other or lies inside it.
bool overlap(const std::string& a, const std::string& b) {
  const std::string& shorter = a.size() <= b.size() ? a : b;
  const std::string& longer = a.size() <= b.size() ? b : a;
  return longer.starts_with(shorter) &&
         (longer.size() == shorter.size() || longer[shorter.size()] == '/');
}

} // namespace

void checkProductPlace(Context& context, const cli::BuildArguments& args,
                       const std::vector<fs::path>& sources, const std::string& exeName,
                       const fs::path& buildPath) {
  std::vector<compiler::BuildEntry> entries = compiler::compileEntries(context, args.base, sources);
  entries.push_back({".gitignore", "the build directory's .gitignore"});
  entries.push_back({"build.lock", "the lock that makes builds in it take turns"});
  if (args.wheel || (args.embed && args.library))
    entries.push_back({"wrk", "the work directory of the wheel"});
  if (args.embed) {
    entries.push_back({"uv-project", "the copy of the project file that uv exports from"});
    entries.push_back({"requirements.txt", "the requirements exported for the embedded "
                                           "directory"});
  }
  const fs::path product =
      compiler::productPath(context.plugins, exeName, args.library, buildPath);
  // File names have at most 255 bytes, and the product is linked under a longer temporary name.
  constexpr std::size_t maxName = 200;
  if (const std::string name = product.filename().string(); name.size() > maxName)
    throw std::invalid_argument("The " + std::string(args.library ? "library" : "program") +
                                "'s file name '" + name.substr(0, 40) + "...' has " +
                                std::to_string(name.size()) + " bytes, more than the " +
                                std::to_string(maxName) +
                                " a build can link; give it a shorter name with --exe");
  const std::string place = comparable(product.lexically_relative(buildPath));
  const std::string kind = args.library ? "library" : "program";
  const auto refuse = [&](const std::string& why) {
    throw std::invalid_argument("The " + kind + " would be written to '" + product.string() +
                                "', " + why + "; give it another name with --exe");
  };
  for (const compiler::BuildEntry& entry : entries) {
    const std::string taken = comparable(entry.path);
    if (!overlap(place, taken)) continue;
    refuse("where the build keeps " + entry.what +
           (place == taken ? "" : " ('" + (buildPath / entry.path).string() + "')"));
  }
  std::error_code ec;
  if (fs::is_directory(fs::symlink_status(product, ec)))
    refuse("which is a directory");
}

namespace {

std::optional<std::vector<std::string>> nameParts(const fs::path& source) {
  const fs::path normal = source.lexically_normal();
  std::vector<std::string> parts;
  for (const auto& part : normal) parts.push_back(part.string());
  if (parts.empty() || parts.back().empty()) return std::nullopt;
  parts.back() = normal.stem().string();
  if (parts.back() == "__init__") parts.pop_back();
  if (parts.empty()) return std::nullopt;
  return parts;
}

std::optional<std::string> joinedName(const fs::path& source,
                                      const std::function<bool(const std::string&)>& valid) {
  const std::optional<std::vector<std::string>> parts = nameParts(source);
  if (!parts) return std::nullopt;
  std::string name;
  for (const auto& part : *parts) {
    if (!valid(part)) return std::nullopt;
    name += (name.empty() ? "" : ".") + part;
  }
  return name;
}

} // namespace

std::optional<std::string> moduleNameOf(const fs::path& source) {
  return joinedName(source, isIdentifier);
}

std::optional<std::string> importableNameOf(const fs::path& source) {
  // The import system looks a name's last part up as a file or directory name: any text
  // without a dot is found ("import_module('m.0001_initial')").
  return joinedName(source, [](const std::string& part) {
    return !part.empty() && part.find('.') == std::string::npos;
  });
}

std::set<std::string> startupModules(Context& context, bool withStartUpCode) {
  // The start-up's own module-level import statements, run after the interpreter has noted
  // what it loaded by itself; those of the block for extension code only with such code.
  std::string script = "import sys\n_loaded = set(sys.modules)\n";
  std::istringstream lines{std::string(templates::bootstrapTemplate)};
  bool inStartUpCodeBlock = false;
  for (std::string line; std::getline(lines, line);) {
    if (line == "{{if code or exports}}") inStartUpCodeBlock = true;
    else if (line == "{{endif}}") inStartUpCodeBlock = false;
    if ((line.starts_with("import ") || line.starts_with("from ")) &&
        line.find("{{") == std::string::npos && (withStartUpCode || !inStartUpCodeBlock))
      script += line + "\n";
  }
  script += "print('\\n@@startup@@', *sorted({n.partition('.')[0] for n in sys.modules"
            " if n not in _loaded}))\n";

  const fs::path program = context.interpreter().program;
  // Isolated: modules in the working directory must not stand in for the standard ones.
  process::Result result = process::run({program.string(), "-I", "-c", script},
                                        {.timeout = std::chrono::seconds(120)});
  const std::string marker = "\n@@startup@@";
  const auto at = result.output.rfind(marker);
  if (!result.ok() || at == std::string::npos)
    throw std::runtime_error("Asking the build interpreter '" + program.string() +
                             "' which modules a program's start-up imports failed:\n" +
                             result.output);
  std::set<std::string> names;
  std::istringstream words(result.output.substr(at + marker.size()));
  for (std::string word; words >> word;) names.insert(word);
  return names;
}

void checkSourceOptions(const cli::BuildArguments& args) {
  std::error_code ec;
  const fs::file_status base = fs::status(args.base, ec);
  if (!fs::exists(base))
    throw std::invalid_argument("The base directory '" + args.base.string() +
                                "' (--base) does not exist");
  if (!fs::is_directory(base))
    throw std::invalid_argument("The base directory '" + args.base.string() +
                                "' (--base) is not a directory");
  for (const std::string& pattern : args.sources)
    if (leavesBase(pattern))
      throw std::invalid_argument("The source pattern '" + pattern +
                                  "' leaves the base directory '" + args.base.string() +
                                  "'; sources must lie inside it (see --base)");
  if (args.wheel) checkWheelDirectory(*args.wheel);
  if (args.policy && std::find(knownPolicies.begin(), knownPolicies.end(), *args.policy) ==
                         knownPolicies.end())
    throw std::invalid_argument("Unknown --policy '" + *args.policy + "': choose " +
                                knownPolicies[0] + " or " + knownPolicies[1]);
}

void checkBeforeCompiling(const cli::BuildArguments& args, const std::vector<fs::path>& sources,
                          const std::function<std::set<std::string>()>& startupModules) {
  checkMainModule(args, moduleNames(args.base, sources));
  checkReservedModuleNames(sources, args.library);
  if (!args.library) checkShadowedModules(args.base, sources, startupModules);
}

} // namespace quorvex::builder
