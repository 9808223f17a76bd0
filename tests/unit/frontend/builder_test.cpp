// The build driver: the order and arguments of its calls, with the other parts replaced.
#include "frontend/builder.hpp"

#include "core/log.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace quorvex;
using builder::_normalize_source_pattern;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

// Keeps the INFO lines of the build driver for the duration of a test.
class LogCapture : public log::Handler {
public:
  void emit(const log::Record& record) override {
    if (record.name == "quorvex.builder") lines.push_back(record.msg);
  }
  std::vector<std::string> lines;
};

struct CompileCall {
  fs::path sourcePath;
  std::optional<std::string> exeName;
  std::optional<std::string> mainModule;
  std::vector<std::string> sources;
  compiler::CompileOptions options;
};

struct WheelCall {
  fs::path executablePath;
  fs::path outputPath;
  whl::WheelOptions options;
};

struct EmbedCall {
  fs::path targetPath;
  embed::EmbedOptions options;
};

// Test doubles for every step, recording the calls in order.
class Recorder {
public:
  Recorder() {
    handler_ = std::make_shared<LogCapture>();
    log::addHandler(handler_);
    previousLevel_ = log::root().level;
    log::root().level = log::INFO;
  }
  ~Recorder() {
    log::removeHandler(handler_);
    log::root().level = previousLevel_;
  }

  builder::BuildSteps steps() {
    builder::BuildSteps steps;
    steps.extendBuild = [this](const cli::BuildArguments& args) {
      calls.push_back("extendBuild");
      extendedWith = &args;
    };
    steps.getExecutableName = [this](const std::string& name) {
      calls.push_back("getExecutableName " + name);
      return std::optional<std::string>(name + ".bin");
    };
    steps.getPristinePython = [this] {
      calls.push_back("getPristinePython");
      return std::optional<fs::path>(".quorvex_build/python/cpython-3.12.1");
    };
    steps.getBuildPath = [this] {
      calls.push_back("getBuildPath");
      return fs::path(".quorvex_build");
    };
    steps.compile = [this](const fs::path& sourcePath, const std::optional<std::string>& exeName,
                           const std::optional<std::string>& mainModule,
                           const std::vector<fs::path>& sources,
                           const compiler::CompileOptions& options) {
      calls.push_back("compile");
      std::vector<std::string> texts;
      for (const auto& source : sources) texts.push_back(source.generic_string());
      compileCall = CompileCall{sourcePath, exeName, mainModule, texts, options};
      return std::optional<fs::path>(*options.targetPath / *exeName);
    };
    steps.createWheel = [this](const fs::path& executablePath, const fs::path& outputPath,
                               const whl::WheelOptions& options) {
      calls.push_back("createWheel " + outputPath.generic_string());
      wheelCalls.push_back({executablePath, outputPath, options});
      return fs::path(".quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl");
    };
    steps.embed = [this](const fs::path& targetPath, const embed::EmbedOptions& options) {
      calls.push_back("embed " + targetPath.generic_string());
      embedCall = EmbedCall{targetPath, options};
    };
    steps.checkEmbedTarget = [this](const fs::path& targetPath,
                                    const std::optional<fs::path>& sourcePath) {
      calls.push_back("checkEmbedTarget " + targetPath.generic_string());
      checkedSource = sourcePath;
      if (refuseEmbedTarget) throw std::runtime_error("refused " + targetPath.generic_string());
    };
    return steps;
  }

  const std::vector<std::string>& lines() const { return handler_->lines; }

  std::vector<std::string> calls;
  const cli::BuildArguments* extendedWith = nullptr;
  std::optional<CompileCall> compileCall;
  std::vector<WheelCall> wheelCalls;
  std::optional<EmbedCall> embedCall;
  std::optional<fs::path> checkedSource;
  bool refuseEmbedTarget = false;

private:
  std::shared_ptr<LogCapture> handler_;
  int previousLevel_ = log::NOTSET;
};

cli::BuildArguments arguments(std::string mainModule, std::vector<std::string> sources) {
  cli::BuildArguments args;
  args.command = "build";
  args.mainModule = std::move(mainModule);
  args.sources = std::move(sources);
  return args;
}

// A project with an application module, a package with __init__ and __main__, and notes.
void writeProject() {
  writeFile("app.py", "");
  writeFile("pkg/__init__.py", "");
  writeFile("pkg/__main__.py", "");
  writeFile("pkg/core.py", "");
  writeFile("README.txt", "");
}

const std::vector<std::string> compileOnly{"extendBuild", "getExecutableName app",
                                           "getPristinePython", "getBuildPath", "compile"};

} // namespace

TEST(NormalizeSourcePattern, RewritesOnlyLeadingDoubleStarDot) {
  EXPECT_EQ(_normalize_source_pattern("**.py"), "**/*.py");
  EXPECT_EQ(_normalize_source_pattern("**.pyx"), "**/*.pyx");
  EXPECT_EQ(_normalize_source_pattern("*.py"), "*.py");
  EXPECT_EQ(_normalize_source_pattern("**"), "**");
  EXPECT_EQ(_normalize_source_pattern("**/*.py"), "**/*.py");
  EXPECT_EQ(_normalize_source_pattern("src/**.py"), "src/**.py");
}

TEST(Build, ExecutableRunCompilesOnceWithTheGivenOptions) {
  TempDir dir;
  writeProject();
  Recorder recorder;
  auto args = arguments("app.cli", {"app.py", "pkg/*.py"});
  args.no_console = true;
  builder::build(args, recorder.steps());

  EXPECT_EQ(recorder.calls, compileOnly);
  EXPECT_EQ(recorder.extendedWith, &args);
  const CompileCall& call = *recorder.compileCall;
  EXPECT_EQ(call.sourcePath, ".");
  EXPECT_EQ(call.exeName, "app.bin");
  EXPECT_EQ(call.mainModule, "app.cli");
  EXPECT_EQ(call.sources.front(), "app.py");
  EXPECT_EQ(call.sources.size(), 4u); // an executable keeps pkg/__main__.py
  EXPECT_TRUE(call.options.force);
  EXPECT_TRUE(call.options.noConsole);
  EXPECT_FALSE(call.options.library);
  EXPECT_TRUE(call.options.noInit);
  EXPECT_EQ(call.options.targetPath, ".quorvex_build");
  EXPECT_EQ(call.options.projectMainModule, "app.cli");
  ASSERT_EQ(recorder.lines().size(), 2u);
  EXPECT_TRUE(recorder.lines()[0].starts_with("Compiling app.cli with sources app.py, "));
  EXPECT_EQ(recorder.lines()[1], "[bold green]Compiled to .quorvex_build/app.bin[/bold green]");
}

TEST(Build, OutputNameComesFromExeUnlessEmpty) {
  TempDir dir;
  writeProject();
  Recorder recorder;
  auto args = arguments("app", {"app.py"});
  args.exe = "";
  builder::build(args, recorder.steps());
  args.exe = "tool";
  builder::build(args, recorder.steps());
  EXPECT_EQ(recorder.calls[1], "getExecutableName app");
  EXPECT_EQ(recorder.calls[6], "getExecutableName tool");
}

TEST(Build, LibraryWheelCarriesModuleStemsAndResolvedBase) {
  TempDir dir;
  writeFile("lib/pkg/__init__.py", "");
  writeFile("lib/pkg/__main__.py", "");
  writeFile("lib/pkg/core.py", "");
  writeFile("lib/top.py", "");
  Recorder recorder;
  auto args = arguments("pkg", {"**.py", "top.py"});
  args.library = true;
  args.base = "lib";
  args.wheel = "dist/wheels";
  args.version = "2.0";
  args.policy = "manylinux_2_28_x86_64";
  builder::build(args, recorder.steps());

  const std::vector<std::string> expected{"extendBuild",  "getExecutableName pkg",
                                          "getPristinePython", "getBuildPath",
                                          "compile",      "createWheel dist/wheels"};
  EXPECT_EQ(recorder.calls, expected);
  EXPECT_TRUE(fs::is_directory("dist/wheels"));
  const CompileCall& compiled = *recorder.compileCall;
  EXPECT_EQ(compiled.sourcePath, "lib");
  EXPECT_EQ(compiled.mainModule, std::nullopt);
  EXPECT_FALSE(compiled.options.noInit);
  EXPECT_TRUE(compiled.options.library);
  EXPECT_EQ(compiled.options.projectMainModule, "pkg");
  for (const auto& source : compiled.sources) EXPECT_FALSE(source.ends_with("__main__.py"));

  const WheelCall& wheel = recorder.wheelCalls.at(0);
  EXPECT_EQ(wheel.executablePath, ".quorvex_build/pkg.bin");
  EXPECT_TRUE(wheel.options.library);
  // Stems in source order without __init__; top.py matched twice is named twice.
  std::vector<std::string> stems = *wheel.options.moduleNames;
  std::sort(stems.begin(), stems.end());
  EXPECT_EQ(stems, (std::vector<std::string>{"core", "top", "top"}));
  EXPECT_EQ(wheel.options.mainModuleName, "pkg");
  EXPECT_EQ(wheel.options.sourcePath, fs::canonical(dir.path() / "lib"));
  EXPECT_EQ(wheel.options.version, "2.0");
  EXPECT_EQ(wheel.options.policy, "manylinux_2_28_x86_64");
  EXPECT_EQ(recorder.lines().at(2), "Creating wheel at dist/wheels");
  EXPECT_EQ(recorder.lines().at(3),
            "Created wheel at .quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl");
}

TEST(Build, ExecutableWheelAndEmbedEmbedsTheExecutable) {
  TempDir dir;
  writeProject();
  Recorder recorder;
  auto args = arguments("app", {"app.py"});
  args.wheel = "out";
  args.embed = "embedded";
  builder::build(args, recorder.steps());

  ASSERT_EQ(recorder.calls.size(), 8u);
  EXPECT_EQ(recorder.calls[2], "checkEmbedTarget embedded");
  EXPECT_EQ(recorder.checkedSource, fs::canonical(dir.path()));
  EXPECT_EQ(recorder.calls[6], "createWheel out");
  EXPECT_EQ(recorder.calls[7], "embed embedded");
  const WheelCall& wheel = recorder.wheelCalls.at(0);
  EXPECT_FALSE(wheel.options.library);
  EXPECT_EQ(wheel.options.moduleNames, std::nullopt);
  EXPECT_EQ(wheel.options.mainModuleName, std::nullopt);
  const EmbedCall& embedded = *recorder.embedCall;
  EXPECT_EQ(embedded.options.exePath, ".quorvex_build/app.bin");
  EXPECT_EQ(embedded.options.whlPath, std::nullopt);
  EXPECT_EQ(embedded.options.sourcePath, fs::canonical(dir.path()));
  EXPECT_EQ(recorder.lines().back(), "Embedded .quorvex_build/app.bin into embedded");
}

TEST(Build, LibraryEmbedWithoutWheelMakesATemporaryWheelInTheBuildDirectory) {
  TempDir dir;
  writeProject();
  Recorder recorder;
  auto args = arguments("pkg", {"pkg/*.py"});
  args.library = true;
  args.embed = "embedded";
  builder::build(args, recorder.steps());

  const std::vector<std::string> tail{"createWheel .quorvex_build", "embed embedded"};
  EXPECT_EQ(std::vector<std::string>(recorder.calls.end() - 2, recorder.calls.end()), tail);
  ASSERT_EQ(recorder.wheelCalls.size(), 1u);
  EXPECT_EQ(recorder.wheelCalls[0].options.mainModuleName, "pkg");
  const std::string wheel = ".quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl";
  EXPECT_EQ(recorder.embedCall->options.whlPath, wheel);
  EXPECT_EQ(recorder.embedCall->options.exePath, std::nullopt);
  const std::vector<std::string> lines{"Creating temp wheel at .quorvex_build",
                                       "Created wheel at " + wheel,
                                       "Embedding " + wheel + " into embedded",
                                       "Embedded " + wheel + " into embedded"};
  EXPECT_EQ(std::vector<std::string>(recorder.lines().end() - 4, recorder.lines().end()), lines);
}

TEST(Build, LibraryWheelAndEmbedMakesOneWheelAndEmbedsIt) {
  TempDir dir;
  writeProject();
  Recorder recorder;
  auto args = arguments("pkg", {"pkg/*.py"});
  args.library = true;
  args.wheel = "out";
  args.embed = "embedded";
  builder::build(args, recorder.steps());

  ASSERT_EQ(recorder.wheelCalls.size(), 1u);
  EXPECT_EQ(recorder.wheelCalls[0].outputPath, "out");
  EXPECT_EQ(recorder.embedCall->options.whlPath,
            ".quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl");
  for (const auto& line : recorder.lines()) EXPECT_FALSE(line.starts_with("Creating temp"));
}

TEST(Build, ARefusedEmbedTargetStopsBeforeTheCompilation) {
  TempDir dir;
  writeProject();
  Recorder recorder;
  recorder.refuseEmbedTarget = true;
  auto args = arguments("app", {"app.py"});
  args.embed = ".";
  EXPECT_THROW(builder::build(args, recorder.steps()), std::runtime_error);
  const std::vector<std::string> calls{"extendBuild", "getExecutableName app",
                                       "checkEmbedTarget ."};
  EXPECT_EQ(recorder.calls, calls);
}

TEST(Build, NoMatchStopsBeforeAnythingIsMade) {
  TempDir dir;
  writeFile("pkg/__main__.py", "");
  Recorder recorder;
  auto args = arguments("app", {"*.py", "it's"});
  try {
    builder::build(args, recorder.steps());
    FAIL() << "no error";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "No sources matched in ..Patterns: ['*.py', \"it's\"]. If running "
                               "in bash, quote globs like '*.py'.");
  }
  const std::vector<std::string> before{"extendBuild", "getExecutableName app"};
  EXPECT_EQ(recorder.calls, before);
  EXPECT_TRUE(recorder.lines().empty());

  // A library whose only match is a __main__.py has nothing to build either.
  auto library = arguments("pkg", {"**.py"});
  library.library = true;
  library.base = "./";
  EXPECT_THROW(builder::build(library, recorder.steps()), std::invalid_argument);
  EXPECT_FALSE(recorder.compileCall.has_value());
  EXPECT_FALSE(fs::exists(".quorvex_build"));
}
