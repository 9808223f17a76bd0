#pragma once
// The project file and the wheel's metadata texts: METADATA from the `[project]` table (with
// the readme it names), WHEEL from the tag, and the names of a library's package layout.

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::whl {

/// A parsed project file with the values the wheel takes from it.
struct Project {
  std::filesystem::path path; ///< the "pyproject.toml" that was read
  toml::table document;       ///< the whole parsed file
  std::string name;           ///< `project.name`, as written
  std::string version;        ///< the version argument, else `project.version`, normalised

  /// The `[project]` table of `document`.
  const toml::table& table() const;
};

/// Parses the project file `pyprojectPath`. Throws a `std::runtime_error` naming the file for a
/// read or TOML error (with line and column).
toml::table parseProjectFile(const std::filesystem::path& pyprojectPath);

/// Reads and parses `pyprojectPath`. `versionOverride` (the empty text included) replaces the
/// file's version, which is then not required. Throws a `std::runtime_error` naming the file
/// for a read or TOML error (with line and column), or the missing `[project]` table or key,
/// and naming the key or `--version` for a project name, version, dependency
/// or `requires-python` installers would refuse, or for a value that would break a METADATA
/// header (`checkHeaderValues`).
Project readProject(const std::filesystem::path& pyprojectPath,
                    const std::optional<std::string>& versionOverride);

/// Throws a `std::runtime_error` that begins with `what` when `written` holds a character at
/// which readers of METADATA end a line (`lineBreakAt`).
void refuseLineBreak(std::string_view written, const std::string& what);

/// Throws a `std::runtime_error` naming the project file and the key when a value of its
/// `[project]` table that METADATA carries in a header holds a line break (`description` is
/// left out: METADATA keeps its first line), when an extra of `optional-dependencies` has no
/// valid name, or when two extras have the same normal name. A value of another kind than
/// expected is left to the step that reads it.
void checkHeaderValues(const Project& project);

/// The METADATA text (core metadata 2.1) of `project`: header lines from its `[project]` table
/// (a Provides-Extra header per extra, followed by its dependencies as Requires-Dist headers
/// with the marker `extra == "<name>"`), a blank line, then the readme's text with LF line ends.
/// A description of several lines gives its first as the Summary, with a warning. Throws a
/// `std::runtime_error` naming the file and key when a value has the wrong kind, or the readme
/// when it cannot be read as UTF-8.
std::string metadataText(const Project& project);

/// The entry_points.txt text of `project`: a "[group]" section of "name = value" lines for
/// `[project.scripts]` (console_scripts), `[project.gui-scripts]` (gui_scripts) and each
/// `[project.entry-points.<group>]` table, in that order, each in the order of the file; empty
/// when there are none. Throws a `std::runtime_error` naming the file and key for a value of the
/// wrong kind, a name that cannot stand in the file (or, for a script, as a file name), a value
/// that is no object reference, and a console_scripts or gui_scripts group among the
/// entry-points tables.
std::string entryPointsText(const Project& project);

/// The WHEEL text for the tag "python-abi-platform".
std::string wheelText(const std::string& fullTag);

/// The final suffix of a file name: from its last ".", when that dot is neither its first nor
/// its last character; otherwise empty.
std::string fileSuffix(const std::string& fileName);

/// The suffix of the shared library inside a library wheel: the final suffix of `extSuffix`,
/// or of `libraryName` when `extSuffix` is empty; ".so" when that has none.
std::string moduleSuffix(const std::string& extSuffix, const std::string& libraryName);

/// Where a library wheel puts its package and how it finds its main module.
struct ModuleNames {
  std::string package;    ///< the package directory and the name its modules are served under
  std::string importPath; ///< the main module relative to `package` ("" for the package itself)
  bool prefixed = false;  ///< whether the modules are served below `package`, as the project's
};

/// The names for the project `projectName` whose modules form the top-level package
/// `topPackage`, if any: that package, else the project name as an identifier (lower case, "-"
/// and "." as "_") holding the modules. The main module defaults to the package.
ModuleNames moduleNames(const std::string& projectName,
                        const std::optional<std::string>& topPackage,
                        const std::optional<std::string>& mainModuleName);

} // namespace quorvex::whl
