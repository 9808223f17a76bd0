#include "packaging/whl_metadata.hpp"

#include "core/version.hpp"
#include "packaging/whl_address.hpp"
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

// Author and Author-Email (and the maintainers' two) may each appear once in METADATA (readers
// keep only the first): several people share one line, separated by ", ".
void addPeople(const std::vector<Person>& people, const std::string& header,
               std::vector<std::string>& lines) {
  std::vector<std::string> names, emails;
  for (const Person& person : people) {
    if (!person.email.empty())
      emails.push_back(mailbox(person.name, person.email));
    else
      names.push_back(person.name);
  }
  if (!names.empty()) lines.push_back(fmt::format("{}: {}", header, fmt::join(names, ", ")));
  if (!emails.empty())
    lines.push_back(fmt::format("{}-Email: {}", header, fmt::join(emails, ", ")));
}

void addEach(const std::vector<std::string>& values, const std::string& header,
             std::vector<std::string>& lines) {
  for (const std::string& value : values) lines.push_back(header + value);
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
void addExtras(const CoreMetadata& metadata, std::vector<std::string>& lines) {
  for (const auto& [name, dependencies] : metadata.extras) {
    const std::string extra = normalizedName(name);
    lines.push_back("Provides-Extra: " + extra);
    for (const std::string& dependency : dependencies)
      lines.push_back("Requires-Dist: " + forExtra(dependency, extra));
  }
}

// A licence's text of several lines continues its header on lines indented by eight blanks,
// which METADATA readers join to the header and importlib.metadata takes off again; blank lines
// at its end are left out.
std::string foldedLicense(std::string_view text) {
  std::vector<std::string_view> lines;
  while (true) {
    const std::optional<std::size_t> at = lineBreakAt(text);
    lines.push_back(text.substr(0, at.value_or(text.size())));
    if (!at) break;
    text.remove_prefix(*at + lineBreakLength(text, *at));
  }
  while (!lines.empty() && trim(lines.back()).empty()) lines.pop_back();
  return fmt::format("{}", fmt::join(lines, "\n        "));
}

} // namespace

std::string metadataText(const Project& project) {
  const CoreMetadata& metadata = project.metadata;
  std::vector<std::string> lines = {"Metadata-Version: 2.1", "Name: " + project.name,
                                    "Version: " + project.version};
  if (metadata.summary) lines.push_back("Summary: " + *metadata.summary);
  if (metadata.requiresPython) lines.push_back("Requires-Python: " + *metadata.requiresPython);
  addPeople(metadata.authors, "Author", lines);
  addPeople(metadata.maintainers, "Maintainer", lines);
  if (metadata.license)
    if (std::string license = foldedLicense(*metadata.license); !license.empty())
      lines.push_back("License: " + license);
  if (!metadata.keywords.empty())
    lines.push_back(fmt::format("Keywords: {}", fmt::join(metadata.keywords, ",")));
  addEach(metadata.dependencies, "Requires-Dist: ", lines);
  addExtras(metadata, lines);
  addEach(metadata.classifiers, "Classifier: ", lines);
  for (const auto& [label, url] : metadata.urls) lines.push_back("Project-URL: " + label + ", " + url);
  if (metadata.descriptionContentType)
    lines.push_back("Description-Content-Type: " + *metadata.descriptionContentType);
  return fmt::format("{}\n\n{}", fmt::join(lines, "\n"), metadata.description.value_or(""));
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
