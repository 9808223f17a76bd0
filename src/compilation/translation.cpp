#include "compilation/translation.hpp"

#include "compilation/batches.hpp"
#include "compilation/compiler.hpp"
#include "compilation/jobs.hpp"
#include "compilation/textfile.hpp"

#include "core/log.hpp"
#include "core/utf8.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

// The driver run translating `modules`, with the options `common` for all of them.
utils::PythonCommand batchCommand(Context& context, const std::vector<std::string>& common,
                                  std::span<const ModuleTranslation> modules) {
  std::vector<std::string> args = common;
  args.push_back("--modules");
  for (const ModuleTranslation& module : modules)
    args.insert(args.end(), {"--module-name", module.name, "--output-file",
                             module.cFile.string(), module.source.string()});
  return utils::pythonCommand(context, cythonCommand(context, args));
}

} // namespace

std::vector<Translation> batchTranslations(Context& context, const std::vector<std::string>& common,
                                           const std::vector<ModuleTranslation>& modules,
                                           std::size_t batches) {
  std::vector<std::uintmax_t> sizes;
  for (const auto& module : modules) {
    std::error_code ignored;
    auto size = fs::file_size(module.source, ignored);
    sizes.push_back(ignored ? 0 : size);
  }
  // Cython's "-v" makes the driver report a compiler crash whole, with its traceback.
  std::vector<std::string> options = common;
  if (log::getLogger("quorvex.compiler").isEnabledFor(log::DEBUG)) options.push_back("-v");
  std::vector<Translation> runs;
  for (const auto& batch : dealIntoBatches(sizes, batches)) {
    Translation run{{}, {}, {}, options};
    for (std::size_t index : batch) run.modules.push_back(modules[index]);
    run.command = batchCommand(context, options, run.modules);
    runs.push_back(std::move(run));
  }
  return runs;
}

namespace {

// What the driver wrote, less its lines "translating <C file>" before each module and
// "translated <C file> in <seconds> s" after each one that translated.
struct DriverOutput {
  std::string log;
  std::map<std::string, double> seconds; // by C file
  std::string lastStarted;               // the C file of the last module begun
};

// The driver's line "translated <C file> in <seconds> s" read: the C file and the seconds;
// none for any other line.
std::optional<std::pair<std::string_view, double>> translatedLine(std::string_view line) {
  constexpr std::string_view head = "translated ", middle = " in ", tail = " s";
  auto split = line.rfind(middle);
  if (!line.starts_with(head) || !line.ends_with(tail) || split == std::string::npos ||
      split < head.size())
    return std::nullopt;
  std::string number(
      line.substr(split + middle.size(), line.size() - split - middle.size() - tail.size()));
  char* stop = nullptr;
  double value = std::strtod(number.c_str(), &stop);
  if (number.empty() || stop != number.c_str() + number.size()) return std::nullopt;
  return std::pair{line.substr(head.size(), split - head.size()), value};
}

DriverOutput readDriverOutput(const std::string& output) {
  constexpr std::string_view begun = "translating ";
  DriverOutput read;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    std::string_view line(output.data() + at, end - at);
    at = end + 1;
    if (line.starts_with(begun)) {
      read.lastStarted = line.substr(begun.size());
      continue;
    }
    if (auto report = translatedLine(line))
      read.seconds[std::string(report->first)] = report->second;
    else
      read.log.append(line).append("\n");
  }
  return read;
}

// Follows a batch's output as it comes and calls `translated` for each of its modules whose
// C file the driver has reported written.
class ProgressReader {
public:
  ProgressReader(const std::vector<ModuleTranslation>& modules,
                 const std::function<void(const ModuleTranslation&)>& translated)
      : modules_(modules), translated_(translated) {}

  void operator()(std::string_view piece) {
    pending_.append(piece);
    std::size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::string_view line(pending_.data(), end);
      if (line.ends_with('\r')) line.remove_suffix(1);
      if (auto report = translatedLine(line)) {
        auto module = std::find_if(modules_.begin(), modules_.end(), [&](const auto& module) {
          return module.cFile.string() == report->first;
        });
        if (module != modules_.end()) translated_(*module);
      }
      pending_.erase(0, end + 1);
    }
  }

private:
  const std::vector<ModuleTranslation>& modules_;
  const std::function<void(const ModuleTranslation&)>& translated_;
  std::string pending_;
};

// Signals by which an interpreter dies of a fault of its own, such as a stack overflowed by
// deeply nested code, rather than being stopped from outside.
bool isCrash(int signal) {
#ifdef SIGBUS
  if (signal == SIGBUS) return true;
#endif
  return signal == SIGSEGV || signal == SIGILL || signal == SIGFPE || signal == SIGABRT;
}

// CPython's own error for the module `source` when its compile() refuses it too (what running
// the program under CPython would raise), such as "deep.py:1: SyntaxError: too many nested
// parentheses"; "" when it compiles it or says nothing.
std::string cpythonRefusal(const utils::PythonCommand& interpreter, const fs::path& source) {
  static constexpr std::string_view script = R"(import sys
path = sys.argv[1]
try:
    with open(path, "rb") as f:
        compile(f.read(), path, "exec", dont_inherit=True)
except (SyntaxError, ValueError, RecursionError, MemoryError) as e:
    where = "%s:%s: " % (path, e.lineno) if isinstance(e, SyntaxError) and e.lineno else ""
    text = e.msg if isinstance(e, SyntaxError) else str(e)
    print("@@cpython@@" + where + type(e).__name__ + ": " + text)
)";
  utils::PythonCommand check = interpreter;
  check.argv = {interpreter.argv.front(), "-I", "-c", std::string(script), source.string()};
  try {
    const process::Result result = check.outcome(std::chrono::seconds(60));
    const std::string output = utf8::decodeReplace(result.output);
    const auto at = output.rfind("@@cpython@@");
    if (!result.ok() || at == std::string::npos) return "";
    std::string refusal = output.substr(at + std::string_view("@@cpython@@").size());
    while (!refusal.empty() && (refusal.back() == '\n' || refusal.back() == '\r'))
      refusal.pop_back();
    return refusal;
  } catch (const std::exception&) {
    return ""; // only a hint: the crash is reported without it
  }
}

// The driver's report of a module whose translation killed the interpreter, in the shape of
// its report of a module that fails.
std::string crashReport(const utils::PythonCommand& interpreter, const ModuleTranslation& module,
                        int signal) {
  std::string report = module.source.string() + ": Cython crashed translating it (killed by "
                       "signal " + std::to_string(signal) + ")\n";
  if (std::string refusal = cpythonRefusal(interpreter, module.source); !refusal.empty())
    report += "CPython cannot compile it either: " + refusal + "\n";
  return report + "failed to translate module " + module.name + "\n";
}

// Runs one batch. A stale C file must not stand for a module that fails now: each is removed
// first, and the driver writes one only for a module that translated. When the interpreter
// crashes, the module it was translating fails and a new interpreter goes on with the rest.
// The error of a failed batch names its failed modules.
void translateBatch(const Translation& run, std::vector<double>& seconds,
                    const std::function<void(const ModuleTranslation&)>& finish,
                    const std::function<void(const ModuleTranslation&)>& translated) {
  const std::vector<ModuleTranslation>& modules = run.modules;
  for (const auto& module : modules) removeFile(module.cFile);
  using Clock = std::chrono::steady_clock;
  double batchSeconds = 0;
  std::map<std::string, double> reported;
  std::string log;
  process::Result result;
  utils::PythonCommand command = run.command;
  for (std::size_t from = 0; from < modules.size();) {
    auto start = Clock::now();
    // Each interpreter's output is read afresh: one that crashed may have left half a line.
    ProgressReader progress(modules, translated);
    result = command.outcome(utils::commandTimeout * static_cast<int>(modules.size() - from),
                             std::ref(progress));
    batchSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    DriverOutput output =
        readDriverOutput(utf8::normaliseLineEnds(utf8::decodeReplace(result.output)));
    log += output.log;
    reported.merge(output.seconds);
    if (result.signal == 0) break;
    auto crashed = std::find_if(modules.begin() + static_cast<std::ptrdiff_t>(from),
                                modules.end(), [&](const ModuleTranslation& module) {
                                  return module.cFile.string() == output.lastStarted;
                                });
    // Stopped from outside, or before any module: nothing to lay it on.
    if (!isCrash(result.signal) || crashed == modules.end() || fs::exists(crashed->cFile))
      throw std::runtime_error("Command failed: " + result.failure(command.text) +
                               "\nlog: " + log);
    log += crashReport(command, *crashed, result.signal);
    from = static_cast<std::size_t>(crashed - modules.begin()) + 1;
    if (from < modules.size())
      command = batchCommand(*run.command.context, run.common,
                             std::span(modules).subspan(from));
  }
  std::vector<std::string> failed;
  for (std::size_t i = 0; i < modules.size(); ++i) {
    const ModuleTranslation& module = modules[i];
    if (!fs::exists(module.cFile)) {
      failed.push_back(module.name + " (" + module.source.string() + ")");
      continue;
    }
    finish(module);
    auto time = reported.find(module.cFile.string());
    seconds[i] = time == reported.end() ? 0 : time->second;
  }
  // Starting the interpreter and importing Cython counts to the first module, whose C file
  // could be there no sooner.
  double startUp = batchSeconds;
  for (double time : seconds) startUp -= time;
  seconds[0] += std::max(startUp, 0.0);
  if (!failed.empty()) {
    std::string names;
    for (const auto& name : failed) names += (names.empty() ? "" : ", ") + name;
    throw std::runtime_error("Cython could not translate " +
                             std::string(failed.size() == 1 ? "module " : "modules ") + names +
                             "\nlog: " + log);
  }
  if (!result.ok())
    throw std::runtime_error("Command failed: " + command.text + "\nlog: " + log);
}

} // namespace

void translateAll(const std::vector<Translation>& runs,
                  const std::function<void(const ModuleTranslation&)>& finish) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  auto& logger = log::getLogger("quorvex.compiler");
  std::size_t modules = 0;
  for (const auto& run : runs) modules += run.modules.size();
  // Batches report from their own threads; one lock keeps the count and the lines in order.
  std::mutex progressLock;
  std::size_t done = 0;
  const std::function<void(const ModuleTranslation&)> translated =
      [&](const ModuleTranslation& module) {
        std::lock_guard lock(progressLock);
        logger.info("[{}/{}] translated {}", ++done, modules, module.name);
      };
  std::vector<std::vector<double>> seconds(runs.size());
  std::vector<std::function<void()>> tasks;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    seconds[i].resize(std::max<std::size_t>(runs[i].modules.size(), 1));
    tasks.push_back([&runs, &seconds, &finish, &translated, i] {
      if (!runs[i].modules.empty())
        return translateBatch(runs[i], seconds[i], finish, translated);
      auto start = Clock::now();
      runs[i].command.run();
      seconds[i][0] = std::chrono::duration<double>(Clock::now() - start).count();
    });
  }
  runJobs(tasks, jobCount(), [&](std::size_t i) {
    std::lock_guard lock(progressLock);
    if (runs[i].modules.empty())
      logger.debug("translated {} in {:.2f} s", runs[i].what, seconds[i][0]);
    for (std::size_t m = 0; m < runs[i].modules.size(); ++m)
      logger.debug("translated {} in {:.2f} s", runs[i].modules[m].cFile.string(), seconds[i][m]);
  });
  logger.debug("translation: {} modules in {} Cython runs, {:.2f} s", modules, runs.size(),
             std::chrono::duration<double>(Clock::now() - start).count());
}

} // namespace quorvex::compiler
