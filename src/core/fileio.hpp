#pragma once
// Whole-file reads and writes. A file is written under a temporary name in its own directory
// and renamed into place, so that it is either its old content or its new one, never half of
// either, and two builds writing beside each other never share a temporary name.

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvex::fileio {

/// The whole content of `path`, bytes unchanged; throws `std::filesystem::filesystem_error`
/// naming the file.
std::string readFile(const std::filesystem::path& path);

/// Replaces `path` with `data`. A symbolic link stays one (the file it points at changes) and
/// an existing file keeps its permission bits. On failure the former file stays and no
/// temporary is left.
void writeFile(const std::filesystem::path& path, std::string_view data);

/// Copies the content, permission bits and times of the file `from` to `to`, replacing a file
/// there whole (also a read-only one).
void copyWithMetadata(const std::filesystem::path& from, const std::filesystem::path& to);

/// A hidden name beside `target` that no other write of this or another process uses, e.g.
/// ".name.tmp-9c0d1a2b3c4d5e6f-1".
std::filesystem::path temporarySibling(const std::filesystem::path& target);

/// Removes the file at `path` on destruction unless `release()` was called.
class TemporaryFile {
public:
  explicit TemporaryFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::filesystem::path& path() const { return path_; }
  void release() { path_.clear(); }

private:
  std::filesystem::path path_;
};

} // namespace quorvex::fileio
