#include "core/utils.hpp"

#include <algorithm>
#include <cctype>
#include <string_view>

#include <stdexcept>
#include <string_view>

namespace quorvex::utils {

namespace {

constexpr std::string_view blanks = " \t\r\n";

bool isBlank(char c) { return blanks.find(c) != std::string_view::npos; }

[[noreturn]] void noClosingQuotation(const std::string& cmd) {
  throw std::invalid_argument("No closing quotation in the command: " + cmd);
}

[[noreturn]] void noEscapedCharacter(const std::string& cmd) {
  throw std::invalid_argument("No escaped character in the command: " + cmd);
}

std::vector<std::string> splitPosix(const std::string& cmd) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false; // a word has started, possibly empty through a quote pair
  size_t i = 0;
  while (i < cmd.size()) {
    char c = cmd[i];
    if (isBlank(c)) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= cmd.size()) noEscapedCharacter(cmd);
      word += cmd[i + 1];
      inWord = true;
      i += 2;
    } else if (c == '\'') {
      auto close = cmd.find('\'', i + 1);
      if (close == std::string::npos) noClosingQuotation(cmd);
      word.append(cmd, i + 1, close - i - 1);
      inWord = true;
      i = close + 1;
    } else if (c == '"') {
      inWord = true;
      ++i;
      for (;;) {
        if (i >= cmd.size()) noClosingQuotation(cmd);
        char q = cmd[i];
        if (q == '"') {
          ++i;
          break;
        }
        // Inside double quotes a backslash escapes only a quote or a backslash.
        if (q == '\\' && i + 1 < cmd.size() && (cmd[i + 1] == '"' || cmd[i + 1] == '\\')) {
          word += cmd[i + 1];
          i += 2;
        } else if (q == '\\' && i + 1 >= cmd.size()) {
          noEscapedCharacter(cmd);
        } else {
          word += q;
          ++i;
        }
      }
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

std::vector<std::string> splitNonPosix(const std::string& cmd) {
  std::vector<std::string> words;
  std::string word;
  size_t i = 0;
  while (i < cmd.size()) {
    char c = cmd[i];
    if (isBlank(c)) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
      ++i;
    } else if (word.empty() && (c == '"' || c == '\'')) {
      // A quoted word keeps its quotes and ends at the closing one.
      auto close = cmd.find(c, i + 1);
      if (close == std::string::npos) noClosingQuotation(cmd);
      words.push_back(cmd.substr(i, close - i + 1));
      i = close + 1;
    } else {
      word += c;
      ++i;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

} // namespace

std::vector<std::string> splitCommand(const std::string& cmd, bool posix) {
  return posix ? splitPosix(cmd) : splitNonPosix(cmd);
}

std::string quoteWord(const std::string& word) {
#if defined(_WIN32)
  return word;
#else
  auto plain = [](unsigned char c) {
    return std::isalnum(c) || c >= 0x80 ||
           std::string_view("@%+=:,./-_").find(c) != std::string_view::npos;
  };
  if (!word.empty() && std::all_of(word.begin(), word.end(), plain)) return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\"'\"'") : std::string(1, c);
  return quoted + "'";
#endif
}

} // namespace quorvex::utils
