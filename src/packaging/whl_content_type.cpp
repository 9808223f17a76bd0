// The readme's content type as METADATA readers judge Description-Content-Type: a MIME type
// with parameters, read as Python's email package reads a Content-Type header.
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_text.hpp"

#include <set>

namespace quorvex::whl {

namespace {

bool isTokenChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x7F &&
         std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

// Reads the content type field by field; `at` is the position in the text.
class Reader {
public:
  explicit Reader(std::string_view text) : text_(text) {}

  void skipBlanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }
  bool atEnd() const { return at_ == text_.size(); }
  bool take(char c) {
    if (atEnd() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  std::string_view token() {
    const std::size_t start = at_;
    while (!atEnd() && isTokenChar(text_[at_])) ++at_;
    return text_.substr(start, at_ - start);
  }
  // A token or a quoted string, without its quotes and escapes; none when neither.
  std::optional<std::string> value() {
    if (!take('"')) {
      const std::string_view plain = token();
      return plain.empty() ? std::nullopt : std::optional<std::string>(plain);
    }
    std::string out;
    while (!atEnd() && text_[at_] != '"') {
      if (text_[at_] == '\\' && at_ + 1 < text_.size()) ++at_;
      out += text_[at_++];
    }
    if (!take('"')) return std::nullopt;
    return out;
  }

private:
  std::string_view text_;
  std::size_t at_ = 0;
};

} // namespace

std::optional<std::string> contentTypeError(std::string_view contentType) {
  static const std::string form =
      "not a content type such as 'text/markdown' or 'text/x-rst; charset=UTF-8'";
  Reader reader(contentType);
  reader.skipBlanks();
  const std::string_view type = reader.token();
  if (type.empty() || !reader.take('/')) return form;
  const std::string_view subtype = reader.token();
  if (subtype.empty()) return form;
  const std::string mime = asciiLower(type) + "/" + asciiLower(subtype);
  std::set<std::string> names;
  std::optional<std::string> charset, variant;
  for (reader.skipBlanks(); !reader.atEnd(); reader.skipBlanks()) {
    if (!reader.take(';')) return form;
    reader.skipBlanks();
    if (reader.atEnd()) break;
    // RFC 2231's "name*" parameters are left out: no content type of a readme needs them.
    const std::string name = asciiLower(reader.token());
    reader.skipBlanks();
    if (name.empty() || !reader.take('=')) return form;
    reader.skipBlanks();
    const std::optional<std::string> value = reader.value();
    if (!value) return form;
    if (!names.insert(name).second)
      return "its parameter '" + shown(name) + "' is given twice";
    if (name == "charset") charset = value;
    if (name == "variant") variant = value;
  }
  if (mime != "text/plain" && mime != "text/x-rst" && mime != "text/markdown")
    return "not text/plain, text/x-rst or text/markdown";
  if (charset && asciiLower(*charset) != "utf-8")
    return "its charset is '" + shown(*charset) + "', but METADATA is UTF-8";
  if (mime == "text/markdown" && variant && *variant != "GFM" && *variant != "CommonMark")
    return "its Markdown variant '" + shown(*variant) + "' is neither GFM nor CommonMark";
  return std::nullopt;
}

} // namespace quorvex::whl
