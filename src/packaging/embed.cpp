#include "packaging/embed.hpp"

#include "compilation/pristine.hpp"
#include "compilation/runtime.hpp"
#include "core/context.hpp"
#include "core/fileio.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::embed {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.embed"); }

fs::path requireHook(const std::optional<fs::path>& answer, const char* hook) {
  if (!answer) throw std::runtime_error(std::string("No plug-in answered the hook ") + hook);
  return *answer;
}

void writeMarker(const fs::path& targetPath) {
  const fs::path marker = targetPath / markerName;
  std::ofstream out(marker, std::ios::binary | std::ios::trunc);
  out << "Made by quorvex build --embed; the whole directory is replaced on every such run.\n";
  if (!out) throw std::runtime_error("Cannot write " + marker.string());
}

// Where the embedded directory's Python installs packages: the build interpreter's place for
// them relative to its prefix, as the pristine Python of the same version has it.
fs::path sitePackagesOf(Context& context, const fs::path& targetPath) {
  const interpreter::Facts& facts = context.interpreter();
  const fs::path relative = fs::path(facts.path("purelib")).lexically_relative(facts.prefix);
  if (relative.empty() || *relative.begin() == "..")
    throw std::runtime_error("The build interpreter's site-packages " + facts.path("purelib") +
                             " lies outside its prefix " + facts.prefix);
  return targetPath / relative;
}

// The command runner splits its text by shell rules, so a path with a blank or a quote must be
// quoted to reach uv as one argument.
std::string word(const fs::path& path) { return utils::quoteWord(path.string()); }

// Everything after the old directory is gone: the copy of the pristine Python, the
// dependencies, the program or the wheel.
void fill(Context& context, const fs::path& targetPath, const EmbedOptions& options) {
  const std::optional<fs::path> pristinePythonPath = pristine::getPristinePython(context);
  const fs::path buildPath = context.buildPath();

  fs::create_directories(targetPath);
  // First of all: what a run killed outright (SIGKILL, a crash) leaves, the next run replaces.
  writeMarker(targetPath);

  if (!pristinePythonPath) {
    throw std::runtime_error("No pristine Python found under " + (buildPath / "python").string() +
                             " to copy into " + targetPath.string());
  }
  // Its links stay links (libpython, the python programs): a copy for each would double them.
  utils::copytree(*pristinePythonPath, targetPath, utils::LinkCopy::keepInside);

  auto& manager = context.plugins;
  const fs::path targetPython = requireHook(manager.ensureDynload(targetPath), "ensureDynload");
  const Requirements requirements =
      options.requirements
          ? *options.requirements
          : resolveRequirements(context, options.sourcePath.value_or(fs::current_path()));
  const fs::path& reqPath = requirements.file;
  const fs::path& projectPath = requirements.projectPath;

  const std::string pythonText = word(fs::canonical(targetPython));
  logger().info("Installing the requirements into {}", targetPath.string());
  {
    // In the project, as the export: uv reads the relative paths of an exported lock and the
    // project's own places to install from (its indexes, find-links) from where it runs.
    const chdir inProject(projectPath);
    // With their bytecode, as the standard library has it: where __pycache__ cannot be
    // written, every start would compile them from source.
    utils::system(context, "uv pip install --python " + pythonText + " -r " + word(reqPath) +
                               " --break-system-packages --compile-bytecode");
  }

  const fs::path sitePackages = sitePackagesOf(context, targetPath);
  if (options.exePath) {
    const fs::path wrkPath =
        requireHook(manager.getExecutablePath(targetPath), "getExecutablePath");
    fs::create_directories(wrkPath);
    const fs::path program = wrkPath / options.exePath->filename();
    fileio::copyWithMetadata(*options.exePath, program);
    manager.prepareShippedProduct(program, plugin::Shipment::embeddedDirectory, "",
                                  runtime::getRuntimePath(context));
    // The program is the project installed: importlib.metadata answers for it as after
    // `pip install .` (a library's wheel carries its own metadata).
    if (options.project) {
      logger().info("Installing the metadata of {} {} into {}", options.project->name,
                    options.project->version, sitePackages.string());
      installProjectMetadata(*options.project, sitePackages, {program});
    }
  }

  if (options.whlPath) {
    logger().info("Installing {} into {}", options.whlPath->string(), targetPath.string());
    utils::system(context, "uv pip install --python " + pythonText +
                               " --break-system-packages --compile-bytecode " +
                               word(*options.whlPath));
  }

  // Installers name the Python by its absolute path in the scripts they write: such a script
  // would stop working once the directory is moved. The pristine Python's own scripts name
  // the installation it was copied from, whose program the copy no longer matches byte for
  // byte once the platform has rewritten its run path.
  const fs::path copiedFrom = *pristinePythonPath / targetPython.lexically_relative(targetPath);
  std::error_code missing;
  std::vector<fs::path> scripts =
      relocateScripts(targetPython.parent_path(), targetPython, sitePackages,
                      fs::exists(copiedFrom, missing) ? std::optional(copiedFrom) : std::nullopt);
  // A script whose distribution is not installed (a Python packed without its site-packages)
  // could only fail with "No module named ...".
  for (const auto& [script, module] : removeScriptsWithoutModules(context, scripts, targetPython)) {
    logger().warning("Left out {}: it imports {}, which the embedded directory's Python does not "
                     "have",
                     script.lexically_relative(targetPath).string(), module);
    std::erase(scripts, script);
  }
  if (!scripts.empty()) {
    std::string names;
    for (const fs::path& script : scripts)
      names += (names.empty() ? "" : ", ") + script.filename().string();
    logger().info("Scripts that now find the directory's Python wherever it lies: {}", names);
  }
}

} // namespace

void embed(Context& context, const fs::path& targetPath, const EmbedOptions& options) {
  checkTarget(targetPath, options.sourcePath, context.buildPath());

  // From here on a stop signal waits until the directory, partly deleted or partly made, is
  // gone; the tool then ends by the signal.
  const process::StopDeferral deferral;
  std::error_code ignored;
  fs::remove_all(targetPath, ignored);
  try {
    fill(context, targetPath, options);
    // A stop during the last step as well: a stopped run leaves no directory.
    process::checkStop();
  } catch (...) {
    // A half-made directory would pass for a working one.
    fs::remove_all(targetPath, ignored);
    // Whatever the stop made fail (the child stopped, a call interrupted), it is a stop.
    if (const int signal = process::stopRequested())
      logger().warning("Stopped by signal {}: removed the unfinished embedded directory {}",
                       signal, targetPath.string());
    throw;
  }
}

} // namespace quorvex::embed
