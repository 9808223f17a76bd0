// Compiler objects and link options on Linux.
#include "platforms/linuxplatform.hpp"

#include "core/ccompiler.hpp"
#include "core/interpreter.hpp"
#include "core/utils.hpp"
#include "platforms/shared.hpp"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <sstream>
#include <stdexcept>

namespace quorvex::linuxplatform {

namespace fs = std::filesystem;

std::vector<std::string> libraryDirsFrom(const std::optional<std::string>& libpl,
                                         const std::optional<std::string>& libdir) {
  std::vector<std::string> dirs;
  for (const auto& value : {libpl, libdir})
    if (value && !value->empty()) dirs.push_back(*value);
  return dirs;
}

std::vector<std::string> libraryNamesFrom(const std::optional<std::string>& libs,
                                          const std::optional<std::string>& syslibs) {
  // Python's own libm and libz come last so that the embedded interpreter always finds them.
  std::vector<std::string> names;
  for (const auto& group : {libs.value_or(""), syslibs.value_or(""), std::string("-lm -lz")}) {
    std::istringstream words(group);
    std::string word;
    while (words >> word) {
      if (word.size() <= 2 || word.compare(0, 2, "-l") != 0) continue;
      auto name = word.substr(2);
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  return names;
}

std::string linkLibraryName(const fs::path& libraryPath) {
  auto stem = libraryPath.filename().string().substr(std::min<size_t>(
      3, libraryPath.filename().string().size())); // without "lib"
  auto first = stem.find('.');
  if (first == std::string::npos) return stem;
  auto second = stem.find('.', first + 1);
  return stem.substr(0, second);
}

namespace {

// Splits at every single blank; empty pieces (adjacent or edge blanks, or an empty value)
// would reach the linker as empty arguments, which it takes for missing files.
std::vector<std::string> splitAtBlanks(const std::string& text) {
  std::vector<std::string> pieces;
  size_t start = 0;
  while (start <= text.size()) {
    auto end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// Products carry no debug information unless QUORVEX_DEBUG_INFO asks for it: CPython's own
// flags hold "-g", which makes a program several times its size and its compiles slower.
bool keepDebugInfo() {
  const char* value = std::getenv("QUORVEX_DEBUG_INFO");
  return value && *value && std::string_view(value) != "0";
}

} // namespace

plugin::LinkerInfo linkerInfoFor(const std::optional<std::string>& linkForShared,
                                 const fs::path& libraryPath) {
  auto directory = libraryPath.parent_path();
  if (directory.empty()) directory = ".";
  auto linkerArgs = splitAtBlanks(linkForShared.value_or(""));
  linkerArgs.push_back("-Wl,-rpath,$ORIGIN");
  plugin::LinkerInfo info;
  info.extraObjects.emplace();
  info.linkerArgs = std::move(linkerArgs);
  info.libraryDirs = {directory.string()};
  info.libraries = {linkLibraryName(libraryPath)};
  // "$ORIGIN" first so that a runtime library shipped beside the program wins, then the
  // embedded directory's lib, so that an embedded program never loads the build directory's
  // runtime; the pristine directory last serves programs run from the build directory.
  info.runtimeLibraryDirs = {"$ORIGIN", embeddedLibRunPath,
                             fs::weakly_canonical(fs::absolute(directory)).string()};
  // A library binds its own symbols to itself: otherwise a program loaded first, or another
  // library of the global scope, that defines the same names (every product has a
  // "PyInit__qvx_shared" and the flags marking a main module) would serve them to it.
  info.libraryLinkerArgs = {"-Wl,-Bsymbolic"};
  return info;
}

std::unique_ptr<utils::PlatformCompiler> Plugin::newCompiler(bool noInit) {
  const auto& facts = pluginManager_.context().interpreter();
  auto compiler = ccompiler::new_compiler("unix", facts);
  for (const auto& dir : libraryDirsFrom(facts.configVar("LIBPL"), facts.configVar("LIBDIR")))
    compiler->add_library_dir(dir);
  for (const auto& name : libraryNamesFrom(facts.configVar("LIBS"), facts.configVar("SYSLIBS")))
    compiler->add_library(name);
  utils::configureCompiler(pluginManager_.context(), *compiler, noInit);
  auto compileArgs = pluginManager_.getCompileArgs().value_or(std::vector<std::string>{});
  // Last on the line, so that it overrides the "-g" of CPython's flags.
  if (!keepDebugInfo()) compileArgs.push_back("-g0");
  // A program's own code is reached only from inside it: exported (LINKFORSHARED exports every
  // symbol), its module init functions and flags would be bound in place of a library's own.
  if (noInit) compileArgs.push_back("-fvisibility=hidden");
  return platforms::linkingCompiler(pluginManager_, std::move(compiler), std::move(compileArgs),
                                    {"-fPIC"});
}

std::optional<plugin::LinkerInfo>
Plugin::getLinkerArgs(const std::string&, const std::optional<fs::path>& libraryPath) {
  if (!libraryPath)
    throw std::runtime_error(name_ + " platform: no Python runtime library to link against");
  auto info =
      linkerInfoFor(pluginManager_.context().interpreter().configVar("LINKFORSHARED"), *libraryPath);
  if (!keepDebugInfo()) {
    info.linkerArgs->push_back("-s");
    info.libraryLinkerArgs->push_back("-s");
  }
  return info;
}

} // namespace quorvex::linuxplatform
