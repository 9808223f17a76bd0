#include "native_build.hpp"

#include "support/context.hpp"
#include "core/process.hpp"
#include "support/tempdir.hpp"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <chrono>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::testing {

std::string runOrThrow(const std::vector<std::string>& argv) {
  process::Result result =
      process::run(argv, {.captureOutput = true, .timeout = std::chrono::minutes(5)});
  if (!result.ok())
    throw std::runtime_error(fmt::format("{} failed ({}):\n{}", fmt::join(argv, " "),
                                         result.signal ? result.signal : result.exitCode,
                                         result.output));
  return result.output;
}

RunResult runProgram(const std::vector<std::string>& argv) {
  process::Result result =
      process::run(argv, {.captureOutput = true, .timeout = std::chrono::seconds(60)});
  if (result.signal != 0)
    throw std::runtime_error(fmt::format("{} died by signal {}:\n{}", fmt::join(argv, " "),
                                         result.signal, result.output));
  return {result.exitCode, result.output};
}

void cython(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {buildFacts().program.string(), "-m", "cython", "-3",
                                   "-X", "annotation_typing=False"};
  argv.insert(argv.end(), args.begin(), args.end());
  runOrThrow(argv);
}

fs::path compileC(const fs::path& cFile, std::string& diagnostics,
                  const std::vector<std::string>& extraArgs) {
  const interpreter::Facts& facts = buildFacts();
  fs::path object = fs::path(cFile).replace_extension(".o");
  std::vector<std::string> argv = {"gcc", "-c", "-O1", "-Wall", "-Wextra", "-DNDEBUG",
                                   "-DCYTHON_NO_PYINIT_EXPORT=1",
                                   "-I" + facts.path("include"),
                                   "-I" + cFile.parent_path().string()};
  argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
  argv.insert(argv.end(), {cFile.string(), "-o", object.string()});
  diagnostics += runOrThrow(argv);
  return object;
}

void linkProgram(const std::vector<fs::path>& objects, const fs::path& output) {
  const interpreter::Facts& facts = buildFacts();
  std::string libdir = facts.configVar("LIBDIR").value_or("");
  std::vector<std::string> argv = {"gcc", "-o", output.string()};
  for (const fs::path& object : objects) argv.push_back(object.string());
  argv.insert(argv.end(), {"-L" + libdir, "-Wl,-rpath," + libdir,
                           fmt::format("-lpython{}.{}", facts.major, facts.minor), "-lm"});
  runOrThrow(argv);
}

void spliceConfig(const fs::path& cFile, const std::string& block) {
  const std::string marker = "PyConfig_InitPythonConfig(&config);";
  std::string text = readFile(cFile);
  std::size_t at = text.find(marker);
  if (at == std::string::npos)
    throw std::runtime_error("no configuration call in " + cFile.string());
  text.replace(at, marker.size(), block);
  writeFile(cFile, text);
}

std::string pythonVersionDir() {
  const interpreter::Facts& facts = buildFacts();
  return fmt::format("python{}.{}", facts.major, facts.minor);
}

} // namespace quorvex::testing
