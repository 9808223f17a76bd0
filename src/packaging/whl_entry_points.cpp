#include "core/identifier.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <optional>
#include <stdexcept>

namespace quorvex::whl {

namespace {

[[noreturn]] void refuse(const Project& project, const std::string& what) {
  throw std::runtime_error(project.path.string() + ": " + what);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// The first of the dot-separated parts of `text` that is no Python identifier, none when all
// are: the installed script imports the module and reads the attribute by these names.
std::optional<std::string> nonIdentifierPart(std::string_view text) {
  for (std::size_t start = 0;;) {
    const std::size_t dot = text.find('.', start);
    const std::string_view part = text.substr(start, dot - start);
    if (!identifier::isPythonIdentifier(part)) return std::string(part);
    if (dot == std::string_view::npos) return std::nullopt;
    start = dot + 1;
  }
}

// Why `value` is no "module", "module:attribute" or either with extras in brackets, as
// installers read a value: a reason to add to the refusal, empty when the form alone is wrong;
// none when it is an object reference.
std::optional<std::string> referenceFault(const std::string& value) {
  if (lineBreakAt(value)) return std::string("; it holds a line break");
  std::string text = trim(value);
  if (const auto bracket = text.find('['); bracket != std::string::npos) {
    if (!text.ends_with(']')) return std::string();
    text = trim(text.substr(0, bracket));
  }
  const auto colon = text.find(':');
  std::optional<std::string> part = nonIdentifierPart(trim(text.substr(0, colon)));
  if (!part && colon != std::string::npos) part = nonIdentifierPart(trim(text.substr(colon + 1)));
  if (!part) return std::nullopt;
  return part->empty() ? std::string() : "; '" + *part + "' is no Python identifier";
}

// A name the file's "name = value" lines can carry; a script's name also becomes a file name.
bool isEntryName(const std::string& name, bool script) {
  if (name.empty() || isSpace(name.front()) || isSpace(name.back()) || name.front() == '[')
    return false;
  if (lineBreakAt(name)) return false;
  for (char c : name)
    if (c == '=' || (script && (c == '/' || c == '\\'))) return false;
  return !script || (name != "." && name != "..");
}

// The "[group]" section of `table`, the project file's `key`.
std::string section(const Project& project, const std::string& group, const toml::node& table,
                    const std::string& key) {
  if (!table.is_table()) refuse(project, "'" + key + "' must be a table of strings");
  const bool script = group == "console_scripts" || group == "gui_scripts";
  std::string text = "[" + group + "]\n";
  for (const auto& [name, value] : inFileOrder(*table.as_table())) {
    if (!value->is_string())
      refuse(project, fmt::format("'{}' in '{}' must be a string", shown(name), key));
    if (!isEntryName(name, script))
      refuse(project, fmt::format("'{}' in '{}' is no valid entry point name{}", shown(name), key,
                                  script ? " (a script's name becomes a file name)" : ""));
    const std::string& reference = value->as_string()->get();
    if (const std::optional<std::string> fault = referenceFault(reference))
      refuse(project, fmt::format("'{}' in '{}' is '{}', not an object reference such as "
                                  "'package.module:function'{}",
                                  shown(name), key, shown(reference), *fault));
    text += name + " = " + trim(reference) + "\n";
  }
  return text;
}

} // namespace

std::string entryPointsText(const Project& project) {
  const toml::table& table = project.table();
  std::vector<std::string> sections;
  if (const toml::node* scripts = table.get("scripts"))
    sections.push_back(section(project, "console_scripts", *scripts, "project.scripts"));
  if (const toml::node* scripts = table.get("gui-scripts"))
    sections.push_back(section(project, "gui_scripts", *scripts, "project.gui-scripts"));
  if (const toml::node* groups = table.get("entry-points")) {
    if (!groups->is_table()) refuse(project, "'project.entry-points' must be a table of tables");
    for (const auto& [group, entries] : inFileOrder(*groups->as_table())) {
      const std::string key = "project.entry-points." + group;
      if (group == "console_scripts" || group == "gui_scripts")
        refuse(project, fmt::format("'{}' is not allowed: give these in [project.{}]", key,
                                    group == "console_scripts" ? "scripts" : "gui-scripts"));
      if (group.empty() || isSpace(group.front()) || isSpace(group.back()) ||
          group.find_first_of("[]") != std::string::npos || lineBreakAt(group))
        refuse(project, fmt::format("'{}' is no valid entry point group name", shown(group)));
      sections.push_back(section(project, group, *entries, key));
    }
  }
  return fmt::format("{}", fmt::join(sections, "\n"));
}

} // namespace quorvex::whl
