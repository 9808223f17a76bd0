// The optimisers' time on a function grows far faster than its size when it holds many
// objects at once: a module body building a tuple of 3,600 computed triples keeps 3,600
// temporaries alive, each released again on the error path, and gcc -O3 had not compiled it
// after 48 minutes where -O0 takes half a minute. Such functions are module bodies and literal
// tables that run once, so they lose little without optimisation; every other function of the
// file keeps its level.
#include "compilation/huge_functions.hpp"

#include <algorithm>
#include <string_view>
#include <vector>

namespace quorvex::compiler {

namespace {

constexpr std::string_view marker = "QVX_UNOPTIMISED ";

constexpr std::string_view definition = R"(/* Functions too large to optimise in reasonable time */
#ifndef QVX_UNOPTIMISED
#if defined(__clang__)
#define QVX_UNOPTIMISED __attribute__((optnone))
#elif defined(__GNUC__)
#define QVX_UNOPTIMISED __attribute__((optimize("O0")))
#else
#define QVX_UNOPTIMISED
#endif
#endif
)";

// A line that may start a function's head: at column 0, neither a preprocessor line, a comment,
// nor a brace, and with an opening parenthesis.
bool mayBeHead(std::string_view line) {
  if (line.empty() || line[0] == ' ' || line[0] == '\t' || line[0] == '#' || line[0] == '/' ||
      line[0] == '{' || line[0] == '}' || line[0] == '*')
    return false;
  return line.find('(') != std::string_view::npos;
}

// The declaration of one object temporary as Cython writes it: "  PyObject *__pyx_t_12 = NULL;".
bool isTemporary(std::string_view line) {
  constexpr std::string_view head = "  PyObject *__pyx_t_", tail = " = NULL;";
  if (!line.starts_with(head) || !line.ends_with(tail)) return false;
  auto digits = line.substr(head.size(), line.size() - head.size() - tail.size());
  return !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace

std::size_t markHugeFunctionsUnoptimised(std::string& text) {
  std::vector<std::size_t> heads; // offsets of the heads to mark
  std::size_t head = std::string::npos, temporaries = 0;
  bool inBody = false;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (inBody) {
      if (line.starts_with('}')) {
        if (temporaries > optimisedTemporariesLimit && head != std::string::npos)
          heads.push_back(head);
        inBody = false;
        head = std::string::npos;
      } else if (isTemporary(line)) {
        ++temporaries;
      }
    } else if (line == "{" || (mayBeHead(line) && line.ends_with(") {"))) {
      if (line != "{") head = at;
      inBody = true;
      temporaries = 0;
    } else if (mayBeHead(line)) {
      head = at;
    } else if (!line.starts_with('#')) {
      head = std::string::npos; // only preprocessor lines stand between a head and its body
    }
    at = end + 1;
  }
  for (auto it = heads.rbegin(); it != heads.rend(); ++it) text.insert(*it, marker);
  // After the first line, which tells Cython's tools that the file is generated.
  if (!heads.empty()) text.insert(std::min(text.find('\n') + 1, text.size()), definition);
  return heads.size();
}

} // namespace quorvex::compiler
