#pragma once
// Wheels: the file name and tags, METADATA, WHEEL and RECORD, the executable and library
// layouts, and the hand-off to the platform to place or repair the wheel.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::whl {

struct WheelOptions {
  bool library = false;
  std::optional<std::vector<std::string>> moduleNames;
  std::optional<std::string> mainModuleName;
  std::optional<std::filesystem::path> sourcePath;
  std::optional<std::string> version;
  std::optional<std::string> policy;
};

/// Makes the wheel of `executablePath` in the build directory's "wrk", hands it to the
/// platform's `auditWheel` for `outputPath`, and returns the path of the wheel in "wrk".
std::filesystem::path createWheel(const std::filesystem::path& executablePath,
                                  const std::filesystem::path& outputPath,
                                  const WheelOptions& options = {});

} // namespace quorvex::whl
