#include "core/ccompiler.hpp"

#include "core/ccompiler_kinds.hpp"
#include "core/log.hpp"
#include "core/process.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace quorvex::ccompiler {

namespace {

std::string joinCommand(const std::vector<std::string>& argv) {
  return fmt::format("{}", fmt::join(argv, " "));
}

} // namespace

void CCompiler::define_macro(const std::string& name) {
  std::erase_if(macros, [&](const Macro& m) { return m.name == name; });
  macros.push_back({name, std::nullopt});
}

void CCompiler::define_macro(const std::string& name, long long value) {
  define_macro(name, std::to_string(value));
}

void CCompiler::define_macro(const std::string& name, const std::string& value) {
  // A later definition replaces an earlier one of the same name, wherever it stood.
  std::erase_if(macros, [&](const Macro& m) { return m.name == name; });
  macros.push_back({name, value});
}

void CCompiler::add_include_dir(const std::string& dir) { include_dirs.push_back(dir); }
void CCompiler::add_library_dir(const std::string& dir) { library_dirs.push_back(dir); }
void CCompiler::add_library(const std::string& name) { libraries.push_back(name); }
void CCompiler::add_runtime_library_dir(const std::string& dir) {
  runtime_library_dirs.push_back(dir);
}

void CCompiler::spawn(const std::vector<std::string>& argv, Step step) const {
  const std::string command = joinCommand(argv);
  if (!sink_) log::root().info("{}", command);
  auto fail = [step](const std::string& message) {
    if (step == Step::Compile) throw CompileError(message);
    throw LinkError(message);
  };
  process::Result result;
  try {
    result = process::run(argv, {.captureOutput = sink_ != nullptr});
    if (sink_) *sink_ += result.output;
  } catch (const process::SpawnError& error) {
    fail(fmt::format("command '{}' failed: {}", command, error.what()));
  }
  if (!result.ok()) fail(result.failure(command));
}

std::unique_ptr<CCompiler> new_compiler(const std::string& kind,
                                        const interpreter::Facts& facts) {
  if (kind == "unix") return std::make_unique<UnixCCompiler>(facts);
  if (kind == "msvc") return std::make_unique<MSVCCompiler>();
  if (kind == "mingw32") return std::make_unique<Mingw32CCompiler>();
  throw std::invalid_argument(
      fmt::format("unknown compiler kind '{}' (expected unix, msvc or mingw32)", kind));
}

namespace detail {

std::string objectPath(const std::string& source, const std::optional<std::string>& output_dir,
                       const std::vector<std::string>& extensions, const std::string& suffix,
                       bool keepSourceSuffix) {
  const fs::path src(source);
  const std::string ext = src.extension().string();
  if (std::find(extensions.begin(), extensions.end(), ext) == extensions.end())
    throw CompileError(fmt::format("unknown file type '{}' (from '{}')", ext, source));
  fs::path base = src;
  if (!keepSourceSuffix) base.replace_extension();
  // An absolute source lands below the output directory, as setuptools places it.
  base = base.relative_path();
  std::string name = base.string() + suffix;
  return output_dir && !output_dir->empty() ? (fs::path(*output_dir) / name).string() : name;
}

std::vector<std::string> preprocessOptions(const std::vector<Macro>& macros,
                                           const std::vector<std::string>& includeDirs) {
  std::vector<std::string> options;
  for (const Macro& macro : macros)
    options.push_back(macro.value ? "-D" + macro.name + "=" + *macro.value : "-D" + macro.name);
  for (const std::string& dir : includeDirs) options.push_back("-I" + dir);
  return options;
}

void makeParentDirectory(const std::string& file) {
  const fs::path parent = fs::path(file).parent_path();
  if (!parent.empty()) fs::create_directories(parent);
}

std::string joinOutput(const std::optional<std::string>& dir, const std::string& output) {
  return dir && !dir->empty() ? (fs::path(*dir) / output).string() : output;
}

std::vector<std::string> concat(const std::vector<std::string>& first,
                                const std::vector<std::string>& second) {
  std::vector<std::string> all(first);
  all.insert(all.end(), second.begin(), second.end());
  return all;
}

} // namespace detail

} // namespace quorvex::ccompiler
