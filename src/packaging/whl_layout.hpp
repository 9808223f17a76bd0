#pragma once
// The generated package files of a library wheel: an `__init__.py` that loads the one shared
// library's bootstrap, the file at each compiled module's place, and a `__main__.py` that runs
// the main module.

#include <string>

namespace quorvex::whl {

/// The text of the package's `__init__.py`: `libraryFile` is the library's name inside the
/// package; it loads the library's bootstrap, which serves the compiled modules. A non-empty
/// `reexported` names the module, relative to the package, whose public names the package
/// re-exports.
std::string packageInit(const std::string& libraryFile, const std::string& reexported);

/// The text of the `__init__.py` of the private package that holds the library: it loads the
/// library's bootstrap, which serves every compiled module under its own name.
std::string privatePackageInit(const std::string& libraryFile);

/// The text of the file installed at the place of the library's compiled module or package
/// `name` ("report.py", "app/sub/__init__.py"): it loads the library through `privatePackage`,
/// once per process, and runs the compiled body of `name` into itself.
std::string moduleStub(const std::string& privatePackage, const std::string& name);

/// The text of the package's `__main__.py`, which imports `moduleImportPath` relative to the
/// package (the package itself when empty) and, when it has a `main()`, exits with its result
/// as `sys.exit(main())` does.
std::string packageMain(const std::string& moduleImportPath);

} // namespace quorvex::whl
