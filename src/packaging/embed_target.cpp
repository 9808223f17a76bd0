#include "packaging/embed.hpp"

#include "core/utils.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace quorvex::embed {

namespace {

fs::path normalised(const fs::path& path) { return fs::weakly_canonical(fs::absolute(path)); }

// True when `inner` is `outer` or lies below it, compared component by component.
bool isWithin(const fs::path& inner, const fs::path& outer) {
  auto innerIt = inner.begin();
  for (auto outerIt = outer.begin(); outerIt != outer.end(); ++outerIt, ++innerIt) {
    if (outerIt->empty()) continue; // a trailing separator
    if (innerIt == inner.end() || *innerIt != *outerIt) return false;
  }
  return true;
}

[[noreturn]] void refuse(const fs::path& targetPath, const std::string& reason) {
  throw std::runtime_error("Refusing to embed into " + targetPath.string() + ": " + reason);
}

} // namespace

void checkTarget(const fs::path& targetPath, const std::optional<fs::path>& sourcePath,
                 const fs::path& buildDirectory) {
  const fs::path target = normalised(targetPath);
  const fs::path cwd = normalised(fs::current_path());
  if (isWithin(cwd, target))
    refuse(targetPath, "it is or contains the working directory " + cwd.string());
  if (sourcePath) {
    const fs::path source = normalised(*sourcePath);
    if (isWithin(source, target))
      refuse(targetPath, "it is or contains the source directory " + source.string());
  }
  const fs::path buildPath = normalised(buildDirectory);
  if (isWithin(buildPath, target))
    refuse(targetPath, "it is or contains the build directory " + buildPath.string());
  // Deleting it would take the pristine Python with it, and copying it would copy into itself.
  const fs::path pythons = buildPath / "python";
  if (isWithin(target, pythons))
    refuse(targetPath, "it lies in the pristine Python directory " + pythons.string());

  const fs::file_status status = fs::status(targetPath);
  if (!fs::exists(status)) return;
  if (!fs::is_directory(status)) refuse(targetPath, "it exists and is not a directory");
  if (fs::is_empty(targetPath) || fs::exists(targetPath / markerName)) return;
  refuse(targetPath, std::string("the directory is not empty and has no ") + markerName +
                         " file, so it was not made by quorvex");
}

} // namespace quorvex::embed
