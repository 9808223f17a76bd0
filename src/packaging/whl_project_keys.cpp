#include "packaging/whl_project_keys.hpp"

#include "core/log.hpp"
#include "packaging/whl_near_miss.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cctype>
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

// Fields without which a wheel installs otherwise: what it needs, on which Pythons, the entry
// points it provides, and (for a library, whose wheel carries them) its commands.
constexpr std::array<std::string_view, 4> installFields{"dependencies", "optional-dependencies",
                                                        "requires-python", "entry-points"};
constexpr std::array<std::string_view, 2> scriptFields{"scripts", "gui-scripts"};

bool contains(std::span<const std::string_view> keys, std::string_view key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

[[noreturn]] void refuse(const fs::path& pyproject, const std::string& what) {
  throw std::runtime_error(pyproject.string() + ": " + what);
}

std::string didYouMean(std::optional<std::string_view> closest) {
  return closest ? fmt::format("; did you mean '{}'?", *closest) : "";
}

// A key of a table that the standard does not define for it.
struct UnknownKey {
  std::string where; // the table, as refusals name it
  std::string key;
  std::optional<std::string_view> nearest;
  const toml::node* value;
};

std::vector<UnknownKey> unknownKeys(const toml::table& table, const std::string& where,
                                    std::span<const std::string_view> known) {
  std::vector<UnknownKey> unknown;
  for (const auto& [key, value] : inFileOrder(table))
    if (!contains(known, key))
      unknown.push_back({where, key, closestKey(key, known), value});
  return unknown;
}

std::string refusal(const fs::path& pyproject, const UnknownKey& unknown,
                    const std::string& otherwise) {
  return fmt::format("{}: {} holds the key '{}', which the pyproject.toml standard does not "
                     "define{}",
                     pyproject.string(), unknown.where, shown(unknown.key),
                     unknown.nearest ? didYouMean(unknown.nearest) : otherwise);
}

// Whether `text` reads as a URL: a scheme, "://" and no blank.
bool isUrl(std::string_view text) {
  const std::size_t colon = text.find("://");
  if (colon == std::string_view::npos || colon == 0 || colon + 3 == text.size() ||
      !std::isalpha(static_cast<unsigned char>(text[0])))
    return false;
  const auto schemeCharacter = [](unsigned char c) {
    return std::isalnum(c) || c == '+' || c == '.' || c == '-';
  };
  return std::all_of(text.begin(), text.begin() + colon, schemeCharacter) &&
         std::none_of(text.begin() + colon, text.end(),
                      [](unsigned char c) { return std::isspace(c); });
}

// Whether `node` is a URL, or a table or array of nothing but URLs.
bool holdsUrls(const toml::node& node) {
  if (const toml::value<std::string>* text = node.as_string())
    return isUrl(text->get());
  bool some = false;
  bool all = true;
  const auto visit = [&](const toml::node& inner) {
    some = true;
    all = all && holdsUrls(inner);
  };
  if (const toml::table* table = node.as_table())
    for (const auto& entry : *table)
      visit(entry.second);
  else if (const toml::array* array = node.as_array())
    for (const toml::node& entry : *array)
      visit(entry);
  return some && all;
}

// A file may hold any number of keys: a message names this many, and counts the others.
constexpr std::size_t mostNamed = 12;

// 'a', 'b' and 'c'; 'a', ..., 'l' and 3 more.
std::string listed(const std::vector<std::string>& keys) {
  const std::size_t named = std::min(keys.size(), mostNamed);
  std::string out;
  for (std::size_t i = 0; i < named; ++i)
    out += fmt::format("{}'{}'", i == 0 ? "" : i + 1 == keys.size() ? " and " : ", ",
                       shown(keys[i]));
  if (named < keys.size())
    out += fmt::format(" and {} more", keys.size() - named);
  return out;
}

// One warning for the keys of [project] that are no near miss of a defined key: keys other
// tools read (hatchling's `include`) or that earlier tools defined (`homepage`), which the
// projects' own back-ends pass over.
void warnOfLeftovers(const fs::path& pyproject, const std::vector<UnknownKey>& leftovers) {
  if (leftovers.empty())
    return;
  std::vector<std::string> keys;
  std::vector<std::string> urls;
  for (const UnknownKey& leftover : leftovers) {
    keys.push_back(leftover.key);
    if (holdsUrls(*leftover.value))
      urls.push_back(leftover.key);
  }
  const bool one = keys.size() == 1;
  std::string advice;
  if (!urls.empty())
    advice += fmt::format(". {} {} in [project.urls] to reach the wheel's METADATA",
                          listed(urls),
                          urls.size() == 1 ? "holds a URL, which belongs"
                                           : "hold URLs, which belong");
  if (urls.size() < keys.size())
    advice += "; a tool's own settings belong in [tool.<name>]";
  log::getLogger("quorvex.whl")
      .warning("{}: [project] holds the {} {}, which the pyproject.toml standard does not "
               "define; the build ignores {}{}",
               pyproject.string(), one ? "key" : "keys", listed(keys), one ? "it" : "them",
               advice);
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
                                    number, shown(field),
                                    didYouMean(closestKey(field, fieldKeys))));
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

void checkProjectKeys(const fs::path& pyproject, const toml::table& project) {
  // A near miss anywhere, and any other key in the small tables, is refused; every such key of
  // the file at once, a line each.
  std::vector<std::string> refused;
  std::vector<UnknownKey> leftovers;
  for (UnknownKey& unknown : unknownKeys(project, "[project]", projectKeys)) {
    if (unknown.nearest)
      refused.push_back(refusal(pyproject, unknown, ""));
    else
      leftovers.push_back(std::move(unknown));
  }
  const auto strict = [&](const toml::table& table, const std::string& where,
                          std::span<const std::string_view> known) {
    const std::string allowed =
        fmt::format("; it allows only '{}' there", fmt::join(known, "', '"));
    for (const UnknownKey& unknown : unknownKeys(table, where, known))
      refused.push_back(refusal(pyproject, unknown, allowed));
  };
  for (const char* people : {"authors", "maintainers"}) {
    const toml::array* entries = project.get_as<toml::array>(people);
    if (!entries)
      continue;
    std::size_t number = 0;
    for (const toml::node& entry : *entries) {
      ++number;
      if (const toml::table* person = entry.as_table())
        strict(*person, fmt::format("entry {} of 'project.{}'", number, people), personKeys);
    }
  }
  const toml::table* readme = project.get_as<toml::table>("readme");
  if (readme)
    strict(*readme, "'project.readme'", readmeKeys);
  const toml::table* license = project.get_as<toml::table>("license");
  if (license)
    strict(*license, "'project.license'", licenseKeys);
  if (refused.size() > mostNamed) {
    const std::size_t more = refused.size() - mostNamed;
    refused.resize(mostNamed);
    refused.push_back(fmt::format("{}: and {} more keys like these", pyproject.string(), more));
  }
  if (!refused.empty())
    throw std::runtime_error(fmt::format("{}", fmt::join(refused, "\n")));
  // The table is the older form of the licence; the standard has back-ends refuse it beside
  // the newer license-files, whose files it would contradict.
  if (license && project.contains("license-files"))
    refuse(pyproject, "'project.license' is a table, which the pyproject.toml standard allows "
                      "only without 'project.license-files': give the licence as an SPDX "
                      "expression string, or remove 'license-files'");
  dynamicFields(pyproject, project);
  warnOfLeftovers(pyproject, leftovers);
}

void checkDynamicFields(const fs::path& pyproject, const toml::table& project, bool library) {
  std::vector<std::string> fields = dynamicFields(pyproject, project);
  std::erase(fields, "version");
  for (const std::string& field : fields)
    if (contains(installFields, field) || (library && contains(scriptFields, field)))
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
                 contains(scriptFields, field) ? "a program's wheel carries no scripts"
                 : contains(unwrittenFields, field)
                     ? "nor would it carry it written in [project]: METADATA 2.1 has no field "
                       "for it"
                     : "write it in [project] to have it");
}

} // namespace quorvex::whl
