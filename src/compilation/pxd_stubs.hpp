#pragma once
// Library builds cannot cimport from the program bootstrap, which they do not compile: for the
// time of the Cython runs over the project's modules, every ".pxd" file directly in the source
// root that cimports from `_qvx_bootstrap` is replaced by a stub declaring the imported names
// as plain objects. The owner puts every file back, also when it is left by an exception.

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::compiler {

/// The stub text for a ".pxd" file's `text`, or nullopt when no line cimports from
/// `_qvx_bootstrap` (such a file is left alone).
std::optional<std::string> pxdStubText(const std::string& text);

class PxdStubs {
public:
  PxdStubs() = default;
  /// Puts back whatever is still stubbed; a file that cannot be written is logged at ERROR.
  ~PxdStubs();
  PxdStubs(const PxdStubs&) = delete;
  PxdStubs& operator=(const PxdStubs&) = delete;

  /// Stubs the matching ".pxd" files directly in `sourcePath`, in directory-listing order,
  /// saving each one's text before it is replaced.
  void stub(const std::filesystem::path& sourcePath);

  /// Writes every saved text back in stubbing order. Every file is tried; the first failure is
  /// thrown afterwards.
  void restore();

  /// The stubbed files and their saved texts, in stubbing order.
  const std::vector<std::pair<std::filesystem::path, std::string>>& backups() const {
    return backups_;
  }

private:
  std::vector<std::pair<std::filesystem::path, std::string>> backups_;
};

} // namespace quorvex::compiler
