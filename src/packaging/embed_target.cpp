#include "packaging/embed.hpp"

#include "core/utils.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace quorvex::embed {

namespace {

fs::path normalised(const fs::path& path) { return fs::weakly_canonical(fs::absolute(path)); }

[[noreturn]] void refuse(const fs::path& targetPath, const std::string& reason) {
  throw std::runtime_error("Refusing to embed into " + targetPath.string() + ": " + reason);
}

} // namespace

void checkTarget(const fs::path& targetPath, const std::optional<fs::path>& sourcePath,
                 const fs::path& buildDirectory) {
  const fs::path target = normalised(targetPath);
  const fs::path cwd = normalised(fs::current_path());
  if (utils::isWithin(cwd, target))
    refuse(targetPath, "it is or contains the working directory " + cwd.string());
  if (sourcePath) {
    const fs::path source = normalised(*sourcePath);
    if (utils::isWithin(source, target))
      refuse(targetPath, "it is or contains the source directory " + source.string());
  }
  const fs::path buildPath = normalised(buildDirectory);
  if (utils::isWithin(buildPath, target))
    refuse(targetPath, "it is or contains the build directory " + buildPath.string());
  // Deleting it would take the pristine Python with it, and copying it would copy into itself.
  const fs::path pythons = buildPath / "python";
  if (utils::isWithin(target, pythons))
    refuse(targetPath, "it lies in the pristine Python directory " + pythons.string());

  const fs::file_status status = fs::status(targetPath);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status)) refuse(targetPath, "it exists and is not a directory");
  if (fs::is_empty(targetPath) || fs::exists(targetPath / markerName)) return;
  refuse(targetPath, std::string("the directory is not empty and has no ") + markerName +
                         " file, so it was not made by quorvex");
}

} // namespace quorvex::embed
