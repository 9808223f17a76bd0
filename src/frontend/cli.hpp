#pragma once
// The tool's command line: the `build` sub-command with its options, the plug-ins' parser
// hooks, the console logging set-up and the dispatch to the chosen sub-command.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::cli {

/// The parsed command line, handed to the sub-command's function and to `extendBuild`.
/// Options that plug-ins add bind their own storage.
struct BuildArguments {
  std::optional<std::string> command; ///< the sub-command word; none without one
  bool verbose = false;
  std::function<void(BuildArguments&)> func; ///< the chosen sub-command's function

  std::optional<std::filesystem::path> embed;
  std::optional<std::filesystem::path> wheel;
  bool library = false;
  std::filesystem::path base = ".";
  bool no_console = false;
  std::optional<std::string> exe;
  std::optional<std::string> version;
  std::optional<std::string> policy;
  std::string mainModule;
  std::vector<std::string> sources;
};

/// Parses `argv`, sets up the console logging and runs the chosen sub-command, or prints the
/// help when none is chosen. Returns the process's exit status (help 0, usage error 2).
/// Exceptions of the sub-command pass out unchanged.
int main(int argc, char** argv);

} // namespace quorvex::cli
