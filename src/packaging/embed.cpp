#include "packaging/embed.hpp"

#include "compilation/pristine.hpp"
#include "compilation/runtime.hpp"
#include "core/fileio.hpp"
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
  utils::copytree(*pristinePythonPath, targetPath);

  auto& manager = context.plugins;
  const fs::path targetPython = requireHook(manager.ensureDynload(targetPath), "ensureDynload");
  // The build directory is relative to the working directory, which the export changes.
  const fs::path reqPath = fs::weakly_canonical(fs::absolute(buildPath / "requirements.txt"));

  logger().info("Exporting the project's requirements to {}", reqPath.string());
  const fs::path projectPath =
      exportRequirements(context, options.sourcePath.value_or(fs::current_path()), reqPath);

  const std::string pythonText = word(fs::canonical(targetPython));
  logger().info("Installing the requirements into {}", targetPath.string());
  {
    // In the project, as the export: uv reads the relative paths of an exported lock and the
    // project's own places to install from (its indexes, find-links) from where it runs.
    const chdir inProject(projectPath);
    utils::system(context, "uv pip install --python " + pythonText + " -r " + word(reqPath) +
                  " --break-system-packages");
  }

  if (options.exePath) {
    const fs::path wrkPath =
        requireHook(manager.getExecutablePath(targetPath), "getExecutablePath");
    fs::create_directories(wrkPath);
    const fs::path program = wrkPath / options.exePath->filename();
    fileio::copyWithMetadata(*options.exePath, program);
    manager.prepareShippedProduct(program, plugin::Shipment::embeddedDirectory, "",
                                  runtime::getRuntimePath(context));
  }

  if (options.whlPath) {
    logger().info("Installing {} into {}", options.whlPath->string(), targetPath.string());
    utils::system(context, "uv pip install --python " + pythonText + " --break-system-packages " +
                  word(*options.whlPath));
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
