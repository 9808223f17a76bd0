#pragma once
// Whole-file reads for the wheel step, with errors that name the file.

#include <filesystem>
#include <string>

namespace quorvex::whl {

/// Every byte of `path`. Throws a `std::runtime_error` "Cannot read '<path>': <reason>".
std::string readBytes(const std::filesystem::path& path);

} // namespace quorvex::whl
