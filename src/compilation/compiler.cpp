#include "compilation/compiler.hpp"

#include "compilation/pipeline.hpp"
#include "compilation/runtime.hpp"
#include "compilation/textfile.hpp"

#include "core/plugin.hpp"
#include "core/interpreter.hpp"
#include "core/utils.hpp"

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::compiler {

std::optional<fs::path> compile(Context& context, const fs::path& sourcePath,
                                const std::optional<std::string>& exeName,
                                const std::optional<std::string>& mainModule,
                                const std::vector<fs::path>& sources,
                                const CompileOptions& options) {
  if (!exeName || exeName->empty())
    throw std::invalid_argument("compile: no name was given for the executable or library");
  if (!options.targetPath)
    throw std::invalid_argument("compile: no target directory was given for " + *exeName);
  auto& manager = context.plugins;
  // A run that fails or is killed must not leave an earlier product looking like its result.
  removeFile(productPath(manager, *exeName, options.library, *options.targetPath));
  SourcePlan plan = discoverSources(context, sourcePath, exeName, sources, options.force);
  generateSources(context, plan, sourcePath, mainModule, options.library,
                  options.projectMainModule);
  return compileAndLink(context, plan, *exeName, options.library, *options.targetPath,
                        options.noInit, [&context] { return runtime::getRuntimePath(context); });
}

std::unique_ptr<utils::PlatformCompiler> requireCompiler(plugin::PluginManager& manager,
                                                         bool noInit) {
  auto compiler = manager.newCompiler(noInit);
  if (!compiler) throw std::runtime_error("No plug-in answered the hook newCompiler");
  return compiler;
}

std::string cythonCommand(Context& context, const std::vector<std::string>& args) {
  // Annotations are left to Python, which ignores them at run time: typed by them, `x: int`
  // would truncate 2.5 and `x: list` would refuse a range. A module in the working directory
  // named like one Cython imports must not replace it: keep the working directory off the
  // module search path (-P since 3.11, else isolated mode).
  const interpreter::Facts& facts = context.interpreter();
  const bool hasSafePath = facts.major > 3 || (facts.major == 3 && facts.minor >= 11);
  std::string cmd = std::string(hasSafePath ? "-P" : "-I") +
                    " -m cython -3 --no-docstrings -X annotation_typing=False ";
  bool first = true;
  auto append = [&](const std::string& arg) {
    if (!first) cmd += " ";
    cmd += utils::quoteWord(arg); // a source root such as "my app" reaches Cython whole
    first = false;
  };
  if (facts.freeThreaded()) {
    append("-X");
    append("freethreading_compatible=True");
  }
  for (const auto& arg : args) append(arg);
  return cmd;
}

void cythonCall(Context& context, const std::vector<std::string>& args) {
  utils::pythonCall(context, cythonCommand(context, args));
}

void patchEmbeddedBootstrap(plugin::PluginManager& manager, const fs::path& bootstrapCPath) {
  static const std::string marker = "PyConfig_InitPythonConfig(&config);";
  std::string content = readText(bootstrapCPath);
  if (auto at = content.find(marker); at != std::string::npos) {
    auto inject = manager.getConfigTemplate();
    if (!inject) throw std::runtime_error("No plug-in answered the hook getConfigTemplate");
    content.replace(at, marker.size(), *inject);
  }
  writeText(bootstrapCPath, content);
}

} // namespace quorvex::compiler
