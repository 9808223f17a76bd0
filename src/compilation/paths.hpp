#pragma once
// Source paths in the forms source discovery and code generation compare and join them in.

#include <filesystem>

namespace quorvex::compiler {

/// Path order: component by component (a/b.py before a.py); case-insensitive on Windows.
bool pathLess(const std::filesystem::path& a, const std::filesystem::path& b);

/// `p` in the form path objects compare in: "." components and trailing separators gone
/// ("./a/" is "a"), "." for an empty path.
std::filesystem::path pathlibForm(const std::filesystem::path& p);

/// `a` joined with `b`, where "." on either side adds nothing ("." / "a.py" is "a.py").
std::filesystem::path joinPath(const std::filesystem::path& a, const std::filesystem::path& b);

} // namespace quorvex::compiler
