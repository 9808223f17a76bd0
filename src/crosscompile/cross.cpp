#include "crosscompile/cross.hpp"

#include "core/fileio.hpp"
#include "core/process.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::cross {

namespace {

// `path` with its last suffix replaced by (or extended with) `suffix`, in normal form. A path
// without a final name can take no suffix.
fs::path withSuffix(fs::path path, const char* suffix) {
  path = path.lexically_normal();
  if (!path.has_filename() || path.filename() == "." || path.filename() == "..")
    throw std::invalid_argument(fmt::format("'{}' names no file", path.string()));
  return path.replace_extension(suffix);
}

// Runs the driver with `argv` writing `output`: the driver writes a temporary name beside it,
// renamed into place on success, so a failed run leaves no half-written file.
void runDriver(std::vector<std::string> argv, const fs::path& output) {
  fileio::TemporaryFile temporary(fileio::temporarySibling(output));
  argv.insert(argv.end(), {"-o", temporary.path().string()});
  const std::string command = fmt::format("{}", fmt::join(argv, " "));
  process::Result result;
  try {
    result = process::run(argv, {.captureOutput = false});
  } catch (const process::SpawnError& error) {
    throw std::runtime_error(fmt::format("command '{}' failed: {}", command, error.what()));
  }
  if (!result.ok()) throw std::runtime_error(result.failure(command));
  fs::rename(temporary.path(), output);
  temporary.release();
}

} // namespace

CrossCompiler::CrossCompiler()
    : includeDirs{"/opt/python-win/include"}, libDirs{"/opt/python-win/embed"},
      compiler("x86_64-w64-mingw32-clang") {}

CrossCompiler CrossCompiler::newCompiler() { return CrossCompiler(); }

void CrossCompiler::define_macro(const std::string& name, const std::string& value) {
  auto known = std::find_if(macros.begin(), macros.end(),
                            [&](const auto& macro) { return macro.first == name; });
  if (known != macros.end())
    known->second = value;
  else
    macros.emplace_back(name, value);
}

void CrossCompiler::add_include_dir(const fs::path& newDir) { includeDirs.push_back(newDir); }

void CrossCompiler::add_library_dir(const fs::path& newDir) { libDirs.push_back(newDir); }

std::vector<std::string> CrossCompiler::compile(const std::vector<fs::path>& sources) const {
  // One driver run per source: a run over several sources would put every object in the
  // working directory, not beside its source where the returned paths say it is.
  std::vector<fs::path> objects;
  for (const fs::path& source : sources) objects.push_back(withSuffix(source, ".o"));
  std::vector<std::string> result;
  for (std::size_t i = 0; i < sources.size(); ++i) {
    std::vector<std::string> argv{compiler, "-c", sources[i].string()};
    for (const auto& [name, value] : macros) argv.push_back("-D" + name + "=" + value);
    for (const fs::path& dir : includeDirs) argv.push_back("-I" + dir.string());
    runDriver(std::move(argv), objects[i]);
    result.push_back(objects[i].string());
  }
  return result;
}

namespace {

void link(const CrossCompiler& cc, const std::vector<fs::path>& objects,
          const fs::path& outputName, const fs::path& output_dir, const char* suffix,
          const char* kindFlag) {
  const fs::path output = withSuffix(output_dir / outputName, suffix);
  std::vector<std::string> argv{cc.compiler};
  for (const fs::path& object : objects) argv.push_back(object.string());
  for (const fs::path& dir : cc.libDirs) argv.push_back("-L" + dir.string());
  argv.insert(argv.end(), {"-l", "python312", kindFlag});
  runDriver(std::move(argv), output);
}

} // namespace

void CrossCompiler::link_executable(const std::vector<fs::path>& objects,
                                    const fs::path& outputName, const fs::path& output_dir) const {
  link(*this, objects, outputName, output_dir, ".exe", "-municode");
}

void CrossCompiler::link_shared_object(const std::vector<fs::path>& objects,
                                       const fs::path& outputName,
                                       const fs::path& output_dir) const {
  link(*this, objects, outputName, output_dir, ".pyd", "-shared");
}

} // namespace quorvex::cross
