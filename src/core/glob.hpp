#pragma once
// Path-pattern matching below a base directory: shell-style wildcards per path component,
// `**` for a whole directory tree and `..` for the parent, with results in directory-listing
// order. The build's source patterns and the compiler's source discovery both match with it.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::glob {

/// True when `name` matches the shell-style wildcard `pattern` as a whole: `*` any run of
/// characters, `?` one character, `[...]` a set with ranges and `!` negation. A leading dot
/// needs no special match. Compares without case when `caseSensitive` is false.
bool fnmatch(std::string_view name, std::string_view pattern, bool caseSensitive = true);

/// True when `component` holds a wildcard character (`*`, `?` or `[`).
bool hasWildcard(std::string_view component);

/// The paths below `base` that `pattern` matches, relative to `base` (the base itself is "."),
/// in the order of the directory listings; a `**` component lists each match once. Every
/// component but the last matches directories only, and the last does too when the pattern
/// ends in a separator. Case-insensitive on Windows hosts. Throws `std::invalid_argument`
/// naming the pattern when it is empty, absolute, names no entry below `base` (only "." and
/// separators), or mixes `**` with other characters in one component. `**` and wildcard
/// components never enter a directory (given as `base` joined with its relative path) for
/// which `skipDirectory` answers true.
std::vector<std::filesystem::path>
glob(const std::filesystem::path& base, const std::string& pattern,
     const std::function<bool(const std::filesystem::path&)>& skipDirectory = {});

} // namespace quorvex::glob
