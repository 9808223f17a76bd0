// Expanding a pattern into the paths below a base directory, component by component.
#include "core/glob.hpp"

#include "core/host.hpp"

#include <set>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace quorvex::glob {

namespace fs = std::filesystem;

namespace {

std::string describe(const std::string& pattern) {
  return "Invalid source pattern '" + pattern + "': ";
}

// The pattern split into its components, with the facts that steer the search.
struct Pattern {
  std::vector<std::string> components;
  bool trailingSeparator = false;
  bool caseSensitive = true;
};

Pattern parse(const std::string& pattern) {
  const bool windows = host::platform() == "win32";
  auto isSeparator = [windows](char c) { return c == '/' || (windows && c == '\\'); };
  if (pattern.empty()) throw std::invalid_argument(describe(pattern) + "the pattern is empty");
  const bool drive = windows && pattern.size() >= 2 && pattern[1] == ':';
  if (isSeparator(pattern.front()) || drive)
    throw std::invalid_argument(describe(pattern) +
                                "absolute patterns are not supported; give one relative to "
                                "the base directory");

  Pattern parsed;
  parsed.caseSensitive = !windows;
  parsed.trailingSeparator = isSeparator(pattern.back());
  std::string current;
  auto finish = [&]() {
    if (current.find("**") != std::string::npos && current != "**")
      throw std::invalid_argument(describe(pattern) +
                                  "'**' can only be an entire path component");
    // "." and empty components name the directory already reached; "**" after "**" adds
    // nothing.
    const bool redundant = current.empty() || current == "." ||
                           (current == "**" && !parsed.components.empty() &&
                            parsed.components.back() == "**");
    if (!redundant) parsed.components.push_back(current);
    current.clear();
  };
  for (char c : pattern) {
    if (isSeparator(c))
      finish();
    else
      current.push_back(c);
  }
  finish();
  if (parsed.components.empty())
    throw std::invalid_argument(describe(pattern) +
                                "it names no entry below the base directory");
  return parsed;
}

bool isDirectory(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// The names in one directory listing, in listing order; an unreadable directory has none.
std::vector<std::string> listNames(const fs::path& directory, bool directoriesOnly,
                                   bool followLinks) {
  std::vector<std::string> names;
  std::error_code error;
  fs::directory_iterator it(directory, error);
  for (; !error && it != fs::directory_iterator(); it.increment(error)) {
    if (directoriesOnly) {
      std::error_code statError;
      const bool dir = followLinks ? it->is_directory(statError)
                                   : fs::is_directory(it->symlink_status(statError));
      if (!dir) continue;
    }
    names.push_back(it->path().filename().string());
  }
  return names;
}

class Search {
public:
  Search(const fs::path& base, const Pattern& pattern,
         const std::function<bool(const fs::path&)>& skip)
      : base_(base), pattern_(pattern), skip_(skip) {}

  void select(const fs::path& rel, std::size_t index, std::vector<fs::path>& out) const {
    const auto& components = pattern_.components;
    if (index == components.size()) {
      out.push_back(rel.empty() ? fs::path(".") : rel);
      return;
    }
    const std::string& component = components[index];
    const bool last = index + 1 == components.size();
    const bool directoriesOnly = !last || pattern_.trailingSeparator;
    const fs::path here = rel.empty() ? base_ : base_ / rel;

    if (component == "**") {
      std::set<std::string> seen;
      for (const fs::path& directory : treeOf(rel)) {
        std::vector<fs::path> found;
        select(directory, index + 1, found);
        for (auto& path : found)
          if (seen.insert(path.generic_string()).second) out.push_back(std::move(path));
      }
    } else if (component == "..") {
      select(rel / "..", index + 1, out);
    } else if (hasWildcard(component) || !pattern_.caseSensitive) {
      for (const std::string& name : listNames(here, false, true)) {
        if (!fnmatch(name, component, pattern_.caseSensitive)) continue;
        if (directoriesOnly && !isDirectory(here / name)) continue;
        if (!last && skip_ && skip_(here / name)) continue;
        select(rel / name, index + 1, out);
      }
    } else {
      std::error_code error;
      const fs::path candidate = here / component;
      const bool present =
          directoriesOnly ? isDirectory(candidate) : fs::exists(candidate, error);
      if (present) select(rel / component, index + 1, out);
    }
  }

private:
  // `rel` and every directory below it, without following links: each directory's
  // subdirectories are listed together, then each of them is descended into in turn.
  std::vector<fs::path> treeOf(const fs::path& rel) const {
    std::vector<fs::path> result{rel};
    std::vector<fs::path> pending{rel};
    while (!pending.empty()) {
      const fs::path current = pending.back();
      pending.pop_back();
      std::vector<fs::path> children;
      for (const std::string& name :
           listNames(current.empty() ? base_ : base_ / current, true, false))
        if (!skip_ || !skip_(base_ / current / name)) children.push_back(current / name);
      result.insert(result.end(), children.begin(), children.end());
      pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return result;
  }

  const fs::path& base_;
  const Pattern& pattern_;
  const std::function<bool(const fs::path&)>& skip_;
};

} // namespace

std::vector<fs::path> glob(const fs::path& base, const std::string& pattern,
                           const std::function<bool(const fs::path&)>& skipDirectory) {
  const Pattern parsed = parse(pattern);
  std::vector<fs::path> out;
  Search(base, parsed, skipDirectory).select({}, 0, out);
  return out;
}

} // namespace quorvex::glob
