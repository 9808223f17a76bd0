// The Python runtime on macOS: the build directory's copy of its runtime library with a run-path
// install name, the embedded interpreter, wheel tags and wheel placement.
#include "platforms/macplatform.hpp"

#include "core/fileio.hpp"
#include "platforms/shared.hpp"
#include "core/host.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <cctype>
#include <regex>
#include <stdexcept>
#include <system_error>

namespace quorvex::macplatform {

namespace fs = std::filesystem;

namespace {

log::Logger& logger() { return log::getLogger("quorvex.macplatform"); }

} // namespace

std::string runtimeLibraryFileName(int major, int minor, bool freeThreaded) {
  return "libpython" + std::to_string(major) + "." + std::to_string(minor) +
         (freeThreaded ? "t" : "") + ".dylib";
}

process::Result runTool(const std::vector<std::string>& argv) {
  return process::run(argv, {.captureOutput = false});
}

fs::path installRuntimeLibrary(const fs::path& pristinePython, const fs::path& buildPath,
                               const std::string& fileName, const ToolRunner& run) {
  auto source = pristinePython / "lib" / fileName;
  // An installation of another version or build mode has no such file.
  if (!fs::is_regular_file(source))
    throw fs::filesystem_error("Python runtime library not found: " + source.string(), source,
                               std::make_error_code(std::errc::no_such_file_or_directory));
  // A program in the build directory takes its home from the installation of the libpython it
  // loads: a copy of the library there would make the build directory's parent its home. So
  // the installation's own library gets the install name, and the build directory a link to
  // it, relative so that the build directory may move. The installation's programs name the
  // library by their own load commands, which its install name does not change.
  auto link = buildPath / fileName;
  std::error_code ignored;
  fs::remove(link, ignored);
  fs::create_symlink(fs::weakly_canonical(fs::absolute(source))
                         .lexically_relative(fs::weakly_canonical(fs::absolute(buildPath))),
                     link);
  auto result = run({"install_name_tool", "-id", "@rpath/" + fileName, source.string()});
  // The library is still usable, but programs linked against it would look for it under its
  // old name: say so instead of failing later and silently.
  if (result.signal != 0)
    logger().warning("install_name_tool was ended by signal {}: {} keeps its former install name",
                     result.signal, source.string());
  else if (result.exitCode != 0)
    logger().warning("install_name_tool exited with status {}: {} keeps its former install name",
                     result.exitCode, source.string());
  return link;
}

std::string wheelPlatformTag(const std::string& platformName, const std::string& machine) {
  // "macosx_<major>_<minor>_<architecture>", the architecture itself holding "_" at times.
  static const std::regex form("macosx_(\\d{1,3})_(\\d{1,3})_(.+)");
  std::smatch parts;
  if (!std::regex_match(platformName, parts, form))
    return platformName;
  int major = std::stoi(parts[1].str());
  int minor = std::stoi(parts[2].str());
  std::string architecture = parts[3].str();
  if (architecture == "universal2") {
    std::string lower = machine;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    architecture = lower == "arm64" || lower == "aarch64" ? "arm64" : "x86_64";
  }
  // macOS runs on arm64 from 11.0 on: installers know no earlier arm64 tag.
  if (architecture == "arm64" && major < 11)
    major = 11;
  // From 11 on installers accept only "<major>_0"; a later minor release would never install.
  if (major >= 11)
    minor = 0;
  return "macosx_" + std::to_string(major) + "_" + std::to_string(minor) + "_" + architecture;
}

std::optional<std::string> deploymentTarget(const std::string& platformTag) {
  static const std::regex form("macosx_(\\d{1,3})_(\\d{1,3})_.+");
  std::smatch parts;
  if (!std::regex_match(platformTag, parts, form))
    return std::nullopt;
  return parts[1].str() + "." + parts[2].str();
}

std::string Plugin::platformTag() {
  std::string name = pluginManager_.context().interpreter().platform;
  std::replace(name.begin(), name.end(), '-', '_');
  std::replace(name.begin(), name.end(), '.', '_');
  return wheelPlatformTag(name, host::machine());
}

std::optional<std::string> Plugin::fixPlatformName(const std::string& platformName) {
  return wheelPlatformTag(platformName, host::machine());
}

std::optional<fs::path> Plugin::auditWheel(const std::optional<fs::path>&,
                                           const fs::path& wheelPath, const fs::path& outputPath,
                                           const std::optional<std::string>&) {
  return platforms::placeWheelUnchanged(wheelPath, outputPath);
}

std::optional<std::vector<plugin::RuntimeLibrary>>
Plugin::getRuntimeLibraries(const std::string& projectName, const std::string& version,
                            const std::optional<fs::path>& runtimeLibPath) {
  if (!runtimeLibPath)
    throw std::runtime_error("macOS platform: no Python runtime library to put in the wheel");
  return std::vector<plugin::RuntimeLibrary>{
      {projectName + "-" + version + ".data/scripts/" + runtimeLibPath->filename().string(),
       fileio::readFile(*runtimeLibPath)}};
}

std::optional<fs::path> Plugin::ensureDynload(const fs::path& embedDir) {
  return embedDir / "bin" / "python";
}

std::optional<fs::path> Plugin::getRuntimeLibPath(const fs::path& pristinePython,
                                                  const fs::path& buildPath) {
  const auto& facts = pluginManager_.context().interpreter();
  return installRuntimeLibrary(
      pristinePython, buildPath,
      runtimeLibraryFileName(facts.major, facts.minor, facts.freeThreaded()));
}

} // namespace quorvex::macplatform
