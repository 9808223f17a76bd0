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

// The project file for its copy in another directory: sources that uv finds by a path relative
// to the project are given by absolute paths, so that they are found from the copy too.
std::string projectFileForCopy(const fs::path& pyproject) {
  toml::table document = whl::parseProjectFile(pyproject);
  toml::table* sources = document["tool"]["uv"]["sources"].as_table();
  if (!sources) return fileio::readFile(pyproject);
  const fs::path directory = fs::absolute(pyproject).parent_path();
  const auto anchor = [&](toml::node& node) {
    toml::table* source = node.as_table();
    toml::value<std::string>* path = source ? source->get_as<std::string>("path") : nullptr;
    if (path && fs::path(path->get()).is_relative())
      *path = (directory / path->get()).lexically_normal().generic_string();
  };
  for (auto&& [name, value] : *sources) {
    if (toml::array* alternatives = value.as_array())
      for (toml::node& alternative : *alternatives) anchor(alternative);
    else
      anchor(value);
  }
  std::ostringstream text;
  text << document << "\n";
  return text.str();
}

} // namespace

void exportRequirements(Context& context, const fs::path& sourcePath,
                        const fs::path& requirementsPath) {
  // The project itself is no dependency: an editable install of it would tie the directory
  // to the source tree and shadow the wheel installed from it.
  const std::string exportCommand = "uv export --no-dev --no-emit-project --output-file " +
                                    utils::quoteWord(requirementsPath.string());
  const std::optional<fs::path> pyproject = whl::find_active_pyproject(sourcePath);
  if (!pyproject)
    throw std::runtime_error("No pyproject.toml found at or above '" + sourcePath.string() +
                             "' to export the dependencies from");
  const fs::path lock = pyproject->parent_path() / "uv.lock";
  const bool locked = fs::is_regular_file(lock);
  if (locked) {
    // A lock that still fits the project file is exported as it is; uv writes nothing then,
    // and refuses, writing nothing either, when the lock would change.
    const chdir inProject(pyproject->parent_path());
    if (succeeds(context, exportCommand + " --locked")) return;
  }
  // Otherwise uv would write the project's lock: it resolves in a copy of the project file
  // instead, starting from the old lock so that the versions it pins are kept where they fit.
  const fs::path copy = fs::absolute(context.buildPath() / "uv-project");
  fs::remove_all(copy);
  fs::create_directories(copy);
  fileio::writeFile(copy / "pyproject.toml", projectFileForCopy(*pyproject));
  if (locked) fs::copy_file(lock, copy / "uv.lock");
  logger().info("Resolving the project's dependencies in {}", copy.string());
  {
    const chdir inCopy(copy);
    utils::system(context, exportCommand);
  }
  if (locked && fileio::readFile(copy / "uv.lock") != fileio::readFile(lock))
    logger().warning("The project's uv.lock is out of date with {}: its dependencies were "
                     "resolved again, and the lock was left as it is (`uv lock` updates it)",
                     pyproject->string());
}

} // namespace quorvex::embed
