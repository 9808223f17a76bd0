#pragma once
// Matching source patterns below a source root the way path globbing does: "*", "?" and
// "[...]" within one path component, "**" for any depth of directories.

#include <filesystem>
#include <string>
#include <vector>

namespace quorvex::compiler {

/// True when the file name `name` matches the one-component `pattern`.
bool matchComponent(const std::string& pattern, const std::string& name);

/// The files below `root` that `pattern` ("/"-separated, relative to `root`) names, each as
/// `root` joined with its relative path. Directories are not sources and are left out; a
/// pattern naming a missing file yields nothing.
std::vector<std::filesystem::path> globFiles(const std::filesystem::path& root,
                                             const std::string& pattern);

/// Path order: component by component (a/b.py before a.py); case-insensitive on Windows.
bool pathLess(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace quorvex::compiler

namespace quorvex::compiler {

/// `p` in the form path objects compare in: "." components and trailing separators gone
/// ("./a/" is "a"), "." for an empty path.
std::filesystem::path pathlibForm(const std::filesystem::path& p);

/// `a` joined with `b`, where "." on either side adds nothing ("." / "a.py" is "a.py").
std::filesystem::path joinPath(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace quorvex::compiler
