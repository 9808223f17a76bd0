#pragma once
// Plug-ins and the plug-in manager of a run. Every platform-dependent step of the
// tool is a hook: a named call on the manager, which asks every loaded plug-in in load order
// and combines the answers. The first answer becomes the result; a later mapping answer is
// merged into it key by key (the later plug-in winning; `CompileBasics` and `LinkerInfo` do it
// in their `merge`); a later list answer is appended; a second answer to a single-value hook
// is an error that names the hook. A hook's exception reaches the caller at once and the
// plug-ins after it are not asked.

#include "core/options.hpp"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace CLI {
class App;
}
namespace quorvex {
class Context;
}
namespace quorvex::ccompiler {
class CCompiler;
}
namespace quorvex::utils {
class PlatformCompiler;
}

namespace quorvex::plugin {

/// The target's file suffixes. A field left empty is not answered, so that a later plug-in
/// can change one suffix and keep the others.
struct CompileBasics {
  std::optional<std::string> objSuffix{}; ///< object files, e.g. ".o"
  std::optional<std::string> exeSuffix{}; ///< executables, e.g. "" or ".exe"

  /// Key by key: each field that `later` answers replaces this one's.
  void merge(CompileBasics&& later);
  bool operator==(const CompileBasics&) const = default;
};

/// How to link one output. Every field is optional and a missing one counts as an empty list.
struct LinkerInfo {
  using Strings = std::optional<std::vector<std::string>>;
  Strings extraObjects{};       ///< objects after the caller's, both links
  Strings linkerArgs{};         ///< pre-arguments of an executable link
  Strings libraryDirs{};        ///< library directories, both links
  Strings libraries{};          ///< libraries, both links
  Strings runtimeLibraryDirs{}; ///< run-time search directories, both links
  Strings libraryLinkerArgs{};  ///< pre-arguments of a shared-object link
  Strings linkerArgsEntangle{}; ///< pre-arguments of both links, after the two above

  /// Key by key: each field that `later` answers replaces this one's.
  void merge(LinkerInfo&& later);
  bool operator==(const LinkerInfo&) const = default;
};

/// A JSON object with the keys "pxd", "code", "features", "exports", each an object.
using TemplateExtensions = nlohmann::json;

/// The `uv` interpreter request and the build interpreter's major.minor.micro.
struct InstallSelector {
  std::string installSelector;
  std::string orgVersionName;
};

/// A runtime library shipped in an executable wheel: its path inside the wheel and its bytes.
struct RuntimeLibrary {
  std::string path;
  std::string data;
};

/// What a copy of the linked product ships in.
enum class Shipment { wheel, embeddedDirectory };

class PluginManager;

/// A plug-in answers the hooks it overrides; every default answers nothing (nullopt, a null
/// pointer, or no effect).
class Plugin {
public:
  virtual ~Plugin() = default;

  // Command line and build driver.
  /// Adds options to the `build` sub-command's parser.
  virtual void extendBuildParser(CLI::App& /*buildParser*/) {}
  /// Adds sub-commands to the main parser; a sub-command sets `options.func` when chosen.
  virtual void extendSubParsers(CLI::App& /*mainParser*/, options::BuildOptions& /*options*/) {}
  /// Told the run's build options before any other hook of the run.
  virtual void extendBuild(const options::BuildOptions& /*options*/) {}
  /// The product's file name for the `--exe` value or the main module's first part.
  virtual std::optional<std::string> getExecutableName(const std::string& /*mainModule*/) {
    return {};
  }

  // Pristine Python and compilation.
  /// The `uv` request for the pristine Python and the build interpreter's full version.
  virtual std::optional<InstallSelector> getInstallSelector() { return {}; }
  /// Object and executable suffixes.
  virtual std::optional<CompileBasics> getCompileBasics() { return {}; }
  /// Further C sources to compile into the product.
  virtual std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path& /*moduleBuildDir*/,
                  const std::optional<std::string>& /*productName*/) {
    return {};
  }
  /// Extensions of the bootstrap template; JSON null counts as no answer.
  virtual std::optional<TemplateExtensions> extendTemplate() { return {}; }
  /// The program `name` in the directory of `path`, with the host's executable suffix.
  virtual std::optional<std::filesystem::path> getExePath(const std::filesystem::path& /*path*/,
                                                          const std::string& /*name*/) {
    return {};
  }
  /// C code that takes the place of the generated main's interpreter configuration call.
  virtual std::optional<std::string> getConfigTemplate() { return {}; }
  /// A new compiler prepared by `configureCompiler`; null when this plug-in makes none.
  virtual std::unique_ptr<utils::PlatformCompiler> newCompiler(bool /*noInit*/);
  /// May add settings to a compiler object after the common ones.
  virtual void extendCompiler(ccompiler::CCompiler& /*compiler*/) {}
  /// Extra arguments for every C compile.
  virtual std::optional<std::vector<std::string>> getCompileArgs() { return {}; }
  /// The Python runtime library that products link against and ship.
  virtual std::optional<std::filesystem::path>
  getRuntimeLibPath(const std::filesystem::path& /*pristinePython*/,
                    const std::filesystem::path& /*buildPath*/) {
    return {};
  }
  /// The linker information for one output and the runtime library path.
  virtual std::optional<LinkerInfo>
  getLinkerArgs(const std::string& /*exeName*/,
                const std::optional<std::filesystem::path>& /*libraryPath*/) {
    return {};
  }
  /// The linked executable's path as it exists on disk.
  virtual std::optional<std::filesystem::path>
  resolveExePath(const std::filesystem::path& /*exePath*/) {
    return {};
  }
  /// Appends the archive `zipPath` to the executable when the platform does that.
  virtual void appendExecutable(const std::filesystem::path& /*exePath*/,
                                const std::filesystem::path& /*zipPath*/) {}
  /// Sets the executable's permission bits.
  virtual void makeExecutable(const std::filesystem::path& /*exePath*/) {}

  // Wheels and embedded directories.
  /// The wheel platform tag for the build interpreter's platform name.
  virtual std::optional<std::string> fixPlatformName(const std::string& /*platformName*/) {
    return {};
  }
  /// The runtime libraries an executable wheel ships.
  virtual std::optional<std::vector<RuntimeLibrary>>
  getRuntimeLibraries(const std::string& /*projectName*/, const std::string& /*version*/,
                      const std::optional<std::filesystem::path>& /*runtimeLibPath*/) {
    return {};
  }
  /// Places the finished wheel, or a repaired copy, in `outputPath` and answers its path there.
  virtual std::optional<std::filesystem::path>
  auditWheel(const std::optional<std::filesystem::path>& /*runtimeLibPath*/,
             const std::filesystem::path& /*wheelPath*/,
             const std::filesystem::path& /*outputPath*/,
             const std::optional<std::string>& /*policy*/) {
    return {};
  }
  /// Makes `productPath`, a copy of the product linked against `runtimeLibPath` that ships in
  /// a `shipment` of the distribution `distributionName` (its escaped name), load its
  /// libraries from where that shipment puts them, and from no place of the build machine.
  virtual void
  prepareShippedProduct(const std::filesystem::path& /*productPath*/, Shipment /*shipment*/,
                        const std::string& /*distributionName*/,
                        const std::optional<std::filesystem::path>& /*runtimeLibPath*/) {}
  /// The interpreter program inside an embedded directory, made ready to run.
  virtual std::optional<std::filesystem::path>
  ensureDynload(const std::filesystem::path& /*embedDir*/) {
    return {};
  }
  /// The directory inside an embedded directory that receives the executable.
  virtual std::optional<std::filesystem::path>
  getExecutablePath(const std::filesystem::path& /*embedDir*/) {
    return {};
  }
};

/// The factory that an extension library (`libquorvexpro.so`) exports as
/// `extern "C" quorvex::plugin::Plugin* quorvexpro_plugin(quorvex::plugin::PluginManager*)`;
/// the manager takes ownership of the new plug-in.
using ExtensionFactory = Plugin* (*)(PluginManager*);

/// Makes one of the tool's own plug-ins for the manager; throws off its platform.
using BuiltinFactory = std::function<std::unique_ptr<Plugin>(PluginManager&)>;
/// The tool's own plug-ins by module name (".linuxplatform", ...).
using BuiltinFactories = std::map<std::string, BuiltinFactory>;

/// Where a run of the tool looks for the extension library, in order: the absolute
/// directories that the user names for libraries in the environment (LD_LIBRARY_PATH,
/// DYLD_LIBRARY_PATH on macOS, PATH on Windows), then the library directory of the tool's own
/// installation ("lib" beside the "bin" of `toolExecutable`; on Windows its own directory).
/// Never the working directory: a tree being built must not run code in the tool.
std::vector<std::filesystem::path> extensionSearchPath(const std::filesystem::path& toolExecutable);

class PluginManager {
  struct LoadedLibrary;
  /// Extension libraries stay loaded until the plug-ins made from them are gone; declared
  /// before `plugins` so that they are destroyed after them.
  std::vector<std::unique_ptr<LoadedLibrary>> libraries_;

public:
  /// Starts with `plugins`, then loads each of `moduleNames` in order: "quorvexpro" is the
  /// extension library, looked for in `extensionDirs` only, in order; names beginning with
  /// "." are made by their entry in `builtins`. A module that cannot be loaded or constructed
  /// costs a warning and is left out.
  explicit PluginManager(std::vector<std::unique_ptr<Plugin>> plugins = {},
                         const std::vector<std::string>& moduleNames = {},
                         const BuiltinFactories& builtins = {},
                         std::vector<std::filesystem::path> extensionDirs = {});
  ~PluginManager();
  PluginManager(const PluginManager&) = delete;
  PluginManager& operator=(const PluginManager&) = delete;

  /// Appends a plug-in; no checks.
  void register_(std::unique_ptr<Plugin> plugin);

  /// The run these plug-ins serve: its interpreter facts, build directory and command runner.
  /// Throws `std::logic_error` when no `Context` has been made with this manager.
  Context& context() const;
  /// Called by `Context` when it is made (`this` of it) and when it goes (null).
  void attach(Context* context) { context_ = context; }

  /// The plug-ins in the order they are asked.
  std::vector<std::unique_ptr<Plugin>> plugins;

  // One method per hook; see `Plugin` for the arguments.
  void extendBuildParser(CLI::App& buildParser);
  void extendSubParsers(CLI::App& mainParser, options::BuildOptions& options);
  void extendBuild(const options::BuildOptions& options);
  std::optional<std::string> getExecutableName(const std::string& mainModule);
  std::optional<InstallSelector> getInstallSelector();
  std::optional<CompileBasics> getCompileBasics();
  std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path& moduleBuildDir,
                  const std::optional<std::string>& productName);
  std::optional<TemplateExtensions> extendTemplate();
  std::optional<std::filesystem::path> getExePath(const std::filesystem::path& path,
                                                  const std::string& name);
  std::optional<std::string> getConfigTemplate();
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool noInit);
  void extendCompiler(ccompiler::CCompiler& compiler);
  std::optional<std::vector<std::string>> getCompileArgs();
  std::optional<std::filesystem::path>
  getRuntimeLibPath(const std::filesystem::path& pristinePython,
                    const std::filesystem::path& buildPath);
  std::optional<LinkerInfo> getLinkerArgs(const std::string& exeName,
                                          const std::optional<std::filesystem::path>& libraryPath);
  std::optional<std::filesystem::path> resolveExePath(const std::filesystem::path& exePath);
  void appendExecutable(const std::filesystem::path& exePath, const std::filesystem::path& zipPath);
  void makeExecutable(const std::filesystem::path& exePath);
  std::optional<std::string> fixPlatformName(const std::string& platformName);
  std::optional<std::vector<RuntimeLibrary>>
  getRuntimeLibraries(const std::string& projectName, const std::string& version,
                      const std::optional<std::filesystem::path>& runtimeLibPath);
  std::optional<std::filesystem::path>
  auditWheel(const std::optional<std::filesystem::path>& runtimeLibPath,
             const std::filesystem::path& wheelPath, const std::filesystem::path& outputPath,
             const std::optional<std::string>& policy);
  void prepareShippedProduct(const std::filesystem::path& productPath, Shipment shipment,
                             const std::string& distributionName,
                             const std::optional<std::filesystem::path>& runtimeLibPath);
  std::optional<std::filesystem::path> ensureDynload(const std::filesystem::path& embedDir);
  std::optional<std::filesystem::path> getExecutablePath(const std::filesystem::path& embedDir);

private:
  Context* context_ = nullptr;
  std::vector<std::filesystem::path> extensionDirs_;

  std::unique_ptr<Plugin> _load_plugin_from_module(const std::string& moduleName,
                                                   const BuiltinFactories& builtins);

  /// Asks every plug-in `hook` in load order; the first answer is the result and each later
  /// one is handed to `combine(result, answer)`.
  template <auto hook, typename Combine, typename... Args>
  auto ask(Combine combine, Args&&... args) {
    using Answer = std::invoke_result_t<decltype(hook), Plugin&, Args&...>;
    Answer result;
    for (const auto& plugin : plugins) {
      Answer answer = ((*plugin).*hook)(args...);
      if (!answer) continue;
      if (!result)
        result = std::move(answer);
      else
        combine(*result, std::move(*answer));
    }
    return result;
  }
};

} // namespace quorvex::plugin
