#pragma once
// Library builds cannot cimport from the program bootstrap, which they do not compile: every
// ".pxd" file directly in the source root that cimports from `_qvx_bootstrap` must read, for
// Cython, as a stub declaring the imported names as plain objects. Cython finds a module's
// ".pxd" beside its source before anything on the include path, so the stubs cannot merely be
// put first on that path; instead Cython runs on copies in the build directory, where the
// stubs replace the copied files. The source tree itself is never written.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::compiler {

/// The stub text for a ".pxd" file's `text`, or nullopt when no line cimports from
/// `_qvx_bootstrap` (such a file is left alone).
std::optional<std::string> pxdStubText(const std::string& text);

/// When a ".pxd" file directly in `sourcePath` needs a stub: makes `copyRoot` afresh with a
/// copy of `sources` and of the declaration, include and package files below `sourcePath`
/// (hidden directories and virtual environments left out), stubs the copied ".pxd" files of
/// its top level and returns each of `sources` mapped to its copy (a source outside
/// `sourcePath` maps to itself). Otherwise nullopt: Cython can run on the originals.
std::optional<std::vector<std::filesystem::path>>
stubbedCopies(const std::filesystem::path& sourcePath,
              const std::vector<std::filesystem::path>& sources,
              const std::filesystem::path& copyRoot);

} // namespace quorvex::compiler
