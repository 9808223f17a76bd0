#include "packaging/whl_metadata.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <stdexcept>

namespace quorvex::whl {

namespace {

[[noreturn]] void refuse(const Project& project, const std::string& what) {
  throw std::runtime_error(project.path.string() + ": " + what);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

bool isWordByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Identifiers joined by dots.
bool isDottedName(std::string_view text) {
  if (text.empty()) return false;
  bool partStart = true;
  for (char c : text) {
    if (c == '.') {
      if (partStart) return false;
      partStart = true;
    } else if (!isWordByte(c) || (partStart && c >= '0' && c <= '9')) {
      return false;
    } else {
      partStart = false;
    }
  }
  return !partStart;
}

// "module", "module:attribute" or either with extras in brackets, as installers read a value.
bool isObjectReference(const std::string& value) {
  std::string text = trim(value);
  if (const auto bracket = text.find('['); bracket != std::string::npos) {
    if (!text.ends_with(']')) return false;
    text = trim(text.substr(0, bracket));
  }
  const auto colon = text.find(':');
  if (colon == std::string::npos) return isDottedName(text);
  return isDottedName(trim(text.substr(0, colon))) && isDottedName(trim(text.substr(colon + 1)));
}

// A name the file's "name = value" lines can carry; a script's name also becomes a file name.
bool isEntryName(const std::string& name, bool script) {
  if (name.empty() || isSpace(name.front()) || isSpace(name.back()) || name.front() == '[')
    return false;
  for (char c : name)
    if (c == '=' || c == '\n' || c == '\r' || (script && (c == '/' || c == '\\'))) return false;
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
      refuse(project, fmt::format("'{}' in '{}' must be a string", name, key));
    if (!isEntryName(name, script))
      refuse(project, fmt::format("'{}' in '{}' is no valid entry point name{}", name, key,
                                  script ? " (a script's name becomes a file name)" : ""));
    const std::string& reference = value->as_string()->get();
    if (!isObjectReference(reference))
      refuse(project, fmt::format("'{}' in '{}' is '{}', not an object reference such as "
                                  "'package.module:function'",
                                  name, key, reference));
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
          group.find_first_of("[]\n\r") != std::string::npos)
        refuse(project, fmt::format("'{}' is no valid entry point group name", group));
      sections.push_back(section(project, group, *entries, key));
    }
  }
  return fmt::format("{}", fmt::join(sections, "\n"));
}

} // namespace quorvex::whl
