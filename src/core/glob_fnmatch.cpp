// Matching one name against a shell-style wildcard.
#include "core/glob.hpp"

#include <string>
#include <utility>
#include <vector>

namespace quorvex::glob {

namespace {

// The length of the UTF-8 sequence that `lead` begins and the code bits it carries; length 0
// for a byte that begins none.
std::pair<std::size_t, char32_t> sequenceStart(unsigned char lead) {
  if (lead < 0x80) return {1, lead};
  if ((lead >> 5) == 0x6) return {2, lead & 0x1Fu};
  if ((lead >> 4) == 0xE) return {3, lead & 0x0Fu};
  if ((lead >> 3) == 0x1E) return {4, lead & 0x07u};
  return {0, 0};
}

// Names are compared by character, not byte, so that `?` matches one non-ASCII letter.
std::u32string decodeUtf8(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    auto [length, code] = sequenceStart(lead);
    bool valid = length != 0 && i + length <= text.size();
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = (next >> 6) == 0x2;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid) {
      // A stray byte stands for itself, so that any name can still be matched.
      out.push_back(lead);
      ++i;
      continue;
    }
    out.push_back(code);
    i += length;
  }
  return out;
}

char32_t fold(char32_t c, bool caseSensitive) {
  return (!caseSensitive && c >= U'A' && c <= U'Z') ? c + (U'a' - U'A') : c;
}

// One element of a compiled wildcard: a literal character, `?`, `*` or a bracket set.
struct Token {
  enum Kind { Literal, Any, Star, Set } kind = Literal;
  char32_t ch = 0;
  bool negate = false;
  std::vector<std::pair<char32_t, char32_t>> ranges;
  bool matchesAll = false; // "[!]" followed by "]": any one character
};

Token tokenOf(Token::Kind kind) {
  Token token;
  token.kind = kind;
  return token;
}

std::vector<Token> compile(const std::u32string& pat, bool caseSensitive) {
  std::vector<Token> tokens;
  const std::size_t n = pat.size();
  std::size_t i = 0;
  while (i < n) {
    const char32_t c = pat[i++];
    if (c == U'*') {
      // Runs of stars match what one does.
      if (tokens.empty() || tokens.back().kind != Token::Star)
        tokens.push_back(tokenOf(Token::Star));
      continue;
    }
    if (c == U'?') {
      tokens.push_back(tokenOf(Token::Any));
      continue;
    }
    if (c == U'[') {
      std::size_t j = i;
      if (j < n && pat[j] == U'!') ++j;
      if (j < n && pat[j] == U']') ++j;
      while (j < n && pat[j] != U']') ++j;
      if (j < n) {
        // A closed set; an unclosed "[" is an ordinary character, as the shell treats it.
        std::u32string stuff = pat.substr(i, j - i);
        i = j + 1;
        Token set = tokenOf(Token::Set);
        std::size_t q = 0;
        if (!stuff.empty() && stuff[0] == U'!') {
          set.negate = true;
          q = 1;
          set.matchesAll = stuff.size() == 1;
        }
        while (q < stuff.size()) {
          if (q + 2 < stuff.size() && stuff[q + 1] == U'-') {
            const char32_t lo = fold(stuff[q], caseSensitive);
            const char32_t hi = fold(stuff[q + 2], caseSensitive);
            if (lo <= hi) set.ranges.emplace_back(lo, hi);
            q += 3;
          } else {
            const char32_t single = fold(stuff[q], caseSensitive);
            set.ranges.emplace_back(single, single);
            ++q;
          }
        }
        tokens.push_back(std::move(set));
        continue;
      }
    }
    Token literal = tokenOf(Token::Literal);
    literal.ch = fold(c, caseSensitive);
    tokens.push_back(literal);
  }
  return tokens;
}

bool matchesOne(const Token& token, char32_t c) {
  switch (token.kind) {
  case Token::Literal:
    return token.ch == c;
  case Token::Any:
    return true;
  case Token::Set: {
    if (token.matchesAll) return true;
    bool inside = false;
    for (const auto& [lo, hi] : token.ranges) inside = inside || (c >= lo && c <= hi);
    return inside != token.negate;
  }
  case Token::Star:
    break;
  }
  return false;
}

} // namespace

bool hasWildcard(std::string_view component) {
  return component.find_first_of("*?[") != std::string_view::npos;
}

bool fnmatch(std::string_view name, std::string_view pattern, bool caseSensitive) {
  std::u32string text = decodeUtf8(name);
  for (auto& c : text) c = fold(c, caseSensitive);
  const std::vector<Token> tokens = compile(decodeUtf8(pattern), caseSensitive);

  // Greedy match with one back-tracking point: the most recent star.
  std::size_t t = 0, p = 0;
  std::size_t starToken = std::string::npos, starText = 0;
  while (t < text.size()) {
    if (p < tokens.size() && tokens[p].kind == Token::Star) {
      starToken = p++;
      starText = t;
    } else if (p < tokens.size() && matchesOne(tokens[p], text[t])) {
      ++p;
      ++t;
    } else if (starToken != std::string::npos) {
      p = starToken + 1;
      t = ++starText;
    } else {
      return false;
    }
  }
  while (p < tokens.size() && tokens[p].kind == Token::Star) ++p;
  return p == tokens.size();
}

} // namespace quorvex::glob
