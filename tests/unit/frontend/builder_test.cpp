// The build driver: what it refuses before making anything, the order and arguments of its
// calls, with the other parts replaced.
#include "frontend/builder.hpp"

#include "core/log.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace quorvex;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;
using Strings = std::vector<std::string>;

namespace {

const std::string kWheel = ".quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl";

// Keeps the driver's log lines; every step records its call and its arguments.
class Recorder : public log::Handler {
public:
  void emit(const log::Record& record) override {
    if (record.name == "quorvex.builder") lines.push_back(record.msg);
  }

  builder::BuildSteps steps() {
    builder::BuildSteps steps;
    steps.extendBuild = [this](const cli::BuildArguments&) { calls.push_back("extendBuild"); };
    steps.getExecutableName = [this](const std::string& name) {
      calls.push_back("getExecutableName " + name);
      return std::optional<std::string>(name + ".bin");
    };
    steps.startupModules = [] { return std::set<std::string>{"json", "types"}; };
    steps.getPristinePython = [this] {
      calls.push_back("getPristinePython");
      return std::optional<fs::path>();
    };
    steps.getBuildPath = [this] {
      calls.push_back("getBuildPath");
      return fs::path(".quorvex_build");
    };
    steps.compile = [this](const fs::path& sourcePath, const std::optional<std::string>& exeName,
                           const std::optional<std::string>& mainModule,
                           const std::vector<fs::path>& sources,
                           const compiler::CompileOptions& options) {
      calls.push_back("compile " + sourcePath.generic_string() + " " + exeName.value_or("-") +
                      " " + mainModule.value_or("-"));
      for (const auto& source : sources) compiled.push_back(source.generic_string());
      compileOptions = options;
      return std::optional<fs::path>(*options.targetPath / *exeName);
    };
    steps.createWheel = [this](const fs::path& executable, const fs::path& output,
                               const whl::WheelOptions& options) {
      calls.push_back("createWheel " + executable.generic_string() + " " + output.generic_string());
      wheels.push_back(options);
      return fs::path(kWheel);
    };
    steps.embed = [this](const fs::path& target, const embed::EmbedOptions& options) {
      calls.push_back("embed " + target.generic_string());
      embedded = options;
    };
    steps.checkPackagingInputs = [](const cli::BuildArguments&) {};
    steps.checkEmbedTarget = [this](const fs::path& target, const std::optional<fs::path>&) {
      calls.push_back("checkEmbedTarget " + target.generic_string());
      if (refuseEmbedTarget) throw std::runtime_error("refused");
    };
    return steps;
  }

  Strings calls, lines, compiled;
  compiler::CompileOptions compileOptions;
  std::vector<whl::WheelOptions> wheels;
  std::optional<embed::EmbedOptions> embedded;
  bool refuseEmbedTarget = false;
};

// Runs builds in a project with an application module, a package with __init__ and __main__,
// and a library below lib/, with the driver's log lines captured at INFO.
class BuildRun : public ::testing::Test {
protected:
  BuildRun() : previousLevel_(log::root().level) {
    for (const char* name : {"app.py", "pkg/__init__.py", "pkg/__main__.py", "pkg/core.py",
                             "lib/pkg/__init__.py", "lib/pkg/__main__.py", "lib/pkg/core.py",
                             "lib/top.py"})
      writeFile(name, "");
    log::addHandler(recorder_);
    log::root().level = log::INFO;
  }
  ~BuildRun() override {
    log::removeHandler(recorder_);
    log::root().level = previousLevel_;
  }

  static cli::BuildArguments arguments(std::string mainModule, Strings sources) {
    cli::BuildArguments args;
    args.mainModule = std::move(mainModule);
    args.sources = std::move(sources);
    return args;
  }
  // A fresh recorder per run, so that each run is judged on its own.
  Recorder& build(const cli::BuildArguments& args) {
    log::removeHandler(recorder_);
    recorder_ = std::make_shared<Recorder>();
    log::addHandler(recorder_);
    builder::build(args, recorder_->steps());
    return *recorder_;
  }
  Recorder& last() { return *recorder_; }

  TempDir dir;

private:
  std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
  int previousLevel_;
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
  auto args = arguments("pkg.core", {"app.py", "pkg/*.py"});
  args.no_console = true;
  const Recorder& run = build(args);

  EXPECT_EQ(run.calls, (Strings{"extendBuild", "getExecutableName pkg", "getBuildPath",
                                "getPristinePython", "compile . pkg.bin pkg.core"}));
  EXPECT_EQ(run.compiled.front(), "app.py");
  EXPECT_EQ(run.compiled.size(), 4u); // an executable keeps pkg/__main__.py
  const auto& options = run.compileOptions;
  EXPECT_TRUE(options.force && options.noConsole && options.noInit && !options.library);
  EXPECT_EQ(options.targetPath, ".quorvex_build");
  EXPECT_EQ(options.projectMainModule, "pkg.core");
  ASSERT_EQ(run.lines.size(), 2u);
  EXPECT_TRUE(run.lines[0].starts_with("Compiling pkg.core with sources app.py, "));
  EXPECT_EQ(run.lines[1], "[bold green]Compiled to .quorvex_build/pkg.bin[/bold green]");

  // The output name comes from --exe unless that is empty.
  args.exe = "";
  EXPECT_EQ(build(args).calls[1], "getExecutableName pkg");
  args.exe = "tool";
  EXPECT_EQ(build(args).calls[1], "getExecutableName tool");
}

TEST_F(BuildRun, LibraryWheelCarriesModuleStemsAndResolvedBase) {
  auto args = arguments("pkg", {"**.py", "top.py"});
  args.library = true;
  args.base = "lib";
  args.wheel = "dist/wheels";
  args.version = "2.0";
  args.policy = "manylinux_2_28";
  const Recorder& run = build(args);

  EXPECT_EQ(run.calls.at(4), "compile lib pkg.bin -");
  EXPECT_EQ(run.calls.at(5), "createWheel .quorvex_build/pkg.bin dist/wheels");
  EXPECT_TRUE(fs::is_directory("dist/wheels"));
  EXPECT_EQ(run.compileOptions.projectMainModule, "pkg");
  for (const auto& source : run.compiled) EXPECT_FALSE(source.ends_with("__main__.py")) << source;

  const whl::WheelOptions& wheel = run.wheels.at(0);
  EXPECT_TRUE(wheel.library);
  // top.py lies beside the package: the modules form no one top-level package.
  EXPECT_EQ(wheel.topPackage, std::nullopt);
  EXPECT_EQ(wheel.mainModuleName, "pkg");
  EXPECT_EQ(wheel.sourcePath, fs::canonical(dir.path() / "lib"));
  EXPECT_EQ(wheel.version, "2.0");
  EXPECT_EQ(wheel.policy, "manylinux_2_28");
  EXPECT_EQ(Strings(run.lines.end() - 2, run.lines.end()),
            (Strings{"Creating wheel at dist/wheels", "Created wheel at " + kWheel}));
}

TEST_F(BuildRun, EmbeddingTakesTheExecutableOrExactlyOneLibraryWheel) {
  struct Case {
    bool library;
    bool wheel;
    std::string wheelCall; // empty: no wheel is made
    Strings lines;         // the last lines of the run
  };
  const std::string exe = ".quorvex_build/app.bin";
  const std::vector<Case> cases{
      {false, true, "createWheel " + exe + " out",
       {"Created wheel at " + kWheel, "Embedding " + exe + " into emb",
        "Embedded " + exe + " into emb"}},
      {false, false, "", {"Embedding " + exe + " into emb", "Embedded " + exe + " into emb"}},
      {true, false, "createWheel " + exe + " .quorvex_build",
       {"Creating temp wheel at .quorvex_build", "Created wheel at " + kWheel,
        "Embedding " + kWheel + " into emb", "Embedded " + kWheel + " into emb"}},
      {true, true, "createWheel " + exe + " out",
       {"Creating wheel at out", "Created wheel at " + kWheel, "Embedding " + kWheel + " into emb",
        "Embedded " + kWheel + " into emb"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.library ? "library" : "executable") + (c.wheel ? " + wheel" : ""));
    auto args = arguments("app", {"app.py"});
    args.library = c.library;
    args.embed = "emb";
    if (c.wheel) args.wheel = "out";
    const Recorder& run = build(args);

    Strings expected{"extendBuild", "getExecutableName app", "checkEmbedTarget emb",
                     "getBuildPath", "getPristinePython",
                     std::string("compile . app.bin ") + (c.library ? "-" : "app")};
    if (!c.wheelCall.empty()) expected.push_back(c.wheelCall);
    expected.push_back("embed emb");
    EXPECT_EQ(run.calls, expected);
    EXPECT_EQ(run.embedded->exePath, c.library ? std::nullopt : std::optional<fs::path>(exe));
    EXPECT_EQ(run.embedded->whlPath,
              c.library ? std::optional<fs::path>(kWheel) : std::nullopt);
    EXPECT_EQ(run.embedded->sourcePath, fs::canonical(dir.path()));
    EXPECT_EQ(Strings(run.lines.end() - static_cast<std::ptrdiff_t>(c.lines.size()),
                      run.lines.end()),
              c.lines);
  }
}

TEST_F(BuildRun, NothingIsMadeWhenTheEmbedTargetIsRefusedOrNoSourceMatches) {
  last().refuseEmbedTarget = true;
  auto args = arguments("app", {"app.py"});
  args.embed = ".";
  EXPECT_THROW(builder::build(args, last().steps()), std::runtime_error);
  EXPECT_EQ(last().calls, (Strings{"extendBuild", "getExecutableName app", "checkEmbedTarget ."}));

  try {
    build(arguments("app", {"*.txt", "it's"}));
    FAIL() << "no error";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "No sources matched in ..Patterns: ['*.txt', \"it's\"]. If "
                               "running in bash, quote globs like '*.py'.");
  }
  EXPECT_EQ(last().calls, (Strings{"extendBuild", "getExecutableName app"}));
  EXPECT_TRUE(last().lines.empty());

  // A library whose only match is a __main__.py has nothing to build either.
  auto library = arguments("pkg", {"pkg/__main__.py"});
  library.library = true;
  EXPECT_THROW(build(library), std::invalid_argument);
  EXPECT_TRUE(last().compiled.empty());
  EXPECT_FALSE(fs::exists(".quorvex_build"));
}

TEST_F(BuildRun, BadInputsAreRefusedNamingThemBeforeAnythingIsMade) {
  writeFile("json.py", "");
  writeFile("pyproject.toml", "[project]\nname = \"my app\"\nversion = \"1.0\"\n");
  const std::string modules = " (modules of the sources: app)";
  const std::vector<std::pair<std::function<void(cli::BuildArguments&)>, std::string>> cases{
      {[](auto& a) { a.base = "missing"; }, "The base directory 'missing' (--base) does not exist"},
      {[](auto& a) { a.base = "app.py"; }, "The base directory 'app.py' (--base) is not a directory"},
      {[](auto& a) { a.sources = {"pkg/../../out/app.py"}; },
       "The source pattern 'pkg/../../out/app.py' leaves the base directory '.'; sources must lie "
       "inside it (see --base)"},
      {[](auto& a) { a.policy = "nonsense"; },
       "Unknown --policy 'nonsense': choose manylinux_2_28 or musllinux_1_2"},
      {[](auto& a) { a.mainModule = "app.py"; },
       "The main module 'app.py' is a file name; give its module name, 'app'" + modules},
      {[](auto& a) { a.mainModule = "my-app"; },
       "The main module 'my-app' is not a dotted module name (such as app or pkg.app)" + modules},
      {[](auto& a) { a.mainModule = "pkg"; },
       "The main module 'pkg' is not among the sources" + modules},
      {[](auto& a) { a.sources = {"*.py"}; },
       "The project module 'json' (json.py) has the name of a module that the program's start-up "
       "imports before the project's modules can be found, so the program would use that module "
       "instead; rename it"},
      {[](auto& a) { a.wheel = "dist"; },
       (fs::canonical(dir.path()) / "pyproject.toml").string() +
           ": 'name' in [project] is 'my app', not a valid project name: use ASCII letters, "
           "digits, '.', '_' and '-', beginning and ending with a letter or digit"}};
  for (const auto& [change, message] : cases) {
    auto args = arguments("app", {"app.py"});
    change(args);
    try {
      build(args);
      ADD_FAILURE() << "no error: " << message;
    } catch (const std::exception& error) {
      EXPECT_EQ(error.what(), message);
    }
    EXPECT_EQ(last().calls.size(), 2u) << message;
  }
  EXPECT_FALSE(fs::exists("dist"));
}

// Build directories and virtual environments hold Python files of no project.
TEST_F(BuildRun, MatchingEntersNoBuildDirectoryNorVirtualEnvironment) {
  for (const char* name : {".quorvex_build/python/lib/abc.py", "sub/.quorvex_build/x.py",
                           "env/pyvenv.cfg", "env/lib/site.py"})
    writeFile(name, "");
  for (const auto& pattern : {"**/*.py", "*/*/*.py"})
    for (const auto& source : build(arguments("app", {"app.py", pattern})).compiled)
      EXPECT_TRUE(source.find("quorvex_build") == std::string::npos &&
                  !source.starts_with("env/"))
          << source;
}
