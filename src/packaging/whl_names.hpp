#pragma once
// The project's name and version as they stand in a wheel's file name and in its ".dist-info"
// and ".data" directory names, and names in their normal form.

#include <string>

namespace quorvex::whl {

/// `projectName` in lower case with every run of "-", "_" and "." replaced by one "_", so that
/// installers can split the wheel's file name at its "-" separators ("My.Project-x" gives
/// "my_project_x").
std::string distributionName(const std::string& projectName);

/// `name` in the normal form of the packaging standards: lower case, with every run of "-", "_"
/// and "." replaced by one "-" ("Fast_Mode" gives "fast-mode"). Extras are compared and written
/// in it.
std::string normalizedName(const std::string& name);

/// `version` with every "-" replaced by "_", for the same reason.
std::string distributionVersion(const std::string& version);

} // namespace quorvex::whl
