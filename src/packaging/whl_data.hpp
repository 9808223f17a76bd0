#pragma once
// What a library wheel installs from its sources: the compiled modules, each given a file at
// its place, and the package data, the files in its packages' directories that were not
// compiled into the library.

#include <filesystem>
#include <string>
#include <vector>

namespace quorvex::whl {

/// One data file: where it is read from, and its place below the source root ("app/x.json").
struct DataFile {
  std::filesystem::path source;
  std::string place;
};

/// A compiled module of a library by its dotted name; `package` when it is a package's own
/// "__init__", which makes the package a regular one (a directory without one is a namespace
/// package, as under CPython).
struct LibraryModule {
  std::string name;
  bool package = false;
};

/// Every file below the top-level package directories of `sources` (paths relative to `base`),
/// ordered by place, leaving out the compiled sources themselves, hidden files and
/// directories (version control, caches, the build directory), "__pycache__", virtual
/// environments, compiled objects and libraries (".pyc", ".pyo", ".o", ".obj", ".so", ".pyd")
/// and the ".c" or ".cpp" file beside a compiled source of the same stem.
std::vector<DataFile> packageData(const std::filesystem::path& base,
                                  const std::vector<std::filesystem::path>& sources);

} // namespace quorvex::whl
