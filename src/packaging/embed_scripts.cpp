#include "packaging/embed.hpp"

#include "core/context.hpp"
#include "core/fileio.hpp"
#include "core/utils.hpp"
#include "packaging/record.hpp"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace quorvex::embed {

namespace {

// The form of an installer's script for a Python whose path the shebang line cannot hold.
constexpr std::string_view execLine = "'''exec' ";
constexpr std::string_view execTail = " \"$0\" \"$@\"";
constexpr std::string_view execEnd = "' '''";

// `word` for /bin/sh: single-quoted, a quote in it written as '"'"'.
std::string shellWord(const std::string& word) {
  std::string quoted = "'";
  for (const char c : word) {
    if (c == '\'')
      quoted += "'\"'\"'";
    else
      quoted.push_back(c);
  }
  quoted.push_back('\'');
  return quoted;
}

// The interpreter a script's head runs, the words given to it before the script, and where
// the script's own text begins.
struct Head {
  fs::path python;
  std::vector<std::string> arguments;
  std::size_t bodyStart = 0;
};

// The next line of `text` from `at` without its line end, and moves `at` past it.
std::string_view nextLine(std::string_view text, std::size_t& at) {
  const std::size_t end = std::min(text.find('\n', at), text.size());
  std::string_view line = text.substr(at, end - at);
  at = std::min(end + 1, text.size());
  if (line.ends_with('\r')) line.remove_suffix(1);
  return line;
}

std::optional<Head> readHead(std::string_view text) {
  if (!text.starts_with("#!")) return std::nullopt;
  std::size_t at = 0;
  const std::string_view first = nextLine(text, at).substr(2);
  const std::size_t start = first.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  const std::string_view command = first.substr(start);
  const std::size_t blank = command.find_first_of(" \t");
  Head head{.python = fs::path(std::string(command.substr(0, blank))), .arguments = {},
            .bodyStart = at};
  if (head.python != "/bin/sh") {
    // The kernel hands what follows the interpreter to it as one word.
    if (blank != std::string_view::npos) {
      const std::string_view rest = command.substr(blank);
      const std::size_t from = rest.find_first_not_of(" \t");
      if (from != std::string_view::npos) head.arguments.emplace_back(rest.substr(from));
    }
    return head;
  }
  const std::string_view exec = nextLine(text, at);
  if (!exec.starts_with(execLine) || !exec.ends_with(execTail) || nextLine(text, at) != execEnd)
    return std::nullopt;
  std::vector<std::string> words;
  try {
    words = utils::splitCommand(std::string(exec.substr(
        execLine.size(), exec.size() - execLine.size() - execTail.size())));
  } catch (const std::invalid_argument&) {
    return std::nullopt;
  }
  if (words.empty()) return std::nullopt;
  head.python = words.front();
  head.arguments.assign(words.begin() + 1, words.end());
  head.bodyStart = at;
  return head;
}

// A head that /bin/sh reads as the command running the Python `name` beside the script's real
// place with the script, and Python reads as a string: the one relocatable virtual
// environments give their scripts.
std::string relocatableHead(const std::string& name, const std::vector<std::string>& arguments) {
  std::string command = "\"$(dirname -- \"$(realpath -- \"$0\")\")\"/" + shellWord(name);
  for (const std::string& argument : arguments) command += " " + shellWord(argument);
  return "#!/bin/sh\n" + std::string(execLine) + command + std::string(execTail) + "\n" +
         std::string(execEnd) + "\n";
}

fs::path normal(const fs::path& path) { return fs::absolute(path).lexically_normal(); }

// Gives the RECORD lines that name a file of `rewritten` (by its normal path) its new hash
// and size, in every RECORD of the distributions in `sitePackages`.
void updateRecords(const fs::path& sitePackages, const std::map<fs::path, std::string>& rewritten) {
  std::error_code missing;
  for (const auto& entry : fs::directory_iterator(sitePackages, missing)) {
    const fs::path recordFile = entry.path() / "RECORD";
    if (entry.path().extension() != ".dist-info" || !fs::is_regular_file(recordFile)) continue;
    const std::string text = fileio::readFile(recordFile);
    std::string updated;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t end = std::min(text.find('\n', at), text.size());
      std::string line = text.substr(at, end - at);
      if (const std::optional<std::string> path = record::pathOf(line))
        if (const auto found = rewritten.find(normal(sitePackages / *path));
            found != rewritten.end())
          line = record::line(*path, found->second);
      updated += line + (end < text.size() ? "\n" : "");
      at = end + 1;
    }
    if (updated != text) fileio::writeFile(recordFile, updated);
  }
}

// The top-level name of a dotted module name; empty for a relative one.
std::string topLevel(std::string_view dotted) {
  if (dotted.empty() || dotted.front() == '.')
    return {};
  return std::string(dotted.substr(0, dotted.find('.')));
}

std::string_view trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

} // namespace

std::vector<std::string> leadingImports(std::string_view text) {
  const std::optional<Head> head = readHead(text);
  if (!head)
    return {};
  std::vector<std::string> modules;
  const auto add = [&modules](std::string name) {
    if (!name.empty() && std::find(modules.begin(), modules.end(), name) == modules.end())
      modules.push_back(std::move(name));
  };
  std::size_t at = head->bodyStart;
  while (at < text.size()) {
    const std::string_view line = nextLine(text, at);
    if (trimmed(line).empty() || line.starts_with('#'))
      continue;
    if (line.starts_with("from ")) {
      const std::string_view rest = trimmed(line.substr(5));
      const std::size_t end = rest.find_first_of(" \t");
      if (end == std::string_view::npos || trimmed(rest.substr(end)).substr(0, 7) != "import ")
        break;
      add(topLevel(rest.substr(0, end)));
    } else if (line.starts_with("import ")) {
      // "import a.b as c, d  # note": each part's first word.
      std::string_view rest = line.substr(7);
      rest = rest.substr(0, rest.find('#'));
      while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view part = trimmed(rest.substr(0, comma));
        add(topLevel(part.substr(0, part.find_first_of(" \t"))));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
      }
    } else {
      break;
    }
  }
  return modules;
}

std::vector<std::string> missingModules(Context& context, const fs::path& python,
                                        const std::vector<std::string>& names) {
  if (names.empty())
    return {};
  // Isolated from the user's environment and site directory, as the directory runs elsewhere;
  // a top-level module is found without importing anything. A name the finders cannot judge
  // counts as present: only a module surely missing costs a script.
  std::vector<std::string> argv = {python.string(), "-I", "-c",
                                   "import importlib.util, sys\n"
                                   "def absent(name):\n"
                                   "    try:\n"
                                   "        return importlib.util.find_spec(name) is None\n"
                                   "    except Exception:\n"
                                   "        return False\n"
                                   "print('missing:', *filter(absent, sys.argv[1:]))"};
  argv.insert(argv.end(), names.begin(), names.end());
  const char* path = std::getenv("PATH");
  const process::Result result = context.runCommand(argv, utils::commandTimeout, path ? path : "", {});
  const std::size_t line = result.output.rfind("missing:");
  if (!result.ok() || line == std::string::npos)
    throw std::runtime_error("Cannot ask " + python.string() + " which modules it has: " +
                             result.failure(python.string()) + "\n" + result.output);
  std::vector<std::string> missing;
  std::istringstream words(result.output.substr(line + 8));
  for (std::string word; words >> word;)
    missing.push_back(word);
  return missing;
}

std::vector<std::pair<fs::path, std::string>>
removeScriptsWithoutModules(Context& context, const std::vector<fs::path>& scripts,
                            const fs::path& python) {
  std::map<fs::path, std::vector<std::string>> imports;
  std::set<std::string> names;
  for (const fs::path& script : scripts) {
    imports[script] = leadingImports(fileio::readFile(script));
    names.insert(imports[script].begin(), imports[script].end());
  }
  const std::vector<std::string> missing =
      missingModules(context, python, std::vector<std::string>(names.begin(), names.end()));
  std::vector<std::pair<fs::path, std::string>> removed;
  for (const fs::path& script : scripts) {
    const auto lacking = std::find_if(
        imports[script].begin(), imports[script].end(), [&missing](const std::string& module) {
          return std::find(missing.begin(), missing.end(), module) != missing.end();
        });
    if (lacking == imports[script].end())
      continue;
    // The links beside it that lead to it ("pip" to "pip3.12") would be left dangling.
    const fs::path real = fs::canonical(script);
    for (const auto& entry : fs::directory_iterator(script.parent_path())) {
      std::error_code unresolved;
      if (entry.is_symlink() && fs::canonical(entry.path(), unresolved) == real && !unresolved) {
        fs::remove(entry.path());
        removed.emplace_back(entry.path(), *lacking);
      }
    }
    fs::remove(script);
    removed.emplace_back(script, *lacking);
  }
  return removed;
}

std::vector<fs::path> relocateScripts(const fs::path& scriptsPath, const fs::path& python,
                                      const fs::path& sitePackages,
                                      const std::optional<fs::path>& copiedFrom) {
  const fs::path real = fs::canonical(python);
  // The copy may differ from its original (its run path rewritten): the original's bytes
  // are those of the installation that the copied scripts name.
  const std::string pythonBytes =
      fileio::readFile(copiedFrom ? fs::canonical(*copiedFrom) : real);
  std::vector<fs::path> scripts;
  std::vector<std::string> pythonNames;
  for (const auto& entry : fs::directory_iterator(scriptsPath)) {
    std::error_code missing;
    if (fs::canonical(entry.path(), missing) == real && !missing)
      pythonNames.push_back(entry.path().filename().string());
    else if (entry.is_regular_file() && !entry.is_symlink())
      scripts.push_back(entry.path());
  }
  std::sort(scripts.begin(), scripts.end());
  // This Python by its place in the directory, or by the place of the installation it was
  // copied from (the same program there).
  const auto runsThisPython = [&](const fs::path& interpreter) {
    std::error_code missing;
    if (fs::canonical(interpreter, missing) == real && !missing) return true;
    return !missing && fs::file_size(interpreter, missing) == pythonBytes.size() && !missing &&
           fileio::readFile(interpreter) == pythonBytes;
  };

  std::map<fs::path, std::string> rewritten;
  for (const fs::path& script : scripts) {
    char start[2] = {};
    if (std::ifstream(script, std::ios::binary).read(start, 2).gcount() != 2 ||
        std::string_view(start, 2) != "#!")
      continue;
    const std::string text = fileio::readFile(script);
    const std::optional<Head> head = readHead(text);
    if (!head || !head->python.is_absolute() || !runsThisPython(head->python)) continue;
    // The name it was run by, where the directory has it (python3 stays python3).
    const std::string name = head->python.filename().string();
    const bool named = std::find(pythonNames.begin(), pythonNames.end(), name) != pythonNames.end();
    std::string relocated = relocatableHead(named ? name : real.filename().string(),
                                            head->arguments) +
                            text.substr(head->bodyStart);
    fileio::writeFile(script, relocated);
    rewritten.emplace(normal(script), std::move(relocated));
  }
  if (!rewritten.empty()) updateRecords(sitePackages, rewritten);
  std::vector<fs::path> done;
  for (const fs::path& script : scripts)
    if (rewritten.contains(normal(script))) done.push_back(script);
  return done;
}

} // namespace quorvex::embed
