#include "packaging/whl_near_miss.hpp"

#include "packaging/whl_text.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <string>
#include <vector>

namespace quorvex::whl {

namespace {

// A letter or two, and about one edit in four characters: "mail" is taken for "email", "home"
// not for "name", "import-paths" not for "import-names".
constexpr std::size_t mostEdits = 2;
constexpr std::size_t charactersPerEdit = 4;

// Lower case, with "_" as "-": the spellings of one key that people mix up most.
std::string folded(std::string_view key) {
  std::string out = asciiLower(key);
  std::replace(out.begin(), out.end(), '_', '-');
  return out;
}

// The insertions, deletions, substitutions and swaps of neighbouring characters that turn `a`
// into `b`, each character edited once at most.
std::size_t editDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j)
    previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        current[j] = std::min(current[j], before[j - 2] + 1);
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

// "dependencies" as "dependency", "urls" as "url": the singular people write for a plural key.
std::string singular(std::string_view key) {
  std::string out(key);
  if (out.ends_with("ies"))
    out.replace(out.size() - 3, 3, "y");
  else if (out.ends_with('s') && !out.ends_with("ss"))
    out.pop_back();
  return out;
}

// The words of a key in sorted order, so that "python-requires" reads as "requires-python".
std::string sortedWords(std::string_view key) {
  std::vector<std::string_view> words;
  for (std::size_t start = 0;;) {
    const std::size_t end = key.find('-', start);
    words.push_back(key.substr(start, end - start));
    if (end == std::string_view::npos)
      break;
    start = end + 1;
  }
  std::sort(words.begin(), words.end());
  return fmt::format("{}", fmt::join(words, "-"));
}

// The edits between the folded key `written` and the known key `candidate`, taking a singular
// for its plural and words in another order as no edit; more than `mostEdits` when the lengths
// alone tell so, which keeps a long key cheap.
std::size_t nearness(const std::string& written, std::string_view candidate) {
  std::size_t best = mostEdits + 1;
  for (const std::string& form : {std::string(candidate), singular(candidate)})
    if (written.size() <= form.size() + mostEdits && form.size() <= written.size() + mostEdits)
      best = std::min({best, editDistance(written, form),
                       editDistance(sortedWords(written), sortedWords(form))});
  return best;
}

} // namespace

std::optional<std::string_view> closestKey(std::string_view key,
                                           std::span<const std::string_view> known) {
  const std::string written = folded(key);
  std::optional<std::string_view> best;
  std::size_t bestDistance = 0;
  for (const std::string_view candidate : known) {
    const std::size_t distance = nearness(written, candidate);
    if (!best || distance < bestDistance)
      best = candidate, bestDistance = distance;
  }
  if (best && bestDistance <= mostEdits &&
      bestDistance * charactersPerEdit <= std::max(best->size(), charactersPerEdit))
    return best;
  return std::nullopt;
}

} // namespace quorvex::whl
