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
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;
using Strings = std::vector<std::string>;

namespace {

// Keeps the INFO lines of the build driver for the duration of a test.
class LogCapture : public log::Handler {
public:
  void emit(const log::Record& record) override {
    if (record.name == "quorvex.builder") lines.push_back(record.msg);
  }
  Strings lines;
};

struct CompileCall {
  fs::path sourcePath;
  std::optional<std::string> exeName, mainModule;
  Strings sources;
  compiler::CompileOptions options;
};

const std::string kWheel = ".quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl";

// Test doubles for every step, recording the calls in order.
class Recorder {
public:
  Recorder() : previousLevel_(log::root().level) {
    log::addHandler(handler_);
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
      compileCall = CompileCall{sourcePath, exeName, mainModule, {}, options};
      for (const auto& source : sources) compileCall->sources.push_back(source.generic_string());
      return std::optional<fs::path>(*options.targetPath / *exeName);
    };
    steps.createWheel = [this](const fs::path& executable, const fs::path& output,
                               const whl::WheelOptions& options) {
      calls.push_back("createWheel " + output.generic_string());
      wheelExecutable = executable;
      wheels.push_back(options);
      return fs::path(kWheel);
    };
    steps.embed = [this](const fs::path& target, const embed::EmbedOptions& options) {
      calls.push_back("embed " + target.generic_string());
      embedOptions = options;
    };
    steps.checkEmbedTarget = [this](const fs::path& target, const std::optional<fs::path>& source) {
      calls.push_back("checkEmbedTarget " + target.generic_string());
      checkedSource = source;
      if (refuseEmbedTarget) throw std::runtime_error("refused");
    };
    return steps;
  }

  const Strings& lines() const { return handler_->lines; }
  Strings lastLines(std::size_t count) const { return {lines().end() - count, lines().end()}; }

  Strings calls;
  const cli::BuildArguments* extendedWith = nullptr;
  std::optional<CompileCall> compileCall;
  fs::path wheelExecutable;
  std::vector<whl::WheelOptions> wheels;
  std::optional<embed::EmbedOptions> embedOptions;
  std::optional<fs::path> checkedSource;
  bool refuseEmbedTarget = false;

private:
  std::shared_ptr<LogCapture> handler_ = std::make_shared<LogCapture>();
  int previousLevel_;
};

cli::BuildArguments arguments(std::string mainModule, Strings sources) {
  cli::BuildArguments args;
  args.command = "build";
  args.mainModule = std::move(mainModule);
  args.sources = std::move(sources);
  return args;
}

// Runs builds in a project with an application module, a package with __init__ and __main__,
// notes, and a library below lib/.
class BuildRun : public ::testing::Test {
protected:
  BuildRun() {
    for (const char* name : {"app.py", "pkg/__init__.py", "pkg/__main__.py", "pkg/core.py",
                             "README.txt", "lib/pkg/__init__.py", "lib/pkg/__main__.py",
                             "lib/pkg/core.py", "lib/top.py"})
      writeFile(name, "");
  }
  void build(const cli::BuildArguments& args) { builder::build(args, recorder.steps()); }

  TempDir dir;
  Recorder recorder;
};

} // namespace

TEST(NormalizeSourcePattern, RewritesOnlyLeadingDoubleStarDot) {
  const std::vector<std::pair<std::string, std::string>> cases{
      {"**.py", "**/*.py"}, {"**.pyx", "**/*.pyx"}, {"*.py", "*.py"},
      {"**", "**"},         {"**/*.py", "**/*.py"}, {"src/**.py", "src/**.py"}};
  for (const auto& [pattern, expected] : cases)
    EXPECT_EQ(builder::_normalize_source_pattern(pattern), expected) << pattern;
}

TEST_F(BuildRun, ExecutableRunCompilesOnceWithTheGivenOptions) {
  auto args = arguments("app.cli", {"app.py", "pkg/*.py"});
  args.no_console = true;
  build(args);

  EXPECT_EQ(recorder.calls, (Strings{"extendBuild", "getExecutableName app", "getPristinePython",
                                     "getBuildPath", "compile"}));
  EXPECT_EQ(recorder.extendedWith, &args);
  const CompileCall& call = *recorder.compileCall;
  EXPECT_EQ(call.sourcePath, ".");
  EXPECT_EQ(call.exeName, "app.bin");
  EXPECT_EQ(call.mainModule, "app.cli");
  EXPECT_EQ(call.sources.front(), "app.py");
  EXPECT_EQ(call.sources.size(), 4u); // an executable keeps pkg/__main__.py
  EXPECT_TRUE(call.options.force && call.options.noConsole && call.options.noInit);
  EXPECT_FALSE(call.options.library);
  EXPECT_EQ(call.options.targetPath, ".quorvex_build");
  EXPECT_EQ(call.options.projectMainModule, "app.cli");
  ASSERT_EQ(recorder.lines().size(), 2u);
  EXPECT_TRUE(recorder.lines()[0].starts_with("Compiling app.cli with sources app.py, "));
  EXPECT_EQ(recorder.lines()[1], "[bold green]Compiled to .quorvex_build/app.bin[/bold green]");

  // The output name comes from --exe unless that is empty.
  args.exe = "";
  build(args);
  args.exe = "tool";
  build(args);
  EXPECT_EQ(recorder.calls[6], "getExecutableName app");
  EXPECT_EQ(recorder.calls[11], "getExecutableName tool");
}

TEST_F(BuildRun, LibraryWheelCarriesModuleStemsAndResolvedBase) {
  auto args = arguments("pkg", {"**.py", "top.py"});
  args.library = true;
  args.base = "lib";
  args.wheel = "dist/wheels";
  args.version = "2.0";
  args.policy = "manylinux_2_28_x86_64";
  build(args);

  EXPECT_EQ(recorder.calls, (Strings{"extendBuild", "getExecutableName pkg", "getPristinePython",
                                     "getBuildPath", "compile", "createWheel dist/wheels"}));
  EXPECT_TRUE(fs::is_directory("dist/wheels"));
  const CompileCall& compiled = *recorder.compileCall;
  EXPECT_EQ(compiled.sourcePath, "lib");
  EXPECT_EQ(compiled.mainModule, std::nullopt);
  EXPECT_FALSE(compiled.options.noInit);
  EXPECT_TRUE(compiled.options.library);
  EXPECT_EQ(compiled.options.projectMainModule, "pkg");
  for (const auto& source : compiled.sources) EXPECT_FALSE(source.ends_with("__main__.py"));

  EXPECT_EQ(recorder.wheelExecutable, ".quorvex_build/pkg.bin");
  const whl::WheelOptions& wheel = recorder.wheels.at(0);
  EXPECT_TRUE(wheel.library);
  // Stems in source order without __init__; top.py matched twice is named twice.
  Strings stems = *wheel.moduleNames;
  std::sort(stems.begin(), stems.end());
  EXPECT_EQ(stems, (Strings{"core", "top", "top"}));
  EXPECT_EQ(wheel.mainModuleName, "pkg");
  EXPECT_EQ(wheel.sourcePath, fs::canonical(dir.path() / "lib"));
  EXPECT_EQ(wheel.version, "2.0");
  EXPECT_EQ(wheel.policy, "manylinux_2_28_x86_64");
  EXPECT_EQ(recorder.lastLines(2), (Strings{"Creating wheel at dist/wheels", "Created wheel at " +
                                                                                 kWheel}));
}

TEST_F(BuildRun, ExecutableWheelAndEmbedEmbedsTheExecutable) {
  auto args = arguments("app", {"app.py"});
  args.wheel = "out";
  args.embed = "embedded";
  build(args);

  EXPECT_EQ(recorder.calls,
            (Strings{"extendBuild", "getExecutableName app", "checkEmbedTarget embedded",
                     "getPristinePython", "getBuildPath", "compile", "createWheel out",
                     "embed embedded"}));
  EXPECT_EQ(recorder.checkedSource, fs::canonical(dir.path()));
  const whl::WheelOptions& wheel = recorder.wheels.at(0);
  EXPECT_FALSE(wheel.library);
  EXPECT_EQ(wheel.moduleNames, std::nullopt);
  EXPECT_EQ(wheel.mainModuleName, std::nullopt);
  EXPECT_EQ(recorder.embedOptions->exePath, ".quorvex_build/app.bin");
  EXPECT_EQ(recorder.embedOptions->whlPath, std::nullopt);
  EXPECT_EQ(recorder.embedOptions->sourcePath, fs::canonical(dir.path()));
  EXPECT_EQ(recorder.lines().back(), "Embedded .quorvex_build/app.bin into embedded");
}

TEST_F(BuildRun, LibraryEmbedsOneWheelMadeInTheBuildDirectoryWithoutWheelOption) {
  for (const bool withWheel : {false, true}) {
    SCOPED_TRACE(withWheel ? "with --wheel" : "without --wheel");
    Recorder run;
    auto args = arguments("pkg", {"pkg/*.py"});
    args.library = true;
    args.embed = "embedded";
    if (withWheel) args.wheel = "out";
    builder::build(args, run.steps());

    const std::string wheelCall = withWheel ? "createWheel out" : "createWheel .quorvex_build";
    EXPECT_EQ(Strings(run.calls.end() - 2, run.calls.end()),
              (Strings{wheelCall, "embed embedded"}));
    ASSERT_EQ(run.wheels.size(), 1u);
    EXPECT_EQ(run.wheels[0].mainModuleName, "pkg");
    EXPECT_EQ(run.embedOptions->whlPath, kWheel);
    EXPECT_EQ(run.embedOptions->exePath, std::nullopt);
    EXPECT_EQ(run.lastLines(4),
              (Strings{withWheel ? "Creating wheel at out" : "Creating temp wheel at .quorvex_build",
                       "Created wheel at " + kWheel, "Embedding " + kWheel + " into embedded",
                       "Embedded " + kWheel + " into embedded"}));
  }
}

TEST_F(BuildRun, ARefusedEmbedTargetStopsBeforeTheCompilation) {
  recorder.refuseEmbedTarget = true;
  auto args = arguments("app", {"app.py"});
  args.embed = ".";
  EXPECT_THROW(build(args), std::runtime_error);
  EXPECT_EQ(recorder.calls,
            (Strings{"extendBuild", "getExecutableName app", "checkEmbedTarget ."}));
}

TEST(Build, NoMatchStopsBeforeAnythingIsMade) {
  TempDir dir;
  writeFile("pkg/__main__.py", "");
  Recorder recorder;
  try {
    builder::build(arguments("app", {"*.py", "it's"}), recorder.steps());
    FAIL() << "no error";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "No sources matched in ..Patterns: ['*.py', \"it's\"]. If running "
                               "in bash, quote globs like '*.py'.");
  }
  EXPECT_EQ(recorder.calls, (Strings{"extendBuild", "getExecutableName app"}));
  EXPECT_TRUE(recorder.lines().empty());

  // A library whose only match is a __main__.py has nothing to build either.
  auto library = arguments("pkg", {"**.py"});
  library.library = true;
  library.base = "./";
  EXPECT_THROW(builder::build(library, recorder.steps()), std::invalid_argument);
  EXPECT_FALSE(recorder.compileCall.has_value());
  EXPECT_FALSE(fs::exists(".quorvex_build"));
}
