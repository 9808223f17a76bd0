// The `[project]` table read once, before anything is built: every value that METADATA carries
// is checked as the packaging standards, installers and METADATA readers judge it, so that a
// wheel is either written as the project file says or refused with the key and value at fault.
#include "core/log.hpp"
#include "core/utf8.hpp"
#include "core/utils.hpp"
#include "packaging/whl_address.hpp"
#include "packaging/whl_io.hpp"
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_names.hpp"
#include "packaging/whl_project_keys.hpp"
#include "packaging/whl_requirement.hpp"
#include "packaging/whl_text.hpp"
#include "packaging/whl_version.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.whl"); }

std::string quoted(const std::string& key) { return "'project." + key + "'"; }

class TableReader {
public:
  explicit TableReader(const Project& project) : project_(project), table_(project.table()) {}

  [[noreturn]] void refuse(const std::string& why) const {
    throw std::runtime_error(project_.path.string() + ": " + why);
  }

  [[noreturn]] void wrongKind(const std::string& what, const char* expected,
                              const toml::node& node) const {
    refuse(fmt::format("{} must be {}, not {}", what, expected, kindAndValue(node)));
  }

  // Every METADATA header is one line, and readers split the text where Python's
  // str.splitlines does: a value holding such a break would end its header and start one of
  // the user's making.
  const std::string& header(const toml::node& node, const std::string& what) const {
    const std::string& text = string(node, what);
    refuseLineBreak(text, project_.path.string() + ": " + what);
    return text;
  }

  const std::string& string(const toml::node& node, const std::string& what) const {
    if (!node.is_string()) wrongKind(what, "a string", node);
    return node.as_string()->get();
  }

  std::optional<std::string> headerKey(const std::string& key) const {
    const toml::node* node = table_.get(key);
    if (!node) return std::nullopt;
    return header(*node, quoted(key));
  }

  const toml::array* array(const std::string& key, const char* expected) const {
    const toml::node* node = table_.get(key);
    if (node && !node->is_array()) wrongKind(quoted(key), expected, *node);
    return node ? node->as_array() : nullptr;
  }

  // Keys that METADATA 2.1 does not carry are judged for their kind only.
  void strings(const std::string& key) const {
    if (const toml::array* entries = array(key, "an array of strings"))
      for (std::size_t i = 0; i < entries->size(); ++i)
        string(*entries->get(i), fmt::format("entry {} of {}", i + 1, quoted(key)));
  }

  std::vector<std::string> headers(const std::string& key) const {
    std::vector<std::string> values;
    if (const toml::array* entries = array(key, "an array of strings"))
      for (const toml::node& entry : *entries)
        values.push_back(
            header(entry, fmt::format("entry {} of {}", values.size() + 1, quoted(key))));
    return values;
  }

  // Summary is one line: of a description of several, the first is kept, as common build
  // back-ends keep it.
  std::optional<std::string> summary() const {
    const toml::node* node = table_.get("description");
    if (!node) return std::nullopt;
    std::string summary = trim(string(*node, quoted("description")));
    if (const auto at = lineBreakAt(summary)) {
      summary = trim(summary.substr(0, *at));
      logger().warning("{}: 'project.description' holds a line break; the wheel's METADATA "
                       "keeps its first line as the summary: '{}'",
                       project_.path.string(), shown(summary));
    }
    return summary;
  }

  std::vector<Person> people(const std::string& key) const {
    std::vector<Person> people;
    const toml::array* entries = array(key, "an array of tables");
    if (!entries) return people;
    for (const toml::node& entry : *entries) {
      const std::string what = fmt::format("entry {} of {}", people.size() + 1, quoted(key));
      if (!entry.is_table()) wrongKind(what, "a table with a name, an email or both", entry);
      Person person;
      for (auto [field, value] : {std::pair{"name", &person.name}, {"email", &person.email}})
        if (const toml::node* node = entry.as_table()->get(field))
          *value = header(*node, fmt::format("the {} of {}", field, what));
      if (person.name.empty() && person.email.empty())
        refuse(fmt::format("{} gives neither a name nor an email", what));
      if (!person.email.empty() && !isAddressSpec(person.email))
        refuse(fmt::format("the email of {} is '{}', not an email address such as "
                           "'name@example.org'",
                           what, shown(person.email)));
      people.push_back(std::move(person));
    }
    return people;
  }

  // Readers take a label up to the first ",", and read the label and the URL without the blanks
  // around them, Unicode ones included: those are written as read, and labels compared so.
  std::vector<std::pair<std::string, std::string>> urls() const {
    std::vector<std::pair<std::string, std::string>> urls;
    const toml::node* node = table_.get("urls");
    if (!node) return urls;
    if (!node->is_table()) wrongKind(quoted("urls"), "a table of strings", *node);
    std::map<std::string, std::string> labels;
    for (const auto& [label, value] : inFileOrder(*node->as_table())) {
      const std::string what = fmt::format("the label '{}' in {}", shown(label), quoted("urls"));
      refuseLineBreak(label, project_.path.string() + ": " + what);
      if (label.find(',') != std::string::npos)
        refuse(what + " holds a ',', where readers of METADATA end the label");
      const std::string read(stripPythonSpace(label));
      const auto [other, fresh] = labels.emplace(read, label);
      if (!fresh)
        refuse(fmt::format("the labels '{}' and '{}' in {} are the same to readers of METADATA, "
                           "which ignore blanks around a label",
                           shown(other->second), shown(label), quoted("urls")));
      const std::string& url =
          header(*value, fmt::format("{} at '{}'", quoted("urls"), shown(label)));
      urls.emplace_back(read, stripPythonSpace(url));
    }
    return urls;
  }

  // Keywords share one header, separated by ",".
  std::vector<std::string> keywords() const {
    std::vector<std::string> keywords = headers("keywords");
    for (std::size_t i = 0; i < keywords.size(); ++i)
      if (keywords[i].find(',') != std::string::npos)
        refuse(fmt::format("entry {} of {} is '{}', which holds a ',', where readers of "
                           "METADATA split the keywords",
                           i + 1, quoted("keywords"), shown(keywords[i])));
    return keywords;
  }

  // A string is a licence's name or expression, one line; a table gives its text or file.
  std::optional<std::string> license() const {
    const toml::node* node = table_.get("license");
    if (!node) return std::nullopt;
    if (node->is_string()) return header(*node, quoted("license"));
    if (!node->is_table()) wrongKind(quoted("license"), "a string or a table", *node);
    return textOrFile(*node->as_table(), "license");
  }

  void readme(CoreMetadata& metadata) const {
    const toml::node* node = table_.get("readme");
    if (!node) return;
    std::string type;
    if (node->is_string()) {
      const std::string& name = node->as_string()->get();
      const std::string suffix = asciiLower(name.substr(std::min(name.size(), name.rfind('.'))));
      type = suffix == ".md" ? "text/markdown" : suffix == ".rst" ? "text/x-rst"
           : suffix == ".txt" ? "text/plain" : "";
      if (type.empty())
        refuse(fmt::format("'project.readme' is '{}', whose suffix tells no content type (.md, "
                           ".rst or .txt); give it as a table with 'file' and 'content-type'",
                           shown(name)));
      metadata.description = fileText(name, quoted("readme"));
    } else if (const toml::table* readme = node->as_table()) {
      const toml::node* typeNode = readme->get("content-type");
      if (!typeNode) refuse("'project.readme' gives no 'content-type'");
      type = header(*typeNode, "'project.readme.content-type'");
      if (const std::optional<std::string> fault = contentTypeError(type))
        refuse(fmt::format("'project.readme.content-type' is '{}', {}", shown(type), *fault));
      metadata.description = textOrFile(*readme, "readme");
    } else {
      wrongKind(quoted("readme"), "a string or a table", *node);
    }
    metadata.descriptionContentType = type;
  }

  // Dependencies and extras: line breaks and the extras' names here, the rest as installers
  // read dependency specifiers.
  void dependencies(CoreMetadata& metadata) const {
    checkLineBreaks(table_.get("dependencies"), "dependencies");
    const toml::table* extras = table_.get_as<toml::table>("optional-dependencies");
    std::vector<std::pair<std::string, const toml::node*>> extraLists;
    if (extras) extraLists = inFileOrder(*extras);
    std::map<std::string, std::string> written;
    for (const auto& [extra, list] : extraLists) {
      if (!isValidProjectName(extra))
        refuse(fmt::format("'{}' in 'project.optional-dependencies' is no valid extra name: use "
                           "ASCII letters, digits, '.', '_' and '-', beginning and ending with a "
                           "letter or digit",
                           shown(extra)));
      const auto [other, fresh] = written.emplace(normalizedName(extra), extra);
      if (!fresh)
        refuse(fmt::format("the extras '{}' and '{}' in 'project.optional-dependencies' have "
                           "the same normal name '{}', which installers read as one extra; "
                           "merge them",
                           shown(other->second), shown(extra), shown(other->first)));
      checkLineBreaks(list, "optional-dependencies." + shown(extra));
    }
    checkDependencies(project_.path, table_);
    metadata.dependencies = stringsOf(table_.get("dependencies"));
    for (const auto& [extra, list] : extraLists) metadata.extras.emplace_back(extra, stringsOf(list));
  }

private:
  void checkLineBreaks(const toml::node* node, const std::string& key) const {
    const toml::array* entries = node ? node->as_array() : nullptr;
    if (!entries) return;
    std::size_t number = 0;
    for (const toml::node& entry : *entries) {
      ++number;
      if (const auto* text = entry.as_string())
        refuseLineBreak(text->get(), fmt::format("{}: entry {} of {}", project_.path.string(),
                                                 number, quoted(key)));
    }
  }

  static std::vector<std::string> stringsOf(const toml::node* node) {
    std::vector<std::string> values;
    if (const toml::array* entries = node ? node->as_array() : nullptr)
      for (const toml::node& entry : *entries) values.push_back(entry.as_string()->get());
    return values;
  }

  // The `text` or the content of the file `file` of the table `key`: one of the two.
  std::string textOrFile(const toml::table& table, const std::string& key) const {
    const toml::node* text = table.get("text");
    const toml::node* file = table.get("file");
    if (text && file) refuse(fmt::format("{} gives both 'text' and 'file': keep one", quoted(key)));
    if (text) return utf8::normaliseLineEnds(string(*text, quoted(key + ".text")));
    if (!file) refuse(fmt::format("{} gives neither 'text' nor 'file'", quoted(key)));
    return fileText(string(*file, quoted(key + ".file")), quoted(key + ".file"));
  }

  // The file `name`, relative to the project file, as UTF-8 text with LF line ends.
  std::string fileText(const std::string& name, const std::string& what) const {
    const fs::path path = project_.path.parent_path() / name;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
      refuse(fmt::format("{} is '{}', which does not exist", what, shown(name)));
    // The wheel carries the file and may be published: a path that leaves the project, by
    // "..", as an absolute path or through a link, would carry a file of the building machine.
    const fs::path directory = fs::canonical(
        project_.path.parent_path().empty() ? fs::path(".") : project_.path.parent_path());
    const fs::path real = fs::canonical(path);
    if (!utils::isWithin(real, directory))
      refuse(fmt::format("{} is '{}', which, links followed, lies outside '{}', the project's "
                         "directory: the wheel would carry a file that is not the project's; "
                         "give a file inside that directory",
                         what, shown(name), shown(directory.string())));
    if (!fs::is_regular_file(status))
      refuse(fmt::format("{} is '{}', which is no file", what, shown(name)));
    const std::string bytes = readBytes(path);
    if (const auto at = invalidUtf8At(bytes))
      refuse(fmt::format("{} is '{}', which is not UTF-8 text (an invalid byte at offset {})",
                         what, shown(name), *at));
    return utf8::normaliseLineEnds(bytes);
  }

  const Project& project_;
  const toml::table& table_;
};

} // namespace

void refuseLineBreak(std::string_view written, const std::string& what) {
  const std::optional<std::size_t> at = lineBreakAt(written);
  if (!at) return;
  // A CR LF is shown as its CR, the character that ends the line.
  const std::size_t length = written[*at] == '\r' ? 1 : lineBreakLength(written, *at);
  throw std::runtime_error(fmt::format("{} holds a line break ('{}'), which would end its header "
                                       "in the wheel's METADATA and start another; write it on "
                                       "one line",
                                       what, shown(written.substr(*at, length))));
}

CoreMetadata readCoreMetadata(const Project& project) {
  const TableReader read(project);
  CoreMetadata metadata;
  metadata.summary = read.summary();
  metadata.requiresPython = read.headerKey("requires-python");
  metadata.license = read.license();
  metadata.authors = read.people("authors");
  metadata.maintainers = read.people("maintainers");
  metadata.keywords = read.keywords();
  metadata.classifiers = read.headers("classifiers");
  metadata.urls = read.urls();
  read.dependencies(metadata);
  read.readme(metadata);
  for (const std::string_view unwritten : unwrittenFields)
    read.strings(std::string(unwritten));
  return metadata;
}

} // namespace quorvex::whl
