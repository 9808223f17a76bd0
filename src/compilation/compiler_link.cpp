// Phase 3 of `compile`: the C files of the two compile groups compiled side by side, each
// with its output kept apart, the link and the platform's finishing of an executable.
#include "compilation/compiler.hpp"
#include "compilation/jobs.hpp"
#include "compilation/pipeline.hpp"

#include "core/ccompiler.hpp"
#include "core/log.hpp"
#include "core/fileio.hpp"
#include "core/utils.hpp"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string_view>

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

// One C file's compile: its own compiler object, whose children's output is kept here.
struct CompileJob {
  std::string source;
  std::unique_ptr<utils::PlatformCompiler> compiler;
  std::string output;
  std::vector<std::string> objects;
  double seconds = 0;
  bool failed = false;
};

// How many of a failed compile's output lines are shown without --verbose.
constexpr std::size_t shownErrorLines = 12;

// The compiler's own account of a failed compile, kept short: its lines from the first that
// speaks of an error (warnings about other code may come before it), at most
// `shownErrorLines`, and how many more there are.
std::string firstErrorLines(const std::string& output) {
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    std::string_view line(output.data() + at, end - at);
    if (line.ends_with('\r')) line.remove_suffix(1);
    lines.push_back(line);
    at = end + 1;
  }
  const auto mentionsError = [](std::string_view line) {
    std::string lower(line);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find("error") != std::string::npos;
  };
  const auto first = std::find_if(lines.begin(), lines.end(), mentionsError);
  const std::size_t from =
      first == lines.end() ? 0 : static_cast<std::size_t>(first - lines.begin());
  const std::size_t to = std::min(lines.size(), from + shownErrorLines);
  std::string shown;
  for (std::size_t i = from; i < to; ++i)
    shown.append(i == from ? "  " : "\n  ").append(lines[i]);
  if (const std::size_t hidden = lines.size() - (to - from); hidden > 0)
    shown += "\n  ... (" + std::to_string(hidden) + (hidden == 1 ? " more line)" : " more lines)");
  return shown;
}

// Runs the compile jobs side by side, the largest C file first (the longest compile starts
// soonest). Each file's output is logged whole at DEBUG as it ends, with a progress line at
// INFO that also tells how much of the C, by size, is compiled. When compiles fail, the ones
// running end, no other starts, each failed file's first error lines are logged, the
// failures' objects are removed and the first failure is raised.
void compileAll(std::vector<CompileJob>& jobs) {
  using Clock = std::chrono::steady_clock;
  std::vector<std::size_t> order(jobs.size());
  std::vector<std::uintmax_t> sizes(jobs.size(), 0);
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    order[i] = i;
    std::error_code ignored;
    auto size = fs::file_size(jobs[i].source, ignored);
    if (!ignored) sizes[i] = size;
  }
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });

  std::vector<std::function<void()>> tasks;
  for (std::size_t i : order)
    tasks.push_back([&job = jobs[i]] {
      auto start = Clock::now();
      // An object left from an earlier run must not stand for this compile if it fails.
      auto object = job.compiler->compiler().object_filename(job.source, std::nullopt);
      std::error_code ignored;
      fs::remove(object, ignored);
      try {
        job.objects = job.compiler->compile({job.source});
      } catch (...) {
        job.failed = true;
        fs::remove(object, ignored);
        throw;
      }
      job.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    });

  std::size_t count = 0;
  std::uintmax_t totalSize = 0, doneSize = 0;
  for (std::uintmax_t size : sizes) totalSize += size;
  auto logOutput = [](const CompileJob& job) {
    std::string output = strip(job.output);
    if (!output.empty()) logger().debug("Compiler output: {}", output);
  };
  try {
    runJobs(tasks, jobCount(), [&](std::size_t task) {
      const CompileJob& job = jobs[order[task]];
      logOutput(job);
      logger().debug("compiled {} in {:.2f} s", job.source, job.seconds);
      doneSize += sizes[order[task]];
      // Rounded down: 100 % only once every file is compiled.
      const auto percent = totalSize ? doneSize * 100 / totalSize : 100;
      logger().info("[{}/{}] compiled {} ({}% of the C code)", ++count, jobs.size(),
                    fs::path(job.source).filename().string(), percent);
    });
  } catch (...) {
    // runJobs rethrows the first failure.
    const bool verbose = logger().isEnabledFor(log::DEBUG);
    for (const auto& job : jobs) {
      if (!job.failed) continue;
      if (verbose) logOutput(job);
      else if (!strip(job.output).empty())
        logger().error("Compiling {} failed:\n{}", job.source,
                       firstErrorLines(strip(job.output)));
    }
    try {
      throw;
    } catch (const ccompiler::CompileError& error) {
      // Without DEBUG records only the first lines of the compiler's output were shown.
      if (verbose) throw;
      throw ccompiler::CompileError(std::string(error.what()) +
                                    " (run with --verbose to see the compiler's whole output)");
    }
  }
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
  std::vector<CompileJob> jobs;
  for (const auto& [group, groupNoInit] :
       {std::pair{&bootstrapSources, true}, std::pair{&moduleSources, noInit}}) {
    if (group->empty()) continue;
    logger().info("Compiling {} (noInit={})", _format_filenames(*group),
                  groupNoInit ? "True" : "False");
    for (const auto& source : *group) {
      CompileJob& job = jobs.emplace_back();
      job.source = source;
      job.compiler = requireCompiler(context.plugins, groupNoInit);
      job.compiler->_library = library;
    }
  }
  for (auto& job : jobs) job.compiler->compiler().capture_into(&job.output);
  compileAll(jobs);
  for (const auto& job : jobs)
    for (const auto& compiled : job.objects) objects.push_back(fs::path(compiled).string());

  std::string outputName = fs::path(exeName).filename().stem().string();
  auto libraryPath = runtimePath();
  objects = _dedupe_keep_order(objects);
  logger().info("Objects {}", _format_filenames(objects));

  auto compiler = requireCompiler(context.plugins, false);
  compiler->_library = library;
  compiler->_libraryPath = libraryPath;
  // The platform's link options name the product (a run path below "lib/<program>"), not the
  // temporary name it is linked under.
  compiler->_productName = library ? exeName : outputName;
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
  auto linkStart = std::chrono::steady_clock::now();
  if (library) {
    logger().info("Linking shared object: {} -> {}", outputName, exeName);
    compiler->link_shared_object(objects, linkName, linkArgs);
  } else {
    compiler->link_executable(objects, linkName, linkArgs);
    context.plugins.appendExecutable(made, targetPath / "library.zip");
    context.plugins.makeExecutable(made);
  }
  logger().debug("linked {} in {:.2f} s", product.string(),
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - linkStart)
                     .count());
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
