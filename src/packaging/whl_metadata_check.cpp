#include "packaging/whl_metadata.hpp"
#include "packaging/whl_names.hpp"
#include "packaging/whl_text.hpp"
#include "packaging/whl_version.hpp"

#include <fmt/format.h>

#include <map>
#include <stdexcept>

namespace quorvex::whl {

namespace {

// Every METADATA header is one line, and readers split the text where Python's str.splitlines
// does: a value holding such a break would end its header and start one of the user's making.
class HeaderValueCheck {
public:
  explicit HeaderValueCheck(const Project& project) : project_(project) {}

  void value(const toml::node& node, const std::string& what) const { text(textOf(node), what); }

  void text(std::string_view written, const std::string& what) const {
    refuseLineBreak(written, project_.path.string() + ": " + what);
  }

  // The project table's `key`, when present.
  void key(const std::string& key) const {
    if (const toml::node* node = project_.table().get(key)) value(*node, quoted(key));
  }

  // The project table's `key` when it is a string: a table (a licence's text) is no header.
  void stringKey(const std::string& key) const {
    if (const auto* node = project_.table().get_as<std::string>(key))
      text(node->get(), quoted(key));
  }

  // Each entry of the project table's array `key`; another kind is left to its reader.
  void entries(const std::string& key) const { entries(project_.table().get(key), key); }

  void entries(const toml::node* node, const std::string& key) const {
    const toml::array* array = node ? node->as_array() : nullptr;
    if (!array) return;
    std::size_t number = 0;
    for (const toml::node& entry : *array)
      value(entry, fmt::format("entry {} of {}", ++number, quoted(key)));
  }

  // The names and emails of the people in the array `key`.
  void people(const std::string& key) const {
    const toml::array* array = project_.table().get_as<toml::array>(key);
    if (!array) return;
    std::size_t number = 0;
    for (const toml::node& entry : *array) {
      ++number;
      if (const toml::table* person = entry.as_table())
        for (const char* field : {"name", "email"})
          if (const toml::node* node = person->get(field))
            value(*node, fmt::format("the {} of entry {} of {}", field, number, quoted(key)));
    }
  }

  void urls() const {
    const toml::table* urls = project_.table().get_as<toml::table>("urls");
    if (!urls) return;
    for (const auto& [label, url] : inFileOrder(*urls)) {
      text(label, fmt::format("the label '{}' in {}", shown(label), quoted("urls")));
      value(*url, quoted("urls") + fmt::format(" at '{}'", shown(label)));
    }
  }

  // Each extra gives a Provides-Extra header in its normal form and a Requires-Dist per entry.
  void extras() const {
    const toml::table* extras = project_.table().get_as<toml::table>("optional-dependencies");
    if (!extras) return;
    std::map<std::string, std::string> written;
    for (const auto& [extra, list] : inFileOrder(*extras)) {
      if (!isValidProjectName(extra))
        throw std::runtime_error(fmt::format(
            "{}: '{}' in 'project.optional-dependencies' is no valid extra name: use ASCII "
            "letters, digits, '.', '_' and '-', beginning and ending with a letter or digit",
            project_.path.string(), shown(extra)));
      const auto [other, fresh] = written.emplace(normalizedName(extra), extra);
      if (!fresh)
        throw std::runtime_error(fmt::format(
            "{}: the extras '{}' and '{}' in 'project.optional-dependencies' have the same "
            "normal name '{}', which installers read as one extra; merge them",
            project_.path.string(), other->second, extra, other->first));
      entries(list, "optional-dependencies." + extra);
    }
  }

private:
  static std::string quoted(const std::string& key) { return "'project." + key + "'"; }

  const Project& project_;
};

} // namespace

void refuseLineBreak(std::string_view written, const std::string& what) {
  const std::optional<std::size_t> at = lineBreakAt(written);
  if (!at) return;
  const char lead = written[*at];
  const std::size_t length = lead == '\xC2' ? 2 : lead == '\xE2' ? 3 : 1;
  throw std::runtime_error(fmt::format("{} holds a line break ('{}'), which would end its header "
                                       "in the wheel's METADATA and start another; write it on "
                                       "one line",
                                       what, shown(written.substr(*at, length))));
}

void checkHeaderValues(const Project& project) {
  const HeaderValueCheck check(project);
  check.key("requires-python");
  check.stringKey("license");
  check.people("authors");
  check.people("maintainers");
  check.entries("keywords");
  check.entries("classifiers");
  check.urls();
  check.entries("dependencies");
  check.extras();
  if (const toml::table* readme = project.table().get_as<toml::table>("readme"))
    if (const toml::node* type = readme->get("content-type"))
      check.value(*type, "'project.readme.content-type'");
}

} // namespace quorvex::whl
