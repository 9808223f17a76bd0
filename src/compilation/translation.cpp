#include "compilation/translation.hpp"

#include "compilation/batches.hpp"
#include "compilation/compiler.hpp"
#include "compilation/jobs.hpp"
#include "compilation/textfile.hpp"

#include "core/log.hpp"
#include "core/utf8.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::compiler {

std::vector<Translation> batchTranslations(Context& context, const std::vector<std::string>& common,
                                           const std::vector<ModuleTranslation>& modules,
                                           std::size_t batches) {
  std::vector<std::uintmax_t> sizes;
  for (const auto& module : modules) {
    std::error_code ignored;
    auto size = fs::file_size(module.source, ignored);
    sizes.push_back(ignored ? 0 : size);
  }
  std::vector<Translation> runs;
  for (const auto& batch : dealIntoBatches(sizes, batches)) {
    std::vector<std::string> args = common;
    args.push_back("--modules");
    Translation run{{}, {}, {}};
    for (std::size_t index : batch) {
      const ModuleTranslation& module = modules[index];
      args.insert(args.end(), {"--module-name", module.name, "--output-file",
                               module.cFile.string(), module.source.string()});
      run.modules.push_back(module);
    }
    run.command = utils::pythonCommand(context, cythonCommand(context, args));
    runs.push_back(std::move(run));
  }
  return runs;
}

namespace {

// The driver's output less its lines "translated <C file> in <seconds> s", whose times go
// into `seconds` by C file.
std::string takeReportedTimes(const std::string& output, std::map<std::string, double>& seconds) {
  constexpr std::string_view head = "translated ", middle = " in ", tail = " s";
  std::string rest;
  for (std::size_t at = 0; at < output.size();) {
    std::size_t end = std::min(output.find('\n', at), output.size());
    std::string_view line(output.data() + at, end - at);
    auto split = line.rfind(middle);
    bool report = line.starts_with(head) && line.ends_with(tail) && split != std::string::npos;
    if (report) {
      std::string number(line.substr(split + middle.size(),
                                     line.size() - split - middle.size() - tail.size()));
      char* stop = nullptr;
      double value = std::strtod(number.c_str(), &stop);
      report = !number.empty() && stop == number.c_str() + number.size();
      if (report) seconds[std::string(line.substr(head.size(), split - head.size()))] = value;
    }
    if (!report) rest.append(line).append("\n");
    at = end + 1;
  }
  return rest;
}

// Runs one batch. A stale C file must not stand for a module that fails now: each is removed
// first, and the driver writes one only for a module that translated. The error of a failed
// batch names its failed modules.
void translateBatch(const Translation& run, std::vector<double>& seconds,
                    const std::function<void(const ModuleTranslation&)>& finish) {
  for (const auto& module : run.modules) removeFile(module.cFile);
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  const process::Result result =
      run.command.outcome(utils::commandTimeout * static_cast<int>(run.modules.size()));
  const double batchSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::map<std::string, double> reported;
  const std::string log = takeReportedTimes(
      utf8::normaliseLineEnds(utf8::decodeReplace(result.output)), reported);
  // Killed, the interpreter says nothing of the modules it did not reach.
  if (result.signal != 0)
    throw std::runtime_error("Command failed: " + result.failure(run.command.text) +
                             "\nlog: " + log);
  std::vector<std::string> failed;
  for (std::size_t i = 0; i < run.modules.size(); ++i) {
    const ModuleTranslation& module = run.modules[i];
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
    throw std::runtime_error("Command failed: " + run.command.text + "\nlog: " + log);
}

} // namespace

void translateAll(const std::vector<Translation>& runs,
                  const std::function<void(const ModuleTranslation&)>& finish) {
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<std::vector<double>> seconds(runs.size());
  std::vector<std::function<void()>> tasks;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    seconds[i].resize(std::max<std::size_t>(runs[i].modules.size(), 1));
    tasks.push_back([&runs, &seconds, &finish, i] {
      if (!runs[i].modules.empty()) return translateBatch(runs[i], seconds[i], finish);
      auto start = Clock::now();
      runs[i].command.run();
      seconds[i][0] = std::chrono::duration<double>(Clock::now() - start).count();
    });
  }
  runJobs(tasks, jobCount(), [&](std::size_t i) {
    auto& logger = log::getLogger("quorvex.compiler");
    if (runs[i].modules.empty())
      logger.debug("translated {} in {:.2f} s", runs[i].what, seconds[i][0]);
    for (std::size_t m = 0; m < runs[i].modules.size(); ++m)
      logger.debug("translated {} in {:.2f} s", runs[i].modules[m].cFile.string(), seconds[i][m]);
  });
  std::size_t modules = 0;
  for (const auto& run : runs) modules += run.modules.size();
  log::getLogger("quorvex.compiler")
      .debug("translation: {} modules in {} Cython runs, {:.2f} s", modules, runs.size(),
             std::chrono::duration<double>(Clock::now() - start).count());
}

} // namespace quorvex::compiler
