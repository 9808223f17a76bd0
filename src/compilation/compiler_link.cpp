// Phase 3 of `compile`: the two compile groups with their output captured, the link and the
// platform's finishing of an executable.
#include "compilation/compiler.hpp"
#include "compilation/pipeline.hpp"

#include "core/ccompiler.hpp"
#include "core/log.hpp"
#include "core/fileio.hpp"
#include "core/utils.hpp"

#include <exception>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

log::Logger& logger() { return log::getLogger("quorvex.compiler"); }

std::string strip(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// Compiles one group with the process's output captured; the captured text is logged at DEBUG
// once the capture has ended, on success and on failure alike.
std::vector<std::string> compileGroup(Context& context,
                                      const std::vector<std::string>& group, bool noInit,
                                      bool library) {
  logger().info("Compiling {} (noInit={})", _format_filenames(group), noInit ? "True" : "False");
  auto compiler = requireCompiler(context.plugins, noInit);
  compiler->_library = library;
  std::vector<std::string> compiled;
  std::exception_ptr failure;
  std::string captured;
  {
    utils::capture_output cap;
    try {
      compiled = compiler->compile(group);
    } catch (...) {
      failure = std::current_exception();
    }
    captured = cap.finish();
  }
  std::string output = strip(captured);
  if (!output.empty()) logger().debug("Compiler output: {}", output);
  if (failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const ccompiler::CompileError& error) {
      // Without DEBUG records the compiler's own diagnostics were not shown: say where they are.
      if (logger().isEnabledFor(log::DEBUG)) throw;
      throw ccompiler::CompileError(std::string(error.what()) +
                                    " (run with --verbose to see the compiler's output)");
    }
  }
  return compiled;
}

} // namespace

std::optional<fs::path> compileAndLink(Context& context, SourcePlan& plan,
                                       const std::string& exeName, bool library,
                                       const fs::path& targetPath, bool noInit,
                                       const RuntimePathSource& runtimePath) {
  std::vector<std::string> cSourcesRel;
  for (const auto& source : plan.cSources) {
    try {
      cSourcesRel.push_back(source.string());
    } catch (const std::exception&) {
      // Only a path that the native encoding cannot hold gets here (Windows).
      auto text = source.generic_u8string();
      logger().warning("Problem resolving {}",
                       std::string(reinterpret_cast<const char*>(text.data()), text.size()));
    }
  }
  cSourcesRel = _dedupe_keep_order(cSourcesRel);
  logger().info("Source files: {}", _format_filenames(cSourcesRel));

  const std::string bootstrapName = "_qvx_bootstrap.c";
  std::vector<std::string> bootstrapSources, moduleSources;
  // A library's bootstrap is the one module the wheel loads by its init function: exported.
  for (const auto& source : cSourcesRel)
    (!library && fs::path(source).filename() == bootstrapName ? bootstrapSources : moduleSources)
        .push_back(source);

  std::vector<std::string> objects;
  for (const auto& object : plan.objects) objects.push_back(object.string());
  for (const auto& [group, groupNoInit] :
       {std::pair{&bootstrapSources, true}, std::pair{&moduleSources, noInit}}) {
    if (group->empty()) continue;
    for (auto& compiled : compileGroup(context, *group, groupNoInit, library))
      objects.push_back(fs::path(compiled).string());
  }

  std::string outputName = fs::path(exeName).filename().stem().string();
  auto libraryPath = runtimePath();
  objects = _dedupe_keep_order(objects);
  logger().info("Objects {}", _format_filenames(objects));

  auto compiler = requireCompiler(context.plugins, false);
  compiler->_library = library;
  compiler->_libraryPath = libraryPath;
  ccompiler::LinkArgs linkArgs;
  linkArgs.output_dir = targetPath.string();

  // Linked under a temporary name and renamed into place: a link that fails or is killed
  // leaves no truncated product. The compiler layer appends the platform's executable suffix;
  // where that suffix is empty, a name such as "tool.bin" is linked whole.
  fs::path product = productPath(context.plugins, exeName, library, targetPath);
  std::string linkName = fileio::temporarySibling(product).filename().string();
  bool suffixed = !library && (!plan.exeSuffix || !plan.exeSuffix->empty());
  fs::path made = targetPath / (linkName + (suffixed ? plan.exeSuffix.value_or("") : ""));
  fileio::TemporaryFile cleanup(made);
  if (library) {
    logger().info("Linking shared object: {} -> {}", outputName, exeName);
    compiler->link_shared_object(objects, linkName, linkArgs);
  } else {
    compiler->link_executable(objects, linkName, linkArgs);
    context.plugins.appendExecutable(made, targetPath / "library.zip");
    context.plugins.makeExecutable(made);
  }
  fs::rename(made, product);
  cleanup.release();
  return product;
}

fs::path productPath(plugin::PluginManager& manager, const std::string& exeName, bool library,
                     const fs::path& targetPath) {
  if (library) return targetPath / exeName;
  auto exePath = manager.resolveExePath(targetPath / exeName);
  if (!exePath) throw std::runtime_error("No plug-in answered the hook resolveExePath");
  return *exePath;
}

} // namespace quorvex::compiler
