#include "packaging/whl.hpp"
#include "packaging/whl_io.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_text.hpp"

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

Project readProject(const fs::path& pyprojectPath,
                    const std::optional<std::string>& versionOverride) {
  std::string text = readBytes(pyprojectPath);
  Project project;
  project.path = pyprojectPath;
  try {
    project.document = toml::parse(text, pyprojectPath.string());
  } catch (const toml::parse_error& error) {
    throw std::runtime_error(fmt::format("{}:{}:{}: invalid TOML: {}", pyprojectPath.string(),
                                         error.source().begin.line, error.source().begin.column,
                                         error.description()));
  }
  const toml::node* table = project.document.get("project");
  if (!table) throw std::runtime_error(pyprojectPath.string() + ": missing table [project]");
  if (!table->is_table())
    throw std::runtime_error(pyprojectPath.string() + ": 'project' is not a table");
  const toml::node* name = table->as_table()->get("name");
  if (!name) throw std::runtime_error(pyprojectPath.string() + ": missing key 'name' in [project]");
  project.name = textOf(*name);
  if (versionOverride) {
    project.version = *versionOverride;
  } else {
    const toml::node* version = table->as_table()->get("version");
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
    project.version = textOf(*version);
  }
  return project;
}

} // namespace quorvex::whl
