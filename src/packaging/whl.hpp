#pragma once
// Wheels: the file name and tags, METADATA, WHEEL and RECORD, the executable and library
// layouts, and the hand-off to the platform to place or repair the wheel.

#include "packaging/whl_data.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_tags.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvex {
class Context;
}

namespace quorvex::whl {

struct WheelOptions {
  bool library = false;
  /// A library's compiled modules as its sources name them: the wheel installs a small file at
  /// each one's place and the library in a private package named from the distribution
  /// ("_qvx_" and the name as an identifier). Without them (a library wrapped without its
  /// sources) the modules are served below the project's name made a package.
  std::vector<LibraryModule> modules;
  std::optional<std::string> mainModuleName;
  /// A library's package data, shipped at its place in the installed package; a file whose
  /// entry the layout writes itself ("__init__.py", "__main__.py") is left out.
  std::vector<DataFile> packageData;
  std::optional<std::filesystem::path> sourcePath;
  std::optional<std::string> version;
  std::optional<std::string> policy;
  /// The project file as the run read and checked it before compiling; read anew when absent.
  std::optional<Project> project;
};

/// Makes the wheel of `executablePath` in the build directory's "wrk", with the product as the
/// platform's `prepareShippedProduct` makes a copy of it, hands it to the platform's
/// `auditWheel` for `outputPath` (with the run's runtime library), logs the path of the wheel
/// that the platform placed there, and returns the path of the wheel in "wrk".
/// Without `options.project`, the project file is searched from `options.sourcePath`, or from
/// the working directory when none is given, and read (`readProject`). The wheel's file name
/// and its ".dist-info" and ".data" directories carry the project's name and version escaped
/// (`distributionName`, `distributionVersion`); METADATA, the package directory and the
/// executable keep the name as written. The wheel appears in "wrk" whole or not at all.
std::filesystem::path createWheel(Context& context, const std::filesystem::path& executablePath,
                                  const std::filesystem::path& outputPath,
                                  const WheelOptions& options = {});

/// The nearest "pyproject.toml" file at `current_dir` or above it (lexical ancestors, not
/// resolved); none when the search meets a directory holding a ".git" directory first, or
/// reaches the root.
std::optional<std::filesystem::path>
find_active_pyproject(const std::filesystem::path& current_dir);

/// "sha256=" and the unpadded URL-safe Base64 SHA-256 digest of the file's content, and its
/// size in bytes. Throws a `std::runtime_error` naming the file when it cannot be read.
std::pair<std::string, std::uintmax_t> hash_file(const std::filesystem::path& filepath);

} // namespace quorvex::whl
