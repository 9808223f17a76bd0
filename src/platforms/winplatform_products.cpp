// Names and places of products and interpreters on Windows, the runtime DLLs and the
// interpreter selector.
#include "platforms/winplatform.hpp"

#include "core/context.hpp"
#include "core/fileio.hpp"
#include "core/glob.hpp"
#include "core/host.hpp"
#include "core/interpreter.hpp"
#include "core/utils.hpp"
#include "platforms/shared.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace quorvex::winplatform {

namespace fs = std::filesystem;

fs::path withExeSuffix(const fs::path& path) {
  auto name = path.filename().string();
  if (name.empty() || name == "." || name == "..")
    throw std::invalid_argument("'" + path.string() + "' has no file name to give \".exe\"");
  if (auto dot = name.rfind('.'); dot != std::string::npos && dot != 0 && dot + 1 != name.size())
    name.erase(dot);
  return path.parent_path() / (name + ".exe");
}

fs::path resolveExe(const fs::path& exePath) {
  if (fs::exists(exePath))
    return exePath;
  auto withExe = withExeSuffix(exePath);
  return fs::exists(withExe) ? withExe : exePath;
}

plugin::InstallSelector installSelectorFor(int major, int minor, int micro, bool freeThreaded,
                                           const std::string& platformString) {
  auto lower = platformString;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  auto shortName = std::to_string(major) + "." + std::to_string(minor);
  return {"cpython-" + shortName + (freeThreaded ? "+freethreaded-windows-" : "-windows-") +
              (lower.find("arm64") != std::string::npos ? "aarch64" : "x86_64") + "-none",
          shortName + "." + std::to_string(micro)};
}

std::string runtimeDllName(int major, int minor) {
  return "python" + std::to_string(major) + std::to_string(minor) + ".dll";
}

std::vector<plugin::RuntimeLibrary> runtimeDllRecords(const fs::path& baseDir,
                                                      const std::string& projectName,
                                                      const std::string& version) {
  std::vector<std::string> names;
  if (!fs::exists(baseDir))
    return {};
  for (const auto& entry : fs::directory_iterator(baseDir)) {
    auto name = entry.path().filename().string();
    if (glob::fnmatch(name, "python*.dll", host::caseSensitiveFileNames()) &&
        entry.is_regular_file())
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<plugin::RuntimeLibrary> records;
  for (const auto& name : names)
    records.push_back(
        {projectName + "-" + version + ".data/scripts/" + name, fileio::readFile(baseDir / name)});
  return records;
}

void Plugin::appendExecutable(const fs::path& exePath, const fs::path& zipPath) {
  if (!fs::exists(zipPath))
    return;
  const auto archive = fileio::readFile(zipPath);
  // The program grows in a copy that replaces it only when whole, so a failed write never
  // leaves a program with half an archive at its end.
  const auto temporary = fileio::temporarySibling(exePath);
  fileio::TemporaryFile guard(temporary);
  if (fs::exists(exePath))
    fileio::copyWithMetadata(exePath, temporary);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::app);
    out.write(archive.data(), static_cast<std::streamsize>(archive.size()));
    out.close();
    if (!out)
      throw fs::filesystem_error("cannot append " + zipPath.string() + " to", exePath,
                                 std::make_error_code(std::errc::io_error));
  }
  fs::rename(temporary, exePath);
  guard.release();
}

std::optional<std::string> Plugin::fixPlatformName(const std::string& platformName) {
  return platformName;
}

std::optional<fs::path> Plugin::auditWheel(const std::optional<fs::path>&,
                                           const fs::path& wheelPath, const fs::path& outputPath,
                                           const std::optional<std::string>&) {
  return platforms::placeWheelUnchanged(wheelPath, outputPath);
}

std::optional<std::vector<plugin::RuntimeLibrary>>
Plugin::getRuntimeLibraries(const std::string& projectName, const std::string& version,
                            const std::optional<fs::path>&) {
  return runtimeDllRecords(pluginManager_.context().interpreter().basePrefix, projectName,
                           version);
}

std::optional<fs::path> Plugin::ensureDynload(const fs::path& embedDir) {
  return embedDir / "python.exe";
}

std::optional<plugin::InstallSelector> Plugin::getInstallSelector() {
  const auto& facts = pluginManager_.context().interpreter();
  return installSelectorFor(facts.major, facts.minor, facts.micro, facts.freeThreaded(),
                            facts.platform);
}

std::optional<fs::path> Plugin::getRuntimeLibPath(const fs::path& pristinePython, const fs::path&) {
  const auto& facts = pluginManager_.context().interpreter();
  return pristinePython / runtimeDllName(facts.major, facts.minor);
}

std::optional<std::string> Plugin::getExecutableName(const std::string& mainModule) {
  bool library = platforms::buildOption(library_, "Windows", "getExecutableName");
  return mainModule + (library ? ".pyd" : ".exe");
}

std::optional<fs::path> Plugin::getExecutablePath(const fs::path& embedDir) {
  return embedDir;
}

std::optional<fs::path> Plugin::getExePath(const fs::path& path, const std::string& name) {
  return withExeSuffix(platforms::exePathBeside(path, name));
}

std::optional<fs::path> Plugin::resolveExePath(const fs::path& exePath) {
  return resolveExe(exePath);
}

} // namespace quorvex::winplatform
