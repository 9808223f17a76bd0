// Parsing the command line, with plug-ins that extend the parser.
#include "frontend/cli.hpp"

#include "core/plugin.hpp"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <sstream>

using namespace quorvex;
using cli::BuildArguments;
using cli::CommandLine;

namespace {

// A plug-in that adds a `build` option and positional, and two sub-commands of its own.
class ExtendingPlugin : public plugin::Plugin {
public:
  explicit ExtendingPlugin(bool withPositional) : withPositional_(withPositional) {}

  void extendBuildParser(CLI::App& buildParser) override {
    buildParser.add_option("--target", target, "Target triple")->type_name("TARGET");
    if (withPositional_) buildParser.add_option("arch", arch, "Architecture")->required();
  }
  void extendSubParsers(CLI::App& mainParser, BuildArguments& args) override {
    CLI::App* hello = mainParser.add_subcommand("hello", "Say hello");
    hello->callback([&args, this] { args.func = [this](BuildArguments&) { ++helloRuns; }; });
    mainParser.add_subcommand("bare", "Has no function");
  }

  std::string target;
  std::string arch;
  int helloRuns = 0;

private:
  bool withPositional_;
};

struct Parsed {
  std::optional<int> status;
  std::string out;
  std::string err;
};

class CommandLineTest : public ::testing::Test {
protected:
  Parsed parse(std::vector<std::string> words, bool withPositional = false) {
    std::vector<std::unique_ptr<plugin::Plugin>> plugins;
    auto extending = std::make_unique<ExtendingPlugin>(withPositional);
    plugin_ = extending.get();
    plugins.push_back(std::move(extending));
    manager_ = std::make_unique<plugin::PluginManager>(std::move(plugins));
    args = BuildArguments{};
    commandLine_ = std::make_unique<CommandLine>("quorvex", args, *manager_);
    std::ostringstream out, err;
    Parsed parsed;
    parsed.status = commandLine_->parse(words, out, err);
    parsed.out = out.str();
    parsed.err = err.str();
    return parsed;
  }
  std::string help() const { return commandLine_->help(); }

  BuildArguments args;
  ExtendingPlugin* plugin_ = nullptr;

private:
  std::unique_ptr<plugin::PluginManager> manager_;
  std::unique_ptr<CommandLine> commandLine_;
};

} // namespace

TEST_F(CommandLineTest, BuildWithDefaultsAndEveryOptionInBothValueForms) {
  ASSERT_EQ(parse({"build", "main", "a.py", "b.py"}).status, std::nullopt);
  EXPECT_EQ(args.command, "build");
  EXPECT_TRUE(static_cast<bool>(args.func));
  EXPECT_EQ(args.mainModule, "main");
  EXPECT_EQ(args.sources, (std::vector<std::string>{"a.py", "b.py"}));
  EXPECT_EQ(args.base, ".");
  EXPECT_FALSE(args.embed || args.wheel || args.exe || args.version || args.policy);
  EXPECT_FALSE(args.library || args.no_console || args.verbose);

  const Parsed parsed =
      parse({"--verbose", "build", "--embed", "emb", "--wheel=dist", "--library", "--base", "src",
             "--no-console", "--exe=", "--version", "1.2", "--policy", "manylinux", "--target",
             "x86", "app.cli", "**.py"});
  ASSERT_EQ(parsed.status, std::nullopt) << parsed.err;
  EXPECT_TRUE(args.verbose && args.library && args.no_console);
  EXPECT_EQ(args.embed, "emb");
  EXPECT_EQ(args.wheel, "dist");
  EXPECT_EQ(args.base, "src");
  EXPECT_EQ(args.exe, "");
  EXPECT_EQ(args.version, "1.2");
  EXPECT_EQ(args.policy, "manylinux");
  EXPECT_EQ(plugin_->target, "x86");
  EXPECT_EQ(args.sources, std::vector<std::string>{"**.py"});
}

TEST_F(CommandLineTest, ShortenedRepeatedAndPathValues) {
  ASSERT_EQ(parse({"--verb", "build", "--lib", "--ve", "-1", "--po=p", "--exe", "a", "--exe", "b",
                   "m", "s"})
                .status,
            std::nullopt);
  EXPECT_TRUE(args.verbose && args.library);
  EXPECT_EQ(args.version, "-1"); // a negative number is a value, not an option
  EXPECT_EQ(args.policy, "p");
  EXPECT_EQ(args.exe, "b");
  // Path options name what the text means: the empty text is the current directory.
  ASSERT_EQ(parse({"build", "--base", "./src//", "--wheel=", "--embed", "out/", "m", "s"}).status,
            std::nullopt);
  EXPECT_EQ(args.base.generic_string(), "src");
  EXPECT_EQ(args.wheel->generic_string(), ".");
  EXPECT_EQ(args.embed->generic_string(), "out");
}

TEST_F(CommandLineTest, UsageErrorsNameTheParserAndTheWordsAtFault) {
  const Parsed missing = parse({"build"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(missing.out.empty());
  EXPECT_EQ(missing.err,
            "Usage: quorvex build [OPTIONS] mainModule sources...\n"
            "quorvex build: error: the following arguments are required: mainModule, sources\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"build", "main"}, "quorvex build: error: the following arguments are required: sources"},
      {{"build", "--exe", "--wh", "m", "s"},
       "quorvex build: error: argument --exe: expected one argument"},
      {{"build", "--e", "x", "m", "s"},
       "quorvex build: error: ambiguous option: --e could match --embed, --exe"},
      {{"build", "--library=true", "m", "s"},
       "quorvex build: error: argument --library: ignored explicit argument 'true'"},
      {{"build", "--lib=", "m", "s"},
       "quorvex build: error: argument --library: ignored explicit argument ''"},
      {{"build", "m", "s", "--verbose"}, "quorvex build: error: unrecognized arguments: --verbose"},
      {{"--exe", "x", "build", "m", "s"}, "quorvex: error: unrecognized arguments: --exe x"},
      {{"build", "m", "s", "--exe"}, "quorvex build: error: argument --exe: expected one argument"},
      {{"unknown"}, "quorvex: error: unrecognized arguments: unknown"}};
  for (const auto& [words, message] : cases) {
    const Parsed parsed = parse(words);
    EXPECT_EQ(parsed.status, 2) << message;
    EXPECT_EQ(parsed.err.substr(parsed.err.find('\n') + 1), message + "\n");
  }
}

TEST_F(CommandLineTest, HelpAtEitherLevel) {
  const Parsed top = parse({"--help"});
  EXPECT_EQ(top.status, 0);
  for (const char* piece : {"Quorvex - Compile Python to Native Code",
                            "Enable debug logging output (default: false)", "Command:\n  build",
                            "Build the executable",
                            "\nRun 'quorvex build --help' for the options of a build.\n"})
    EXPECT_NE(top.out.find(piece), std::string::npos) << piece;

  const Parsed build = parse({"build", "-h"});
  EXPECT_EQ(build.status, 0);
  EXPECT_TRUE(build.err.empty());
  const std::string& text = build.out;
  const std::string exeHelp = "Output executable name (default: derived from main module)";
  EXPECT_NE(text.find(exeHelp), std::string::npos);
  EXPECT_EQ(text.find(exeHelp), text.rfind(exeHelp));
  // Options in the order they were added, the plug-in's after --policy.
  std::size_t last = 0;
  for (const char* option : {"--embed EMBED", "--wheel WHEEL", "--library", "--base BASE",
                             "--no-console", "--exe EXE", "--version VERSION", "--policy POLICY",
                             "--target TARGET"}) {
    const auto at = text.find(option);
    ASSERT_NE(at, std::string::npos) << option;
    EXPECT_GT(at, last) << option;
    last = at;
  }
  // The epilog is the top level's alone, also for the plug-ins' sub-commands.
  EXPECT_EQ(text.find("Run '"), std::string::npos);
  EXPECT_EQ(parse({"hello", "--help"}).out.find("Run '"), std::string::npos);
}

TEST_F(CommandLineTest, SubCommandsOfPluginsOrNone) {
  ASSERT_EQ(parse({"--verbose"}).status, std::nullopt);
  EXPECT_FALSE(args.command.has_value());
  EXPECT_FALSE(static_cast<bool>(args.func));
  EXPECT_NE(help().find("Usage: quorvex [OPTIONS] [SUBCOMMAND]"), std::string::npos);

  ASSERT_EQ(parse({"hello"}).status, std::nullopt);
  EXPECT_EQ(args.command, "hello");
  ASSERT_TRUE(static_cast<bool>(args.func));
  args.func(args);
  EXPECT_EQ(plugin_->helloRuns, 1);
  EXPECT_NE(help().find("  hello"), std::string::npos);

  ASSERT_EQ(parse({"bare"}).status, std::nullopt);
  EXPECT_EQ(args.command, "bare");
  EXPECT_FALSE(static_cast<bool>(args.func));

  // A positional that a plug-in adds comes before mainModule.
  ASSERT_EQ(parse({"build", "arm64", "main", "a.py"}, true).status, std::nullopt);
  EXPECT_EQ(plugin_->arch, "arm64");
  EXPECT_EQ(args.mainModule, "main");
  EXPECT_EQ(args.sources, std::vector<std::string>{"a.py"});
}
