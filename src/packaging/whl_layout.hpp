#pragma once
// The generated package files of a library wheel: an `__init__.py` whose finder serves every
// compiled module from the one shared library, and a `__main__.py` that runs the main module.

#include <optional>
#include <string>
#include <vector>

namespace quorvex::whl {

/// The text of the package's `__init__.py`: `libraryFile` is the library's name inside the
/// package, `moduleNames` every module it serves, and `moduleImportPath` the main native module
/// relative to the package, whose public names the package re-exports.
std::string packageInit(const std::string& libraryFile, const std::vector<std::string>& moduleNames,
                        const std::string& moduleImportPath);

/// The text of the package's `__main__.py`, which imports `moduleImportPath` relative to the
/// package and calls its `main()` when it has one.
std::string packageMain(const std::string& moduleImportPath);

/// Every module the library of project `productName` serves: each of `moduleNames` qualified
/// with the project name, then "_qvx_shared" and "cython_runtime".
std::vector<std::string> bundledModuleNames(const std::string& productName,
                                            const std::optional<std::vector<std::string>>& names);

} // namespace quorvex::whl
