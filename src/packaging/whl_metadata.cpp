#include "packaging/whl_metadata.hpp"

#include "core/log.hpp"
#include "core/utf8.hpp"
#include "core/version.hpp"
#include "packaging/whl_io.hpp"
#include "packaging/whl_names.hpp"
#include "packaging/whl_requirement.hpp"
#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.whl"); }

[[noreturn]] void wrongKind(const Project& project, const std::string& key, const char* expected) {
  throw std::runtime_error(
      fmt::format("{}: 'project.{}' must be {}", project.path.string(), key, expected));
}

const toml::array* arrayAt(const Project& project, const std::string& key) {
  const toml::node* node = project.table().get(key);
  if (!node) return nullptr;
  if (!node->is_array()) wrongKind(project, key, "an array");
  return node->as_array();
}

// Author and Author-Email may each appear once in METADATA (readers keep only the first):
// several authors share one line, separated by ", ".
void addAuthors(const Project& project, std::vector<std::string>& lines) {
  const toml::array* authors = arrayAt(project, "authors");
  if (!authors) return;
  std::vector<std::string> names, emails;
  for (const toml::node& entry : *authors) {
    if (!entry.is_table()) wrongKind(project, "authors", "an array of tables");
    const toml::table& author = *entry.as_table();
    std::string name = author.contains("name") ? textOf(*author.get("name")) : "";
    std::string email = author.contains("email") ? textOf(*author.get("email")) : "";
    if (!name.empty() && !email.empty())
      emails.push_back(name + " <" + email + ">");
    else if (!email.empty())
      emails.push_back(email);
    else if (!name.empty())
      names.push_back(name);
  }
  if (!names.empty()) lines.push_back(fmt::format("Author: {}", fmt::join(names, ", ")));
  if (!emails.empty()) lines.push_back(fmt::format("Author-Email: {}", fmt::join(emails, ", ")));
}

void addEach(const Project& project, const std::string& key, const std::string& header,
             std::vector<std::string>& lines) {
  if (const toml::array* values = arrayAt(project, key))
    for (const toml::node& value : *values) lines.push_back(header + textOf(value));
}

// The dependency `requirement` limited to the extra `extra`, with its own marker kept. The
// project's dependencies were checked when it was read.
std::string forExtra(const std::string& requirement, const std::string& extra) {
  const std::string condition = fmt::format("extra == \"{}\"", extra);
  const std::optional<RequirementParts> parts = splitRequirement(requirement);
  if (!parts) throw std::invalid_argument("no dependency specifier: " + requirement);
  // A URL ends at white space: without it, the ";" would be read as part of the URL.
  const std::string head = trim(parts->head) + (parts->directReference ? " " : "");
  if (!parts->marker) return fmt::format("{}; {}", head, condition);
  return fmt::format("{}; ({}) and {}", head, trim(*parts->marker), condition);
}

// An extra's name in its normal form, then the dependencies it adds, each limited to it.
void addExtras(const Project& project, std::vector<std::string>& lines) {
  const toml::node* node = project.table().get("optional-dependencies");
  if (!node) return;
  if (!node->is_table()) wrongKind(project, "optional-dependencies", "a table of arrays");
  for (const auto& [name, list] : inFileOrder(*node->as_table())) {
    const std::string extra = normalizedName(name);
    lines.push_back("Provides-Extra: " + extra);
    if (!list->is_array()) wrongKind(project, "optional-dependencies." + name, "an array");
    for (const toml::node& entry : *list->as_array())
      lines.push_back("Requires-Dist: " + forExtra(textOf(entry), extra));
  }
}

// METADATA's Summary is one line: of a description of several, the first is kept, as common
// build back-ends keep it.
std::string summaryOf(const Project& project, const std::string& description) {
  std::string summary = trim(description);
  if (const auto at = lineBreakAt(summary)) {
    summary = trim(summary.substr(0, *at));
    logger().warning("{}: 'project.description' holds a line break; the wheel's METADATA keeps "
                     "its first line as the summary: '{}'",
                     project.path.string(), summary);
  }
  return summary;
}

void addUrls(const Project& project, std::vector<std::string>& lines) {
  const toml::node* node = project.table().get("urls");
  if (!node) return;
  if (!node->is_table()) wrongKind(project, "urls", "a table");
  for (const auto& [label, url] : inFileOrder(*node->as_table()))
    lines.push_back("Project-URL: " + label + ", " + textOf(*url));
}

struct Readme {
  fs::path path;
  std::string contentType;
};

std::string contentTypeFor(const std::string& name) {
  if (name.ends_with(".md")) return "text/markdown";
  if (name.ends_with(".rst")) return "text/x-rst";
  return "text/plain";
}

std::optional<Readme> findReadme(const Project& project) {
  const toml::node* node = project.table().get("readme");
  if (!node) return std::nullopt;
  fs::path base = project.path.parent_path();
  if (const auto* name = node->as_string()) {
    if (name->get().empty()) return std::nullopt;
    return Readme{base / name->get(), contentTypeFor(name->get())};
  }
  if (const auto* table = node->as_table()) {
    // A table without "file" carries no file to read (its text may be inline): no body.
    const toml::node* file = table->get("file");
    if (!file) return std::nullopt;
    const toml::node* type = table->get("content-type");
    return Readme{base / textOf(*file), type ? textOf(*type) : "text/plain"};
  }
  wrongKind(project, "readme", "a string or a table");
}

std::string readReadme(const fs::path& path) {
  std::string text = readBytes(path);
  if (auto at = invalidUtf8At(text))
    throw std::runtime_error(
        fmt::format("Cannot read '{}': not valid UTF-8 at byte {}", path.string(), *at));
  return utf8::normaliseLineEnds(text);
}

} // namespace

std::string metadataText(const Project& project) {
  const toml::table& table = project.table();
  std::vector<std::string> lines = {"Metadata-Version: 2.1", "Name: " + project.name,
                                    "Version: " + project.version};
  if (const toml::node* description = table.get("description")) {
    if (!description->is_string()) wrongKind(project, "description", "a string");
    lines.push_back("Summary: " + summaryOf(project, description->as_string()->get()));
  }
  if (const toml::node* requires_ = table.get("requires-python"))
    lines.push_back("Requires-Python: " + textOf(*requires_));
  addAuthors(project, lines);
  addEach(project, "dependencies", "Requires-Dist: ", lines);
  addExtras(project, lines);
  addEach(project, "classifiers", "Classifier: ", lines);
  addUrls(project, lines);

  std::string body;
  if (auto readme = findReadme(project); readme && fs::exists(readme->path)) {
    body = readReadme(readme->path);
    lines.push_back("Description-Content-Type: " + readme->contentType);
  }
  return fmt::format("{}\n\n{}", fmt::join(lines, "\n"), body);
}

std::string wheelText(const std::string& fullTag) {
  return fmt::format("Wheel-Version: 1.0\nGenerator: Quorvex-custom {}\nRoot-Is-Purelib: false\n"
                     "Tag: {}\n",
                     version::version, fullTag);
}

std::string fileSuffix(const std::string& fileName) {
  std::string name = fileName.substr(fileName.find_last_of('/') + 1);
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
  return name.substr(dot);
}

std::string moduleSuffix(const std::string& extSuffix, const std::string& libraryName) {
  std::string suffix = fileSuffix(extSuffix.empty() ? libraryName : extSuffix);
  return suffix.empty() ? ".so" : suffix;
}

ModuleNames moduleNames(const std::string& projectName,
                        const std::optional<std::string>& topPackage,
                        const std::optional<std::string>& mainModuleName) {
  ModuleNames names;
  names.prefixed = !topPackage;
  if (topPackage) {
    names.package = *topPackage;
  } else {
    for (char c : projectName)
      names.package += c == '-' || c == '.'
                           ? '_'
                           : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  std::string main = mainModuleName.value_or("");
  if (topPackage && (main == *topPackage || main.starts_with(*topPackage + ".")))
    main = main.substr(std::min(main.size(), topPackage->size() + 1));
  names.importPath = main;
  return names;
}

} // namespace quorvex::whl
