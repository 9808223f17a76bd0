#pragma once
// What a build is meant for: operating system, processor, Python version and mode, library or
// executable, limited API. Values left out come from the host and the build interpreter.

#include "core/interpreter.hpp"

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::target {

/// A configuration value for the targets that match its selectors (an absent one matches
/// every target; `pythonVersion` is a prefix of the target's version).
struct ConfigTemplate {
  std::optional<std::string> os, processor, pythonVersion, pythonMode;
  std::optional<bool> limited;
  std::string varName, value;
};

/// The table of configuration templates; this system has none.
inline const std::vector<ConfigTemplate> configTemplates{};

/// A target description. A given value is stored unchanged, unchecked against the options'
/// choices.
class Target {
public:
  /// `os`: else the host's system name ("Linux"; "Windows" on Windows). `processor`: else the
  /// host's machine name, "AMD64" read as "x86_64". `pythonVersion`: else the build
  /// interpreter's `py_version`. `pythonMode`: else "freeThreaded" when the interpreter's
  /// `Py_GIL_DISABLED` is 1, otherwise "standard". `limited`: else `library`. The build
  /// interpreter's values come from `facts`.
  explicit Target(const interpreter::Facts& facts, std::optional<std::string> os = {},
                  std::optional<std::string> processor = {},
                  std::optional<std::string> pythonVersion = {},
                  std::optional<std::string> pythonMode = {}, bool library = false,
                  std::optional<bool> limited = {});

  /// The target's configuration values under the build interpreter's names, in a fixed order:
  /// EXT_SUFFIX, LIBPL, LIBDIR, LIBRARY, SYSLIBS, LINKFORSHARED, installed_platbase (all
  /// empty) and py_version. A new list on every call.
  std::vector<std::pair<std::string, std::string>> get_config_vars() const;

  std::string os;
  std::string processor;
  std::string pythonVersion;
  std::string pythonMode;
  bool library;
  bool limited;
};

/// The five target options as parsed; an option not given stays absent.
struct TargetOptions {
  std::optional<std::string> targetOs, targetProcessor, targetPython, targetMode;
  std::optional<bool> targetLimited;
};

/// Registers --targetOs, --targetProcessor, --targetPython, --targetMode and --targetLimited on
/// `parser`, storing into `options`; a value outside an option's choices is a usage error.
void addTarget(CLI::App& parser, TargetOptions& options);

} // namespace quorvex::target
