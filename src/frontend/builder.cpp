#include "frontend/builder.hpp"

#include "compilation/compiler.hpp"
#include "compilation/pristine.hpp"
#include "core/glob.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"
#include "frontend/build_checks.hpp"
#include "frontend/build_lock.hpp"
#include "frontend/main_function.hpp"
#include "frontend/program_data.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_project_keys.hpp"
#include "packaging/whl_requirement.hpp"
#include "packaging/whl_specifier.hpp"

#include <stdexcept>
#include <system_error>

namespace quorvex::builder {

namespace fs = std::filesystem;

namespace {

log::Logger& logger() { return log::getLogger("quorvex.builder"); }

// A pattern as a Python list display shows a string: single quotes unless the text holds a
// single quote and no double one, with backslashes and control characters escaped.
std::string quoted(const std::string& text) {
  const bool useDouble =
      text.find('\'') != std::string::npos && text.find('"') == std::string::npos;
  const char quote = useDouble ? '"' : '\'';
  std::string out(1, quote);
  for (char c : text) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else if (c == '\t')
      out += "\\t";
    else if (c == quote)
      out += std::string("\\") + c;
    else
      out += c;
  }
  return out + quote;
}

// Build directories (this tool's, also those of projects below the base) and virtual
// environments hold Python files that belong to no project.
bool isForeignTree(const fs::path& directory) {
  std::error_code ec;
  return directory.filename() == ".quorvex_build" ||
         fs::is_regular_file(directory / "pyvenv.cfg", ec);
}

// The base directory as the wheel and embedding steps need it: absolute, links resolved.
fs::path resolved(const fs::path& directory) {
  return fs::weakly_canonical(fs::absolute(directory));
}

} // namespace

std::string _normalize_source_pattern(const std::string& pattern) {
  if (pattern.starts_with("**.")) return "**/*" + pattern.substr(2);
  return pattern;
}

std::vector<fs::path> matchSources(const fs::path& sourceDirectory,
                                   const std::vector<std::string>& patterns, bool library) {
  std::vector<fs::path> sources;
  std::vector<std::string> unmatched;
  for (const std::string& pattern : patterns) {
    std::vector<fs::path> matches =
        glob::glob(sourceDirectory, _normalize_source_pattern(pattern), isForeignTree);
    if (matches.empty()) unmatched.push_back(pattern);
    for (auto& match : matches) {
      // A package's __main__.py is not compiled into a library, at any depth (its wheel ships
      // the top package's one as source); an "__init__.py" in the base directory belongs to no
      // package and is not compiled.
      if (library && match.filename() == "__main__.py") continue;
      if (match == "__init__.py") continue;
      // A file such as "unicode10-0-0.py" or a migration's "0001_initial.py" is reached
      // through importlib by its file name alone. A program compiles it under a C name of its
      // own; a library's wheel ships it as source beside the compiled modules, where importlib
      // finds it. What no import reaches (a dot inside a file or directory name) a program
      // cannot carry.
      if (!library && !importableNameOf(match))
        throw std::invalid_argument("The source '" + match.generic_string() +
                                    "' has no Python module name (each part of its path must "
                                    "be an identifier), so a program cannot carry it");
      if (library && !moduleNameOf(match)) {
        logger().warning("The source '{}' has no Python module name: it is not compiled, and a "
                         "library's wheel ships it as source",
                         match.generic_string());
        continue;
      }
      sources.push_back(std::move(match));
    }
  }
  // With no sources at all the build stops; otherwise a mistyped pattern would drop its
  // modules in silence.
  if (!sources.empty())
    for (const std::string& pattern : unmatched)
      logger().warning("The source pattern {} matched no file in {}", quoted(pattern),
                       sourceDirectory.string());
  return sources;
}

std::string noSourcesMessage(const fs::path& sourceDirectory,
                             const std::vector<std::string>& patterns) {
  std::string list = "[";
  for (std::size_t i = 0; i < patterns.size(); ++i)
    list += (i == 0 ? "" : ", ") + quoted(patterns[i]);
  list += "]";
  return "No sources matched in " + sourceDirectory.string() + ".Patterns: " + list +
         ". If running in bash, quote globs like '*.py'.";
}

std::optional<whl::Project> checkPackagingInputs(const cli::BuildArguments& args,
                                                 const std::string& pythonVersion) {
  const bool wheel = args.wheel || (args.embed && args.library);
  if (!wheel && !args.embed) return std::nullopt;
  const fs::path base = resolved(args.base);
  const std::optional<fs::path> pyproject = whl::find_active_pyproject(base);
  if (!pyproject)
    throw std::runtime_error(
        std::string(args.embed ? "--embed" : "--wheel") + " needs a pyproject.toml at or above '" +
        base.string() + "'" +
        (wheel ? "; none was found, and " + std::string(whl::projectTableAdvice)
               : " (uv exports the project's dependencies from it); none was found"));
  // The embedded directory holds a copy of the build's Python: a project that excludes it
  // would fail only in uv, after the whole compilation. A wheel is left alone: a stable-ABI
  // library wheel serves the later Pythons a project may ask for, and an installer refuses a
  // wheel whose Requires-Python excludes its Python with a message of its own.
  const auto checkPython = [&](const toml::table& project) {
    if (args.embed)
      whl::checkRequiresPython(*pyproject, project, pythonVersion, "the embedded directory");
  };
  // Reading it now gives its errors (a missing name, a misspelt key, a dynamic version or
  // dependency, a value METADATA cannot carry, a readme that cannot be read or lies outside the
  // project, a bad dependency or entry point) before the compilation.
  if (wheel) {
    whl::Project project = whl::readProject(*pyproject, args.version);
    whl::checkDynamicFields(*pyproject, project.table(), args.library);
    checkPython(project.table());
    if (args.library)
      whl::entryPointsText(project);
    else
      whl::programEntryPointsText(project);
    return project;
  }
  // uv reads the dependencies, and computes those the project leaves to its build back-end;
  // the version may be left to the back-end too. A misspelt key would leave out what it holds.
  const toml::table document = whl::parseProjectFile(*pyproject);
  const toml::table* table = document["project"].as_table();
  if (!table) return std::nullopt;
  whl::checkProjectKeys(*pyproject, *table);
  checkPython(*table);
  whl::checkDependencies(*pyproject, *table);
  // The embedded program is the project installed, with the metadata its wheel would carry.
  if (!args.version && !table->contains("version")) {
    logger().warning("{}: the version is left to a build back-end, which this tool does not "
                     "run: the embedded directory carries no metadata of the project, and "
                     "importlib.metadata does not find it; give the version with --version",
                     pyproject->string());
    return std::nullopt;
  }
  whl::Project project = whl::readProject(*pyproject, args.version);
  whl::entryPointsText(project);
  return project;
}

void build(Context& context, const cli::BuildArguments& args) {
  plugin::PluginManager& manager = context.plugins;
  manager.extendBuild(args);

  const fs::path& sourceDirectory = args.base;
  const std::string& mainModule = args.mainModule;

  const std::string baseName = (args.exe && !args.exe->empty())
                                   ? *args.exe
                                   : mainModule.substr(0, mainModule.find('.'));
  const std::optional<std::string> exeName = manager.getExecutableName(baseName);

  checkSourceOptions(args);
  const std::vector<fs::path> sources = matchSources(sourceDirectory, args.sources, args.library);
  if (sources.empty())
    throw std::invalid_argument(noSourcesMessage(sourceDirectory, args.sources));
  checkBeforeCompiling(args, sources, [&context] {
    return startupModules(
        context, compiler::hasStartUpCode(compiler::templateExtensions(context.plugins)));
  });

  const std::optional<whl::Project> project =
      checkPackagingInputs(args, context.interpreter().fullVersion());
  warnOfMissingMain(context, args, sources);
  if (!args.library) warnOfProgramData(sourceDirectory, sources);
  // The embedding step deletes its target: a wrong --embed must stop the run before the
  // compilation, not after it.
  const fs::path buildPath = context.buildPath();
  if (args.embed) embed::checkTarget(*args.embed, resolved(sourceDirectory), buildPath);
  if (exeName) checkProductPlace(context, args, sources, *exeName, buildPath);

  const BuildLock lock(buildPath);

  // The embedded directory needs the project's dependencies: resolved first, one that cannot
  // be resolved stops the run in seconds rather than after the compilation.
  std::optional<embed::Requirements> requirements;
  if (args.embed) requirements = embed::resolveRequirements(context, resolved(sourceDirectory));

  pristine::getPristinePython(context);

  const std::string source_list = compiler::_format_filenames(sources);
  logger().info("{}", "Compiling " + mainModule + " with sources " + source_list);

  const std::optional<std::string> compileMainModule =
      args.library ? std::nullopt : std::optional<std::string>(mainModule);
  const std::optional<fs::path> compiled =
      compiler::compile(context, sourceDirectory, exeName, compileMainModule, sources,
                    {.force = true,
                     .noConsole = args.no_console,
                     .library = args.library,
                     .targetPath = buildPath,
                     .noInit = !args.library,
                     .projectMainModule = mainModule});
  // Without a product path nothing below could go on; say so rather than use an empty path.
  if (!compiled)
    throw std::runtime_error("Compiling " + mainModule + " gave no path of the linked " +
                             (args.library ? "library" : "executable"));
  const fs::path& exePath = *compiled;
  logger().info("{}", "[bold green]Compiled to " + exePath.string() + "[/bold green]");

  std::optional<fs::path> wheelPath;
  auto makeWheel = [&](const fs::path& outputPath) {
    whl::WheelOptions options;
    options.library = args.library;
    if (args.library) {
      // Every source has a module name: one without is left out of the sources above.
      for (const fs::path& source : sources)
        options.modules.push_back({*moduleNameOf(source), source.stem() == "__init__"});
      options.mainModuleName = mainModule;
      options.packageData = whl::packageData(sourceDirectory, sources);
    }
    options.sourcePath = resolved(sourceDirectory);
    options.version = args.version;
    options.policy = args.policy;
    options.project = project;
    wheelPath = whl::createWheel(context, exePath, outputPath, options);
  };

  if (args.wheel) {
    fs::create_directories(*args.wheel);
    logger().info("{}", "Creating wheel at " + args.wheel->string());
    makeWheel(*args.wheel);
  }

  if (args.embed) {
    embed::EmbedOptions options;
    options.requirements = requirements;
    options.sourcePath = resolved(sourceDirectory);
    fs::path embedded;
    if (args.library) {
      if (!wheelPath) {
        logger().info("{}", "Creating temp wheel at " + buildPath.string());
        makeWheel(buildPath);
      }
      options.whlPath = *wheelPath;
      embedded = *wheelPath;
    } else {
      options.exePath = exePath;
      options.project = project;
      embedded = exePath;
    }
    logger().info("{}", "Embedding " + embedded.string() + " into " + args.embed->string());
    embed::embed(context, *args.embed, options);
    logger().info("{}", "Embedded " + embedded.string() + " into " + args.embed->string());
  }
}

} // namespace quorvex::builder
