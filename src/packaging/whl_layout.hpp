#pragma once
// The generated package files of a library wheel: an `__init__.py` that loads the one shared
// library's bootstrap, and a `__main__.py` that runs the main module.

#include <string>

namespace quorvex::whl {

/// The text of the package's `__init__.py`: `libraryFile` is the library's name inside the
/// package; it loads the library's bootstrap, which serves the compiled modules and runs the
/// package's compiled `__init__`. A non-empty `reexported` names the module, relative to the
/// package, whose public names the package re-exports.
std::string packageInit(const std::string& libraryFile, const std::string& reexported);

/// The text of the package's `__main__.py`, which imports `moduleImportPath` relative to the
/// package (the package itself when empty) and calls its `main()` when it has one.
std::string packageMain(const std::string& moduleImportPath);

} // namespace quorvex::whl
