#pragma once
// The options of one build run as the command line parsed them; plug-ins see them through
// `extendBuild`, and the wheel command fills the few it knows itself.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::options {

struct BuildOptions {
  std::optional<std::string> command; ///< the sub-command word; none without one
  bool verbose = false;
  /// The chosen sub-command's function; plug-in sub-commands set it when they are chosen.
  std::function<void(BuildOptions&)> func;

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

} // namespace quorvex::options
