#pragma once
// The compilation pipeline: source discovery and the rebuild decision, the Cython runs, the
// template renders, the splice of the platform's start-up configuration, and the C compile and
// link of one executable or one shared library.

#include "core/utils.hpp"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::compiler {

struct CompileOptions {
  bool force = true;
  bool noConsole = false;
  bool library = false;
  std::optional<std::filesystem::path> targetPath;
  bool noInit = false;
  std::optional<std::string> projectMainModule;
};

/// Compiles `sources` (paths relative to `sourcePath`) and links the executable or library
/// `exeName` into `options.targetPath`; returns the product's path.
std::optional<std::filesystem::path> compile(const std::filesystem::path& sourcePath,
                                             const std::optional<std::string>& exeName,
                                             const std::optional<std::string>& mainModule,
                                             const std::vector<std::filesystem::path>& sources,
                                             const CompileOptions& options = {});

/// A new platform compiler from the `newCompiler` hook; null when no plug-in answers.
std::unique_ptr<utils::PlatformCompiler> getCompiler(bool noInit = false);

} // namespace quorvex::compiler
