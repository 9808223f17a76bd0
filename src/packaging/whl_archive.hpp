#pragma once
// The wheel archive: a ZIP file with deflated entries, each recorded with its SHA-256 hash and
// size for RECORD. It is written under a temporary name beside its final path and renamed
// into place only when RECORD is written; otherwise the temporary is removed.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::whl {

/// The SHA-256 digest of `data` in unpadded URL-safe Base64 (43 characters).
std::string recordHash(std::string_view data);

/// Throws `std::invalid_argument` for an entry name that is empty, absolute, holds a
/// backslash, a drive or a ".." part, so that nothing can land outside the install root.
void checkEntryName(const std::string& arcname);

class WheelArchive {
public:
  /// Permission bits of an ordinary entry and of a program that must stay executable.
  static constexpr unsigned fileMode = 0600;
  static constexpr unsigned programMode = 0755;

  /// Opens a new archive under a temporary name in the directory of `finalPath`.
  explicit WheelArchive(std::filesystem::path finalPath);
  /// Removes the temporary file unless `commit` has succeeded.
  ~WheelArchive();
  WheelArchive(const WheelArchive&) = delete;
  WheelArchive& operator=(const WheelArchive&) = delete;

  /// Writes one entry holding `data`, then appends its RECORD line
  /// ("name,sha256=<hash>,<size>"). A failed write appends nothing.
  void write_file(const std::string& arcname, std::string_view data, unsigned mode = fileMode);

  /// The RECORD lines so far, in write order.
  const std::vector<std::string>& records() const { return records_; }

  /// Writes the entry `recordName` holding the lines and its own line "recordName,,", closes
  /// the archive and renames it to the final path, replacing a file there.
  void commit(const std::string& recordName);

private:
  void writeEntry(const std::string& arcname, std::string_view data, unsigned mode);

  struct Handle;
  std::filesystem::path finalPath_;
  std::filesystem::path tempPath_;
  std::unique_ptr<Handle> handle_;
  std::vector<std::string> records_;
  bool committed_ = false;
};

} // namespace quorvex::whl
