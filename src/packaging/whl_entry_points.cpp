#include "core/identifier.hpp"
#include "core/utf8.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_names.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <optional>
#include <string_view>
#include <variant>
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

// An object reference as the entry point format gives it: "module", "module:attribute" or
// either followed by extras in brackets, blanks allowed around the ":" and before the "[".
struct Reference {
  std::string module;
  std::optional<std::string> attribute;
  std::optional<std::string> extras; ///< the brackets and what they hold

  // Installers that make scripts read the reference without blanks.
  std::string written() const {
    return module + (attribute ? ":" + *attribute : "") + extras.value_or("");
  }
};

// `value` as an object reference, or why it is none: a reason to add to the refusal, empty
// when the form alone is wrong.
std::variant<Reference, std::string> readReference(const std::string& value) {
  if (lineBreakAt(value)) return std::string("; it holds a line break");
  std::string_view text = stripPythonSpace(value);
  Reference reference;
  if (const auto bracket = text.find('['); bracket != std::string_view::npos) {
    if (!text.ends_with(']')) return std::string();
    reference.extras = std::string(text.substr(bracket));
    text = stripPythonSpace(text.substr(0, bracket));
  }
  const auto colon = text.find(':');
  reference.module = stripPythonSpace(text.substr(0, colon));
  if (colon != std::string_view::npos)
    reference.attribute = stripPythonSpace(text.substr(colon + 1));
  std::optional<std::string> part = nonIdentifierPart(reference.module);
  if (!part && reference.attribute) part = nonIdentifierPart(*reference.attribute);
  if (!part) return reference;
  return part->empty() ? std::string() : "; '" + shown(*part) + "' is no Python identifier";
}

// A name the file's "name = value" lines can carry: one beginning with "#" or ";" would be a
// comment, one beginning with "[" a section.
bool isEntryName(const std::string& name) {
  return !name.empty() && !isSpace(name.front()) && !isSpace(name.back()) &&
         std::string_view("[#;").find(name.front()) == std::string_view::npos &&
         name.find('=') == std::string::npos && !lineBreakAt(name);
}

// A script's name is also the name of the file installers write: one plain file name, which
// they read up to its first blank and which brackets end.
bool isScriptName(const std::string& name) {
  // File systems allow 255 bytes a name.
  constexpr std::size_t longestFileName = 255;
  if (name.size() > longestFileName || name == "." || name == "..") return false;
  for (std::size_t at = 0; at < name.size();) {
    const std::optional<char32_t> c = utf8::nextCodePoint(name, at);
    if (!c || isPythonSpace(*c) || *c < 0x20 || (*c >= 0x7F && *c < 0xA0) ||
        std::u32string_view(U"[]/\\").find(*c) != std::u32string_view::npos)
      return false;
  }
  return true;
}

// The "[group]" section of `table`, the project file's `key`.
std::string section(const Project& project, const std::string& group, const toml::node& table,
                    const std::string& key) {
  if (!table.is_table())
    refuse(project, fmt::format("'{}' must be a table of strings, not {}", key,
                                kindAndValue(table)));
  const bool script = group == "console_scripts" || group == "gui_scripts";
  std::string text = "[" + group + "]\n";
  for (const auto& [name, value] : inFileOrder(*table.as_table())) {
    if (!value->is_string())
      refuse(project, fmt::format("'{}' in '{}' must be a string, not {}", shown(name), key,
                                  kindAndValue(*value)));
    if (!isEntryName(name) || (script && !isScriptName(name)))
      refuse(project, fmt::format("'{}' in '{}' is no valid entry point name{}", shown(name), key,
                                  script ? " (a script's name becomes a file name)" : ""));
    const std::string& written = value->as_string()->get();
    const auto reference = readReference(written);
    if (const auto* fault = std::get_if<std::string>(&reference))
      refuse(project, fmt::format("'{}' in '{}' is '{}', not an object reference such as "
                                  "'package.module:function'{}",
                                  shown(name), key, shown(written), *fault));
    const Reference& read = std::get<Reference>(reference);
    if (script && !read.attribute)
      refuse(project, fmt::format("'{}' in '{}' is '{}', which names no function to call: write "
                                  "it as 'module:function' (installers refuse a script without "
                                  "one: \"A callable suffix is required\")",
                                  shown(name), key, shown(written)));
    text += name + " = " + read.written() + "\n";
  }
  return text;
}

} // namespace

std::string entryPointsText(const Project& project, bool withScripts) {
  const toml::table& table = project.table();
  std::vector<std::string> sections;
  const toml::node* scripts = withScripts ? table.get("scripts") : nullptr;
  if (scripts) sections.push_back(section(project, "console_scripts", *scripts, "project.scripts"));
  const toml::node* guiScripts = withScripts ? table.get("gui-scripts") : nullptr;
  if (guiScripts)
    sections.push_back(section(project, "gui_scripts", *guiScripts, "project.gui-scripts"));
  if (const toml::node* groups = table.get("entry-points")) {
    if (!groups->is_table())
      refuse(project, fmt::format("'project.entry-points' must be a table of tables, not {}",
                                  kindAndValue(*groups)));
    for (const auto& [group, entries] : inFileOrder(*groups->as_table())) {
      const std::string key = "project.entry-points." + shown(group);
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

std::vector<std::pair<std::string, std::string>> groupsLoadedElsewhere(const Project& project) {
  // Groups whose every entry another program imports whenever it runs, or whenever it looks up
  // any one of them, so that a module it cannot import breaks it in its own work. Groups looked
  // up by an entry's name alone (Sphinx's themes, Markdown's extensions) are left out: they
  // reach the module only when something asks for that name.
  static constexpr std::pair<std::string_view, std::string_view> loaders[] = {
      {"pytest11", "pytest"},
      {"flake8.extension", "flake8"},
      {"flake8.report", "flake8"},
      {"tox", "tox"},
      {"pydantic", "pydantic"},
      {"pygments.lexers", "Pygments"},
      {"pygments.formatters", "Pygments"},
      {"pygments.styles", "Pygments"},
      {"pygments.filters", "Pygments"},
      {"setuptools.finalize_distribution_options", "setuptools"},
  };
  std::vector<std::pair<std::string, std::string>> found;
  const toml::table* groups = project.table()["entry-points"].as_table();
  if (!groups) return found;
  // The loader's own groups in a program of the loader (flake8 built as a program) are its own
  // plug-ins, which that program imports.
  const std::string self = normalizedName(project.name);
  for (const auto& [group, entries] : inFileOrder(*groups))
    for (const auto& [name, loader] : loaders)
      if (group == name && normalizedName(std::string(loader)) != self)
        found.emplace_back(group, loader);
  return found;
}

} // namespace quorvex::whl
