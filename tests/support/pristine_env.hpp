#pragma once
// What scripts/pristine-env exports (uv's local source of the pristine Python), read by
// sourcing the script in a shell.

#include <map>
#include <string>

namespace quorvex::testing {

/// UV_PYTHON_DOWNLOADS_JSON_URL, UV_PYTHON_INSTALL_BIN and PATH as the script sets them. Throws
/// with the shell's output when the script fails.
std::map<std::string, std::string> pristineEnvironment();

} // namespace quorvex::testing
