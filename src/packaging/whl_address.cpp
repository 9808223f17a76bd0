#include "packaging/whl_address.hpp"

namespace quorvex::whl {

namespace {

bool isAtomText(char c, bool nonAscii) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte >= 0x80) return nonAscii;
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// Runs of atom characters joined by single dots. Python takes non-ASCII letters in a domain
// but not in a local part.
bool isDotAtom(std::string_view text, bool nonAscii) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '.') {
      if (text[i + 1] == '.') return false;
    } else if (!isAtomText(text[i], nonAscii)) {
      return false;
    }
  }
  return true;
}

// `text` between its delimiters `open` and `close` holds printable ASCII and blanks, with
// `close` and "\" only escaped by a "\".
bool isQuoted(std::string_view text, char open, char close) {
  if (text.size() < 2 || text.front() != open || text.back() != close) return false;
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '\\' && open == '"') {
      if (++i + 1 >= text.size()) return false;
      continue;
    }
    if ((byte < 0x20 && byte != '\t') || byte >= 0x7F || text[i] == close || text[i] == '\\' ||
        (open == '[' && text[i] == '['))
      return false;
  }
  return true;
}

bool isSpecial(char c) { return std::string_view("()<>@,:;.\\\"[]").find(c) != std::string_view::npos; }

} // namespace

bool isAddressSpec(std::string_view email) {
  const std::size_t at = email.rfind('@');
  if (at == std::string_view::npos) return false;
  const std::string_view local = email.substr(0, at), domain = email.substr(at + 1);
  return (isDotAtom(local, false) || isQuoted(local, '"', '"')) &&
         (isDotAtom(domain, true) || isQuoted(domain, '[', ']'));
}

std::string mailbox(std::string_view name, std::string_view email) {
  if (name.empty()) return std::string(email);
  std::string display;
  bool special = false;
  for (char c : name) special = special || isSpecial(c);
  if (!special) {
    display = name;
  } else {
    display = "\"";
    for (char c : name) {
      if (c == '\\' || c == '"') display += '\\';
      display += c;
    }
    display += '"';
  }
  return display + " <" + std::string(email) + ">";
}

} // namespace quorvex::whl
