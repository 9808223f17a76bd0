// The toolchain choice, compiler objects and link options on Windows.
#include "platforms/winplatform.hpp"

#include "core/context.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/utils.hpp"
#include "platforms/shared.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <system_error>

namespace quorvex::winplatform {

namespace fs = std::filesystem;

namespace {

#if defined(_WIN32)
constexpr char searchPathSeparator = ';';
#else
constexpr char searchPathSeparator = ':';
#endif

bool isFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

std::string forwardSlashes(std::string path) {
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// CC, CXX and LDSHARED are command texts that the compiler layer (and any setuptools a child
// runs) splits like a shell: a driver under "C:/Program Files" must stay one word.
std::string commandWord(const std::string& path) {
  return path.find_first_of(" \t'") == std::string::npos ? path : '"' + path + '"';
}

void removeCompilerVariables() {
  for (const char* name : {"CC", "CXX", "LDSHARED"})
    utils::setEnv(name, std::nullopt);
}

} // namespace

std::string mingwDriverName(const std::string& platformString) {
  return lowerCase(platformString).find("arm64") != std::string::npos
             ? "aarch64-w64-mingw32-clang.exe"
             : "x86_64-w64-mingw32-clang.exe";
}

std::optional<std::string> findMingwCompiler(const std::optional<fs::path>& toolchain,
                                             const std::string& platformString,
                                             const std::string& searchPath) {
  const auto name = mingwDriverName(platformString);
  if (toolchain && isFile(*toolchain / "bin" / name))
    return forwardSlashes((*toolchain / "bin" / name).string());
  // Only the PATH's own directories: an empty entry would mean the working directory, where
  // any project could plant a compiler.
  for (size_t start = 0; start <= searchPath.size();) {
    auto end = searchPath.find(searchPathSeparator, start);
    if (end == std::string::npos)
      end = searchPath.size();
    auto dir = searchPath.substr(start, end - start);
    if (!dir.empty() && isFile(fs::path(dir) / name))
      return forwardSlashes((fs::path(dir) / name).string());
    start = end + 1;
  }
  return std::nullopt;
}

CompilerChoice chooseCompiler(const std::optional<std::string>& mingwCc,
                              const CompilerFactory& make) {
  auto& logger = log::getLogger("quorvex.winplatform");
  if (!mingwCc) {
    removeCompilerVariables();
    return {make("msvc"), false};
  }
  // The C++ driver of the same toolchain: "...-clang.exe" gives "...-clang++.exe".
  auto cxx = *mingwCc;
  if (auto at = lowerCase(cxx).rfind("clang"); at != std::string::npos)
    cxx.insert(at + 5, "++");
  utils::setEnv("CC", commandWord(*mingwCc));
  utils::setEnv("CXX", commandWord(cxx));
  utils::setEnv("LDSHARED", commandWord(*mingwCc) + " -shared");
  logger.info("Using MinGW compiler: {}", *mingwCc);
  try {
    return {make("mingw32"), true};
  } catch (const std::exception&) {
    logger.warning("MinGW compiler init failed, falling back to MSVC");
  }
  removeCompilerVariables();
  return {make("msvc"), false};
}

plugin::LinkerInfo linkerInfoFor(bool useMingw, bool noConsole, int major, int minor,
                                 bool stableAbi) {
  const std::string subsystem = noConsole ? "WINDOWS" : "CONSOLE";
  const std::string pyLib = "python" + std::to_string(major) + std::to_string(minor);
  // A library tagged abi3 is loaded by later versions too: it must take the stable ABI's
  // functions from python3.dll, which every version ships, not from this version's DLL.
  const std::string libraryPyLib = stableAbi ? "python3" : pyLib;
  using Strings = std::vector<std::string>;
  plugin::LinkerInfo info{.extraObjects = Strings{},
                          .linkerArgs = Strings{},
                          .libraryDirs = Strings{},
                          .libraries = Strings{},
                          .runtimeLibraryDirs = Strings{},
                          .libraryLinkerArgs = Strings{}};
  if (useMingw) {
    info.linkerArgs = {"-flto", "-municode", "-m" + lowerCase(subsystem), "-l", pyLib};
    info.libraryLinkerArgs = {"-l", libraryPyLib};
  } else {
    // MSVC takes the library's import library from pyconfig.h's "#pragma comment(lib)", which
    // names python3.lib under Py_LIMITED_API.
    info.extraObjects = {"kernel32.lib", "ucrt.lib", "vcruntime.lib"};
    info.linkerArgs = {"/ENTRY:wmainCRTStartup", "/SUBSYSTEM:" + subsystem, "/LTCG"};
  }
  return info;
}

fs::path resourceScript(const fs::path& moduleBuildDir, const std::string& productName) {
  auto name = productName;
  // The suffix starts at the last dot that is neither the name's first nor its last character.
  if (auto dot = name.rfind('.'); dot != std::string::npos && dot != 0 && dot + 1 != name.size())
    name.erase(dot);
  return moduleBuildDir / (name + ".rc");
}

std::unique_ptr<utils::PlatformCompiler> Plugin::newCompiler(bool noInit) {
  Context& context = pluginManager_.context();
  const auto& facts = context.interpreter();
  const char* searchPath = std::getenv("PATH");
  auto choice =
      chooseCompiler(findMingwCompiler(toolchain_, facts.platform, searchPath ? searchPath : ""),
                     [&facts](const std::string& kind) {
                       return ccompiler::new_compiler(kind, facts);
                     });
  useMingw_ = choice.useMingw;
  auto& compiler = choice.compiler;
  if (auto base = facts.configVar("installed_platbase")) {
    std::error_code ec;
    if (auto libs = fs::path(*base) / "libs"; fs::exists(libs, ec))
      compiler->add_library_dir(libs.string());
  }
  utils::configureCompiler(context, *compiler, noInit);
  return platforms::linkingCompiler(pluginManager_, std::move(compiler),
                                    {useMingw_ ? "-flto" : "/GL"}, {});
}

std::optional<plugin::CompileBasics> Plugin::getCompileBasics() {
  return plugin::CompileBasics{.objSuffix = useMingw_ ? ".o" : ".obj", .exeSuffix = ".exe"};
}

std::optional<std::vector<fs::path>>
Plugin::getExtraSources(const fs::path& moduleBuildDir,
                        const std::optional<std::string>& productName) {
  auto script = resourceScript(moduleBuildDir, productName.value_or(""));
  std::error_code ec;
  if (fs::exists(script, ec))
    return std::vector<fs::path>{script};
  return std::vector<fs::path>{};
}

std::optional<plugin::LinkerInfo> Plugin::getLinkerArgs(const std::string&,
                                                        const std::optional<fs::path>&) {
  const auto& facts = pluginManager_.context().interpreter();
  // Library code is compiled against the stable ABI whenever the interpreter allows it.
  return linkerInfoFor(useMingw_, platforms::buildOption(noConsole_, "Windows", "getLinkerArgs"),
                       facts.major, facts.minor,
                       interpreter::usesStableAbi(facts.major, facts.minor, facts.freeThreaded()));
}

} // namespace quorvex::winplatform
