#pragma once
// The tool's own version, recorded in the wheels it makes. Constants only.

namespace quorvex::version {

inline constexpr const char* version = "0.00.0000";
inline constexpr const char* commitHash =
    "000000000000000000000000000000000000000000000000000000000000";

} // namespace quorvex::version
