// Wheel platform tags and the hand-over of finished wheels on Linux.
#include "platforms/linuxplatform.hpp"

#include "core/fileio.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// The directory holding `path`, absolute with links followed.
fs::path resolvedDirectory(const fs::path& path) {
  auto directory = path.parent_path();
  return fs::weakly_canonical(fs::absolute(directory.empty() ? fs::path(".") : directory));
}

// A directory made for one repair and removed with what it holds when the repair is over.
struct RepairDirectory {
  explicit RepairDirectory(fs::path made) : path(std::move(made)) { fs::create_directory(path); }
  ~RepairDirectory() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  RepairDirectory(const RepairDirectory&) = delete;
  RepairDirectory& operator=(const RepairDirectory&) = delete;
  const fs::path path;
};

} // namespace

std::string auditCommand(const fs::path& runtimeLibPath, const fs::path& wheelPath,
                         const fs::path& outputPath) {
  auto runtimeName = runtimeLibPath.filename().string();
  auto baseName = runtimeName.substr(0, runtimeName.find(".so")) + ".so";
  auto exclusions = "--exclude " + utils::quoteWord(baseName);
  if (runtimeName != baseName) exclusions += " --exclude " + utils::quoteWord(runtimeName);
  if (!runtimeName.ends_with(".so.1.0"))
    exclusions += " --exclude " + utils::quoteWord(baseName + ".1.0");
  return "auditwheel repair " + exclusions + " " + utils::quoteWord(wheelPath.string()) + " -w " +
         utils::quoteWord(outputPath.string());
}

std::string policyWheelName(const std::string& wheelName,
                            const std::optional<std::string>& policy) {
  struct Row {
    const char* policy;
    const char* from;
    const char* to;
  };
  static constexpr std::array<Row, 4> table{{
      {"manylinux_2_28", "-linux_x86_64",
       "-manylinux2014_x86_64.manylinux_2_17_x86_64.manylinux_2_28_x86_64"},
      {"manylinux_2_28", "-linux_aarch64",
       "-manylinux2014_aarch64.manylinux_2_17_aarch64.manylinux_2_28_aarch64"},
      {"musllinux_1_2", "-linux_x86_64", "-musllinux_1_2_x86_64"},
      {"musllinux_1_2", "-linux_aarch64", "-musllinux_1_2_aarch64"},
  }};
  auto name = wheelName;
  if (!policy) return name;
  for (const auto& row : table)
    if (*policy == row.policy) replaceAll(name, row.from, row.to);
  return name;
}

std::optional<std::string> Plugin::fixPlatformName(const std::string& platformName) {
  return platformName;
}

std::optional<fs::path> Plugin::auditWheel(const std::optional<fs::path>& runtimeLibPath,
                                           const fs::path& wheelPath, const fs::path& outputPath,
                                           const std::optional<std::string>& policy) {
  if (!library("auditWheel")) {
    auto targetPath = outputPath / policyWheelName(wheelPath.filename().string(), policy);
    // The copy appears under its final name only when complete.
    fileio::copyWithMetadata(wheelPath, targetPath);
    return targetPath;
  }
  if (!runtimeLibPath)
    throw std::runtime_error("Linux platform: no Python runtime library to exclude from " +
                             wheelPath.string());
  // auditwheel must see the pristine runtime library to accept the wheel's reference to it.
  auto searchPath = resolvedDirectory(*runtimeLibPath).string();
  const char* previous = std::getenv("LD_LIBRARY_PATH");
  if (previous && *previous) searchPath += ":" + std::string(previous);
  // auditwheel chooses the repaired wheel's name: alone in a directory of its own, it is the
  // one file there, and it reaches the output directory whole.
  const RepairDirectory repaired(fileio::temporarySibling(wheelPath));
  {
    utils::withEnv env("LD_LIBRARY_PATH", searchPath);
    utils::system(pluginManager_.context(),
                  auditCommand(*runtimeLibPath, wheelPath, repaired.path));
  }
  std::vector<fs::path> wheels;
  for (const auto& entry : fs::directory_iterator(repaired.path))
    if (entry.path().extension() == ".whl") wheels.push_back(entry.path());
  if (wheels.size() != 1)
    throw std::runtime_error("auditwheel repair of " + wheelPath.string() + " wrote " +
                             std::to_string(wheels.size()) + " wheels, not one");
  auto targetPath = outputPath / wheels.front().filename();
  fileio::copyWithMetadata(wheels.front(), targetPath);
  return targetPath;
}

} // namespace quorvex::linuxplatform
