#pragma once
// The embedded directory: a private copy of the pristine Python with the project's
// dependencies installed by uv, and the program or the library's wheel in it.

#include <filesystem>
#include <optional>

namespace quorvex::embed {

struct EmbedOptions {
  std::optional<std::filesystem::path> exePath;
  std::optional<std::filesystem::path> whlPath;
  std::optional<std::filesystem::path> sourcePath;
};

/// Makes `targetPath` anew as an embedded directory.
void embed(const std::filesystem::path& targetPath, const EmbedOptions& options = {});

} // namespace quorvex::embed
