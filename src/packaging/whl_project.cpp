#include "packaging/whl.hpp"

#include "core/log.hpp"
#include "packaging/whl_io.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_project_keys.hpp"
#include "packaging/whl_specifier.hpp"
#include "packaging/whl_text.hpp"
#include "packaging/whl_version.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::whl {

std::optional<fs::path> find_active_pyproject(const fs::path& current_dir) {
  fs::path dir = current_dir;
  if (!dir.has_filename() && dir.has_relative_path()) dir = dir.parent_path();
  for (;;) {
    // "." is left out of the joined path, as Python's path joining does.
    fs::path candidate = dir == "." ? fs::path("pyproject.toml") : dir / "pyproject.toml";
    if (fs::is_regular_file(candidate)) return candidate;
    // The root of a repository ends the search: a project file above it belongs elsewhere.
    if (fs::is_directory(dir / ".git")) return std::nullopt;
    fs::path parent = dir.parent_path();
    if (parent == dir || dir == ".") return std::nullopt;
    // A relative path's last ancestor is the working directory itself.
    dir = parent.empty() ? fs::path(".") : parent;
  }
}

const toml::table& Project::table() const { return *document["project"].as_table(); }

toml::table parseProjectFile(const fs::path& pyprojectPath) {
  std::string text = readBytes(pyprojectPath);
  try {
    return toml::parse(text, pyprojectPath.string());
  } catch (const toml::parse_error& error) {
    throw std::runtime_error(fmt::format("{}:{}:{}: invalid TOML: {}", pyprojectPath.string(),
                                         error.source().begin.line, error.source().begin.column,
                                         error.description()));
  }
}

namespace {

// `written` in its normal form; refused, naming `origin`, when it holds a line break or is no
// version.
std::string checkedVersion(const std::string& written, const std::string& origin) {
  refuseLineBreak(written, origin);
  std::optional<std::string> normal = normalizeVersion(written);
  if (!normal)
    throw std::runtime_error(fmt::format("{} is '{}', not a valid version (for example 1.0, "
                                         "2.1b3, 1.0.post1 or 1.0.dev2)",
                                         origin, shown(written)));
  return *normal;
}

} // namespace

Project readProject(const fs::path& pyprojectPath,
                    const std::optional<std::string>& versionOverride) {
  Project project;
  project.path = pyprojectPath;
  project.document = parseProjectFile(pyprojectPath);
  const toml::node* table = project.document.get("project");
  if (!table)
    throw std::runtime_error(
        fmt::format("{}: missing table [project]; {}", pyprojectPath.string(), projectTableAdvice));
  if (!table->is_table())
    throw std::runtime_error(pyprojectPath.string() + ": 'project' is not a table");
  checkProjectKeys(pyprojectPath, *table->as_table());
  const toml::node* name = table->as_table()->get("name");
  if (!name) throw std::runtime_error(pyprojectPath.string() + ": missing key 'name' in [project]");
  if (!name->is_string())
    throw std::runtime_error(fmt::format("{}: 'project.name' must be a string, not {}",
                                         pyprojectPath.string(), kindAndValue(*name)));
  project.name = name->as_string()->get();
  // Installers refuse a wheel whose name or version they cannot read, and compare versions in
  // their normal form: check both before anything is built, and carry the normal form.
  if (!isValidProjectName(project.name))
    throw std::runtime_error(fmt::format(
        "{}: 'name' in [project] is '{}', not a valid project name: use ASCII letters, digits, "
        "'.', '_' and '-', beginning and ending with a letter or digit",
        pyprojectPath.string(), shown(project.name)));
  // The table's own version is checked whether or not --version replaces it.
  if (versionOverride) project.version = checkedVersion(*versionOverride, "--version");
  const toml::node* version = table->as_table()->get("version");
  std::optional<std::string> tableVersion;
  if (version) {
    if (!version->is_string())
      throw std::runtime_error(fmt::format("{}: 'project.version' must be a string, not {}",
                                           pyprojectPath.string(), kindAndValue(*version)));
    tableVersion = checkedVersion(version->as_string()->get(),
                                  pyprojectPath.string() + ": 'version' in [project]");
  }
  if (versionOverride) {
    // The flag is meant (a release or nightly build stamps its own version), but a version
    // that the project file states as well must not be replaced in silence.
    if (tableVersion && *tableVersion != project.version)
      log::getLogger("quorvex.whl")
          .warning("{}: --version '{}' replaces the version '{}' of [project]; the wheel and "
                   "the installed metadata carry {}",
                   pyprojectPath.string(), shown(*versionOverride),
                   shown(version->as_string()->get()), project.version);
  } else {
    const toml::array* dynamic = table->as_table()->get_as<toml::array>("dynamic");
    const bool versionIsDynamic =
        dynamic && std::any_of(dynamic->begin(), dynamic->end(), [](const toml::node& item) {
          return item.value<std::string>() == "version";
        });
    if (!version && versionIsDynamic)
      throw std::runtime_error(pyprojectPath.string() +
                               ": the version is dynamic (dynamic = [\"version\"] in [project]) "
                               "and only a build backend computes it; give it with --version");
    if (!version)
      throw std::runtime_error(pyprojectPath.string() + ": missing key 'version' in [project]");
    project.version = *tableVersion;
  }
  // The wheel's file name holds the name, the version and the tags; file systems allow 255
  // bytes a name, and the tags can take some 100.
  constexpr std::size_t maxNameAndVersion = 150;
  if (project.name.size() + 1 + project.version.size() > maxNameAndVersion) {
    throw std::runtime_error(fmt::format(
        "{}: the name '{}' and the version '{}' (from {}) have {} characters together, more "
        "than the {} that leave room for the tags in the wheel's file name (at most 255 bytes)",
        pyprojectPath.string(), shown(project.name), shown(project.version),
        versionOverride ? "--version" : "'version' in [project]",
        project.name.size() + 1 + project.version.size(), maxNameAndVersion));
  }
  project.metadata = readCoreMetadata(project);
  checkRequiresPython(pyprojectPath, *table->as_table());
  return project;
}

} // namespace quorvex::whl
