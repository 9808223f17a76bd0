#pragma once
// Test helpers: a fresh temporary directory that becomes the working directory while the
// guard lives, and small file helpers.

#include <filesystem>
#include <string>

namespace quorvex::testing {

/// Makes a new directory under the system's temporary directory and enters it; on
/// destruction goes back to the former working directory and removes the tree.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

private:
  std::filesystem::path path_;
  std::filesystem::path previous_;
};

/// Writes `text` to `path`, creating the parent directories.
void writeFile(const std::filesystem::path& path, const std::string& text);
/// The whole content of `path`; throws when it cannot be read.
std::string readFile(const std::filesystem::path& path);

} // namespace quorvex::testing
