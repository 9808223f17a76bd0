#pragma once
// Copying a file's access and modification times, as a full-metadata copy does.

#include <filesystem>

namespace quorvex::filetimes {

/// Gives `target` the access and modification times of `source` (following links).
void copyTimes(const std::filesystem::path& source, const std::filesystem::path& target);

} // namespace quorvex::filetimes
