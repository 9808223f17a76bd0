#include "packaging/whl_project_keys.hpp"

#include "core/log.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

// Every key of [project]: the name, the list of dynamic fields, then the fields that may be
// dynamic.
constexpr std::array<std::string_view, 20> projectKeys{
    "name",         "dynamic",          "version",
    "description",  "readme",           "requires-python",
    "license",      "license-files",    "authors",
    "maintainers",  "keywords",         "classifiers",
    "urls",         "scripts",          "gui-scripts",
    "entry-points", "dependencies",     "optional-dependencies",
    "import-names", "import-namespaces"};
constexpr std::span<const std::string_view> fieldKeys = std::span(projectKeys).subspan(2);
constexpr std::array<std::string_view, 2> personKeys{"name", "email"};
constexpr std::array<std::string_view, 3> readmeKeys{"file", "text", "content-type"};
constexpr std::array<std::string_view, 2> licenseKeys{"file", "text"};

// Fields without which a wheel installs otherwise: what it needs, on which Pythons, and (for a
// library, whose wheel carries them) the commands and entry points it provides.
constexpr std::array<std::string_view, 3> installFields{"dependencies", "optional-dependencies",
                                                        "requires-python"};
constexpr std::array<std::string_view, 3> entryPointFields{"scripts", "gui-scripts",
                                                           "entry-points"};

bool contains(std::span<const std::string_view> keys, std::string_view key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

[[noreturn]] void refuse(const fs::path& pyproject, const std::string& what) {
  throw std::runtime_error(pyproject.string() + ": " + what);
}

// Lower case, with "_" as "-": the spellings of one key that people mix up most.
std::string folded(std::string_view key) {
  std::string out = asciiLower(key);
  std::replace(out.begin(), out.end(), '_', '-');
  return out;
}

// The insertions, deletions, substitutions and swaps of neighbouring characters that turn `a`
// into `b`, each character edited once at most.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j)
    previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        current[j] = std::min(current[j], before[j - 2] + 1);
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::string suggestion(std::string_view key, std::span<const std::string_view> known) {
  const std::optional<std::string_view> closest = closestKey(key, known);
  return closest ? fmt::format("; did you mean '{}'?", *closest) : "";
}

// Refuses the first key of `table`, in the order of the file, that `known` does not hold, with
// the nearest known key or else `otherwise`.
void checkKeys(const fs::path& pyproject, const toml::table& table, const std::string& where,
               std::span<const std::string_view> known, const std::string& otherwise) {
  for (const auto& [key, value] : inFileOrder(table)) {
    if (contains(known, key))
      continue;
    std::string hint = suggestion(key, known);
    refuse(pyproject, fmt::format("{} holds the key '{}', which the pyproject.toml standard "
                                  "does not define{}",
                                  where, shown(key), hint.empty() ? otherwise : hint));
  }
}

void checkKeys(const fs::path& pyproject, const toml::table& table, const std::string& where,
               std::span<const std::string_view> known) {
  checkKeys(pyproject, table, where, known,
            fmt::format("; it allows only '{}' there", fmt::join(known, "', '")));
}

// The fields `dynamic` lists, each once, in the order of the file; what a build back-end must
// refuse is refused.
std::vector<std::string> dynamicFields(const fs::path& pyproject, const toml::table& project) {
  std::vector<std::string> fields;
  const toml::node* node = project.get("dynamic");
  if (!node)
    return fields;
  if (!node->is_array())
    refuse(pyproject, fmt::format("'project.dynamic' must be an array of strings, not {}",
                                  kindAndValue(*node)));
  std::size_t number = 0;
  for (const toml::node& entry : *node->as_array()) {
    ++number;
    if (!entry.is_string())
      refuse(pyproject, fmt::format("entry {} of 'project.dynamic' must be a string, not {}",
                                    number, kindAndValue(entry)));
    const std::string& field = entry.as_string()->get();
    if (field == "name")
      refuse(pyproject, "'project.dynamic' lists 'name', which may not be dynamic: installers "
                        "and build back-ends need it before anything is built; give it in "
                        "[project]");
    if (!contains(fieldKeys, field))
      refuse(pyproject, fmt::format("entry {} of 'project.dynamic', '{}', names no field of "
                                    "[project]{}",
                                    number, shown(field), suggestion(field, fieldKeys)));
    if (project.contains(field))
      refuse(pyproject, fmt::format("'{}' is given in [project] and also listed in "
                                    "'project.dynamic': a field is either given or left to a "
                                    "build back-end, never both; remove it from one of the two",
                                    field));
    if (std::find(fields.begin(), fields.end(), field) == fields.end())
      fields.push_back(field);
  }
  return fields;
}

} // namespace

std::optional<std::string_view> closestKey(std::string_view key,
                                           std::span<const std::string_view> known) {
  const std::string written = folded(key);
  std::optional<std::string_view> best;
  std::size_t bestDistance = 0;
  for (const std::string_view candidate : known) {
    const std::size_t distance = editDistance(written, candidate);
    if (!best || distance < bestDistance)
      best = candidate, bestDistance = distance;
  }
  // About one edit in four characters: "mail" is taken for "email", "home" not for "name".
  constexpr std::size_t charactersPerEdit = 4;
  if (best && bestDistance * charactersPerEdit <= std::max(best->size(), charactersPerEdit))
    return best;
  return std::nullopt;
}

void checkProjectKeys(const fs::path& pyproject, const toml::table& project) {
  checkKeys(pyproject, project, "[project]", projectKeys,
            "; it lists every key [project] may hold, and a tool's own settings belong in "
            "[tool.<name>]");
  for (const char* people : {"authors", "maintainers"}) {
    const toml::array* entries = project.get_as<toml::array>(people);
    if (!entries)
      continue;
    std::size_t number = 0;
    for (const toml::node& entry : *entries) {
      ++number;
      if (const toml::table* person = entry.as_table())
        checkKeys(pyproject, *person, fmt::format("entry {} of 'project.{}'", number, people),
                  personKeys);
    }
  }
  if (const toml::table* readme = project.get_as<toml::table>("readme"))
    checkKeys(pyproject, *readme, "'project.readme'", readmeKeys);
  if (const toml::table* license = project.get_as<toml::table>("license")) {
    checkKeys(pyproject, *license, "'project.license'", licenseKeys);
    // The table is the older form of the licence; the standard has back-ends refuse it beside
    // the newer license-files, whose files it would contradict.
    if (project.contains("license-files"))
      refuse(pyproject, "'project.license' is a table, which the pyproject.toml standard allows "
                        "only without 'project.license-files': give the licence as an SPDX "
                        "expression string, or remove 'license-files'");
  }
  dynamicFields(pyproject, project);
}

void checkDynamicFields(const fs::path& pyproject, const toml::table& project, bool library) {
  std::vector<std::string> fields = dynamicFields(pyproject, project);
  std::erase(fields, "version");
  for (const std::string& field : fields)
    if (contains(installFields, field) || (library && contains(entryPointFields, field)))
      refuse(pyproject, fmt::format("'project.dynamic' lists '{0}', which a build back-end would "
                                    "compute; this tool computes no dynamic field, and a wheel "
                                    "without '{0}' would install otherwise than the project "
                                    "means: write '{0}' in [project]",
                                    field));
  for (const std::string& field : fields)
    log::getLogger("quorvex.whl")
        .warning("{}: 'project.dynamic' lists '{}', which this tool does not compute: the wheel "
                 "is made without it ({})",
                 pyproject.string(), field,
                 contains(entryPointFields, field) ? "a program's wheel carries no entry points"
                                                   : "write it in [project] to have it");
}

} // namespace quorvex::whl
