#pragma once
// Names for files that are written beside their target and then renamed into place, so that
// the target appears whole or not at all.

#include <atomic>
#include <filesystem>
#include <random>
#include <string>

namespace quorvex::tempname {

/// A hidden, unused-looking name in the directory of `target`, e.g. ".name.tmp-1a2b3c-1".
inline std::filesystem::path sibling(const std::filesystem::path& target) {
  static const unsigned long long salt = std::random_device{}();
  static std::atomic<unsigned long long> counter{0};
  std::string name = "." + target.filename().string() + ".tmp-" + std::to_string(salt % 0xFFFFFF) +
                     "-" + std::to_string(++counter);
  return target.parent_path() / name;
}

/// Removes the file at `path` on destruction unless `release()` was called.
class Cleanup {
public:
  explicit Cleanup(std::filesystem::path path) : path_(std::move(path)) {}
  ~Cleanup() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  Cleanup(const Cleanup&) = delete;
  Cleanup& operator=(const Cleanup&) = delete;
  void release() { path_.clear(); }

private:
  std::filesystem::path path_;
};

} // namespace quorvex::tempname
