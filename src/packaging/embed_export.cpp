#include "packaging/embed.hpp"

#include "core/context.hpp"
#include "core/fileio.hpp"
#include "core/log.hpp"
#include "core/utils.hpp"
#include "packaging/whl.hpp"
#include "packaging/whl_metadata.hpp"

#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::embed {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.embed"); }

bool succeeds(Context& context, const std::string& command) {
  try {
    utils::system(context, command);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

// Whether `location` is a path that uv reads relative to the project; a URL ("https://...",
// "file:///...") is not. uv expands no "~" in these paths.
bool isRelativePath(const std::string& location) {
  const auto scheme = location.find("://");
  const bool url = scheme != std::string::npos && scheme > 0 &&
                   location.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789+-.") >= scheme;
  return !url && !location.empty() && fs::path(location).is_relative();
}

// The fields that the project's `dynamic` list leaves to its build back-end.
std::vector<std::string> dynamicFields(const fs::path& pyproject) {
  std::vector<std::string> fields;
  const toml::table document = whl::parseProjectFile(pyproject);
  if (const toml::array* dynamic = document["project"]["dynamic"].as_array())
    for (const toml::node& item : *dynamic)
      if (auto field = item.value<std::string>()) fields.push_back(*field);
  return fields;
}

} // namespace

// Sources, find-links directories and indexes that uv finds by a path relative to the project
// are given by absolute paths, so that they are found from the copy too.
std::string projectFileForCopy(const fs::path& pyproject) {
  toml::table document = whl::parseProjectFile(pyproject);
  toml::table* uv = document["tool"]["uv"].as_table();
  if (!uv) return fileio::readFile(pyproject);
  const fs::path directory = fs::absolute(pyproject).parent_path();
  const auto anchor = [&](toml::node* node) {
    toml::value<std::string>* location = node ? node->as_string() : nullptr;
    if (location && isRelativePath(location->get()))
      *location = (directory / location->get()).lexically_normal().generic_string();
  };
  // A location, a list of them, or a table (or a list of tables) that gives it under `key`.
  const auto anchorAll = [&](toml::node* node, const char* key) {
    const auto one = [&](toml::node& entry) {
      toml::table* table = entry.as_table();
      anchor(key ? (table ? table->get(key) : nullptr) : &entry);
    };
    if (!node) return;
    if (toml::array* list = node->as_array())
      for (toml::node& entry : *list) one(entry);
    else
      one(*node);
  };
  if (toml::table* sources = uv->get_as<toml::table>("sources"))
    for (auto&& [name, source] : *sources) anchorAll(&source, "path");
  anchorAll(uv->get("find-links"), nullptr);
  anchorAll(uv->get("index"), "url");
  anchorAll(uv->get("index-url"), nullptr);
  anchorAll(uv->get("extra-index-url"), nullptr);
  std::ostringstream text;
  text << document << "\n";
  return text.str();
}

fs::path exportRequirements(Context& context, const fs::path& sourcePath,
                            const fs::path& requirementsPath) {
  // The project itself is no dependency: an editable install of it would tie the directory
  // to the source tree and shadow the wheel installed from it. Editable dependencies (a path
  // source marked so, workspace members) are exported as plain paths, so that they are built
  // and copied in: the directory must run without their source trees.
  const std::string exportCommand =
      "uv export --no-dev --no-emit-project --no-editable --output-file " +
      utils::quoteWord(requirementsPath.string());
  const std::optional<fs::path> pyproject = whl::find_active_pyproject(sourcePath);
  if (!pyproject)
    throw std::runtime_error("No pyproject.toml found at or above '" + sourcePath.string() +
                             "' to export the dependencies from");
  const fs::path projectPath = fs::absolute(*pyproject).parent_path();
  const fs::path lock = projectPath / "uv.lock";
  const bool locked = fs::is_regular_file(lock);
  if (locked) {
    // A lock that still fits the project file is exported as it is; uv writes nothing then,
    // and refuses, writing nothing either, when the lock would change.
    const chdir inProject(projectPath);
    if (succeeds(context, exportCommand + " --locked")) return projectPath;
  }
  // Otherwise uv would write the project's lock: it resolves in a copy of the project file
  // instead, starting from the old lock so that the versions it pins are kept where they fit.
  const fs::path copy = fs::absolute(context.buildPath() / "uv-project");
  fs::remove_all(copy);
  fs::create_directories(copy);
  fileio::writeFile(copy / "pyproject.toml", projectFileForCopy(*pyproject));
  if (locked) fs::copy_file(lock, copy / "uv.lock");
  logger().info("Resolving the project's dependencies in {}", copy.string());
  try {
    const chdir inCopy(copy);
    utils::system(context, exportCommand);
  } catch (const std::runtime_error& error) {
    const std::vector<std::string> dynamic = dynamicFields(*pyproject);
    if (dynamic.empty()) throw;
    std::string fields;
    for (const std::string& field : dynamic) fields += (fields.empty() ? "'" : ", '") + field + "'";
    throw std::runtime_error(
        std::string(error.what()) + "\n" + pyproject->string() + ": the project's " + fields +
        (dynamic.size() == 1 ? " is" : " are") +
        " dynamic, which uv learns only by building the project in its own directory, not from "
        "the copy of pyproject.toml that it resolves in without a current lock: run `uv lock` in " +
        projectPath.string() + " and build again");
  }
  if (locked && fileio::readFile(copy / "uv.lock") != fileio::readFile(lock))
    logger().warning("The project's uv.lock is out of date with {}: its dependencies were "
                     "resolved again, and the lock was left as it is (`uv lock` updates it)",
                     pyproject->string());
  return projectPath;
}

Requirements resolveRequirements(Context& context, const fs::path& sourcePath) {
  // The build directory is relative to the working directory, which the export changes.
  const fs::path file =
      fs::weakly_canonical(fs::absolute(context.buildPath() / "requirements.txt"));
  logger().info("Exporting the project's requirements to {}", file.string());
  const fs::path projectPath = exportRequirements(context, sourcePath, file);
  return {file, projectPath};
}

} // namespace quorvex::embed
