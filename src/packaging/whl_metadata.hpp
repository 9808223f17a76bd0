#pragma once
// The project file and the wheel's metadata texts: METADATA from the `[project]` table (with
// the readme it names), WHEEL from the tag, and the names of a library's package layout.

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvex::whl {

/// An author or maintainer: a name, an email address, or both; an absent one is empty.
struct Person {
  std::string name;
  std::string email;
};

/// The `[project]` values that METADATA carries, read and checked (`readProject`).
struct CoreMetadata {
  std::optional<std::string> summary;        ///< the description's first line
  std::optional<std::string> requiresPython; ///< as written
  std::vector<Person> authors;
  std::vector<Person> maintainers;
  std::optional<std::string> license; ///< a string, or the text of `{text}` or `{file}`
  std::vector<std::string> keywords;
  std::vector<std::string> classifiers;
  std::vector<std::pair<std::string, std::string>> urls; ///< label and URL, in file order
  std::vector<std::string> dependencies;
  /// Each extra as written, with its dependencies, in file order.
  std::vector<std::pair<std::string, std::vector<std::string>>> extras;
  std::optional<std::string> description;            ///< the readme's text, LF line ends
  std::optional<std::string> descriptionContentType; ///< the readme's content type
};

/// A parsed project file with the values the wheel takes from it.
struct Project {
  std::filesystem::path path; ///< the "pyproject.toml" that was read
  toml::table document;       ///< the whole parsed file
  std::string name;           ///< `project.name`, as written
  std::string version;        ///< the version argument, else `project.version`, normalised
  CoreMetadata metadata;      ///< what METADATA carries besides the name and version

  /// The `[project]` table of `document`.
  const toml::table& table() const;
};

/// What a project without a `[project]` table, one that keeps its metadata in setup.cfg or
/// setup.py, must write to have a wheel made; the refusals of a missing table or file end with it.
inline constexpr char projectTableAdvice[] =
    "a wheel takes its name, version and metadata from the [project] table of pyproject.toml "
    "alone (setup.cfg, setup.py and a back-end's own tables such as [tool.poetry] are not "
    "read), which needs at least:\n"
    "  [project]\n"
    "  name = \"<the project's name>\"\n"
    "  version = \"<its version>\"\n"
    "(or dynamic = [\"version\"] in place of the version, given with --version)";

/// Parses the project file `pyprojectPath`. Throws a `std::runtime_error` naming the file for a
/// read or TOML error (with line and column).
toml::table parseProjectFile(const std::filesystem::path& pyprojectPath);

/// Reads and parses `pyprojectPath` and checks every value of its `[project]` table that the
/// wheel carries, reading the readme and licence files it names. `versionOverride` (the empty
/// text included) replaces the file's version, which is then not required. Throws a
/// `std::runtime_error` naming the file for a read or TOML error (with line and column), or the
/// missing `[project]` table (with what to write there) or key, naming the keys that misspell
/// those the standard defines or a `dynamic` list a back-end must refuse (`checkProjectKeys`,
/// which warns of the other keys it does not define), and naming the key (or `--version`) and the
/// value for a value installers or METADATA readers would refuse or read otherwise
/// (`readCoreMetadata`), a dependency or a `requires-python` that the packaging library would
/// not read.
Project readProject(const std::filesystem::path& pyprojectPath,
                    const std::optional<std::string>& versionOverride);

/// Throws a `std::runtime_error` that begins with `what` when `written` holds a character at
/// which readers of METADATA end a line (`lineBreakAt`).
void refuseLineBreak(std::string_view written, const std::string& what);

/// The METADATA values of the `[project]` table of `project`, each checked as the packaging
/// standards and installers judge it: the kind of every value; no line break in a value that
/// becomes a header; people with a name or a valid email address; a readme (a file whose suffix
/// tells its content type, or a table with `file` or `text` and a `content-type` that
/// METADATA allows) and a licence file that exist inside the project file's directory (links
/// followed) and are UTF-8; URL labels that stay distinct and keywords that read back as
/// written; valid, distinct extras and valid dependencies; arrays of strings for the keys
/// METADATA 2.1 does not carry. A description of several lines gives its first as the summary,
/// with a warning; URL labels and URLs are taken without the blanks around them, as readers
/// take them. Throws a `std::runtime_error` naming the file, the key and the value (`shown`).
CoreMetadata readCoreMetadata(const Project& project);

/// Why `contentType` is no Description-Content-Type that METADATA readers accept (text/plain,
/// text/x-rst or text/markdown in any case, with parameters; a charset only UTF-8, a Markdown
/// variant only GFM or CommonMark); none when it is one.
std::optional<std::string> contentTypeError(std::string_view contentType);

/// The METADATA text (core metadata 2.1) of `project`: header lines from its `metadata` (a
/// Provides-Extra header per extra, followed by its dependencies as Requires-Dist headers with
/// the marker `extra == "<name>"`; a name that needs it quoted in an address; a licence of
/// several lines folded), a blank line, then the readme's text.
std::string metadataText(const Project& project);

/// The entry_points.txt text of `project`: a "[group]" section of "name = value" lines for
/// `[project.scripts]` (console_scripts) and `[project.gui-scripts]` (gui_scripts), unless
/// `withScripts` is false, and each `[project.entry-points.<group>]` table, in that order, each
/// in the order of the file; empty when there are none. A value is written without blanks
/// around its ":" and before its "[". Throws a `std::runtime_error` naming the file, the key and
/// the value for a value of the wrong kind, a name that cannot stand in the file (one beginning
/// with "#" or ";" is read as a comment) or, for a script, as a plain file name, a value that is
/// no object reference or, for a script, names no function, and a console_scripts or
/// gui_scripts group among the entry-points tables.
std::string entryPointsText(const Project& project, bool withScripts = true);

/// The entry_points.txt text of a program's wheel: the `[project.entry-points]` groups only,
/// as `entryPointsText` writes them. The program is the command, so no script group is written.
inline std::string programEntryPointsText(const Project& project) {
  return entryPointsText(project, false);
}

/// Each group of `project`'s `[project.entry-points]` that other programs load from every
/// distribution of their environment (`pytest11`: pytest at every start), with the program
/// that loads it, unless that program is the project itself. Written by a program's wheel, such
/// a group names a module that only the program itself can import.
std::vector<std::pair<std::string, std::string>> groupsLoadedElsewhere(const Project& project);

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
