#pragma once
// A project's name and version as the packaging standards define them, checked before a wheel
// carries them: installers refuse a wheel whose name or version they cannot read.

#include <optional>
#include <string>

namespace quorvex::whl {

/// True when `name` is a valid distribution name: ASCII letters and digits, with ".", "_" and
/// "-" inside but not at either end (case-insensitive).
bool isValidProjectName(const std::string& name);

/// `version` in the normal form installers compare and name files by ("1.0-beta" gives
/// "1.0b0", "v2.0.RC1" gives "2.0rc1"); none when it is no version of the standard's scheme.
std::optional<std::string> normalizeVersion(const std::string& version);

} // namespace quorvex::whl
