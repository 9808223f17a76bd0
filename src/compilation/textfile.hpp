#pragma once
// Whole-file text reads and writes for generated and stubbed files: a write goes to a
// temporary name in the same directory and is renamed into place, so a file is either its old
// text or its new text, never half of one.

#include <filesystem>
#include <string>

namespace quorvex::compiler {

/// The whole content of `path`; throws `std::filesystem::filesystem_error` naming the file.
std::string readText(const std::filesystem::path& path);

/// Replaces `path` with `text`; on failure the former file stays and no temporary is left.
void writeText(const std::filesystem::path& path, const std::string& text);

/// Deletes `path`; a missing file is no error.
void removeFile(const std::filesystem::path& path);

} // namespace quorvex::compiler
