#pragma once
// The tool's command line: the `build` sub-command with its options, the plug-ins' parser
// hooks, the console logging set-up and the dispatch to the chosen sub-command.

#include "core/options.hpp"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}
namespace quorvex::plugin {
class PluginManager;
}

namespace quorvex::cli {

/// The parsed command line, handed to the sub-command's function and to `extendBuild`.
/// Options that plug-ins add bind their own storage.
using BuildArguments = options::BuildOptions;

/// The parser of one `main` call: the global `--verbose`, the `build` sub-command with its
/// options, positionals and `func`, and what the plug-ins of `manager` add through
/// `extendBuildParser` and `extendSubParsers` (both asked here, once). Parsed values land in
/// `args`, which must outlive the parser.
class CommandLine {
public:
  CommandLine(std::string programName, BuildArguments& args, plugin::PluginManager& manager);
  ~CommandLine();
  CommandLine(const CommandLine&) = delete;
  CommandLine& operator=(const CommandLine&) = delete;

  /// Parses `words` (the arguments after the program name) into the arguments. Returns none
  /// when the run goes on; otherwise the exit status after printing the help of the chosen
  /// parser to `out` (-h, --help: 0) or its usage line and the error to `err` (2). Long
  /// options may be shortened to a prefix that is unambiguous within their parser.
  std::optional<int> parse(const std::vector<std::string>& words, std::ostream& out,
                           std::ostream& err);

  /// The help of the top-level parser.
  std::string help() const;

private:
  std::unique_ptr<CLI::App> app_;
  CLI::App* buildParser_ = nullptr;
  BuildArguments& args_;
  plugin::PluginManager& manager_;
};

/// Loads the plug-ins, makes the run's context (the build interpreter beside the running
/// executable, ".quorvex_build"), parses `argv`, sets up the console logging and runs the chosen
/// sub-command, or prints the
/// help when none is chosen. Returns the process's exit status (help 0, usage error 2).
/// Exceptions of the sub-command pass out unchanged.
int main(int argc, char** argv);

} // namespace quorvex::cli
