// The command line, with a plug-in that extends the parser, and the console's log lines.
#include "frontend/cli.hpp"
#include "frontend/console.hpp"
#include "core/plugin.hpp"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <sstream>

using namespace quorvex;
using cli::BuildArguments;
using Words = std::vector<std::string>;

namespace {

// Adds a `build` option and positional, and a sub-command of its own.
struct ExtendingPlugin : plugin::Plugin {
  void extendBuildParser(CLI::App& buildParser) override {
    buildParser.add_option("--target", target, "Target triple")->type_name("TARGET");
    buildParser.add_option("arch", arch, "Architecture")->required();
  }
  void extendSubParsers(CLI::App& mainParser, BuildArguments& args) override {
    mainParser.add_subcommand("hello", "Say hello")->callback([&args, this] {
      args.func = [this](BuildArguments&) { ++helloRuns; };
    });
  }
  std::string target, arch;
  int helloRuns = 0;
};

struct Parsed {
  std::unique_ptr<plugin::PluginManager> manager;
  std::optional<int> status;
  std::string out, err;
  BuildArguments args;
  ExtendingPlugin* plugin = nullptr;
};

// Kept whole on the heap: the parser's callbacks hold the arguments' address.
std::unique_ptr<Parsed> parse(const Words& words) {
  std::vector<std::unique_ptr<plugin::Plugin>> plugins;
  plugins.push_back(std::make_unique<ExtendingPlugin>());
  auto result = std::make_unique<Parsed>();
  Parsed& parsed = *result;
  parsed.plugin = static_cast<ExtendingPlugin*>(plugins.back().get());
  parsed.manager = std::make_unique<plugin::PluginManager>(std::move(plugins));
  cli::CommandLine commandLine("quorvex", parsed.args, *parsed.manager);
  std::ostringstream out, err;
  parsed.status = commandLine.parse(words, out, err);
  parsed.out = out.str();
  parsed.err = err.str();
  return result;
}

} // namespace

TEST(CommandLine, OptionsInEveryFormAndThePluginsAdditions) {
  auto parsed = parse({"--verb", "build", "--embed", "emb", "--wheel=", "--lib", "--base", "./src//",
                    "--no-console", "--exe", "a", "--exe=b", "--ve", "-1", "--po=p", "--target",
                    "x86", "arm64", "app.cli", "**.py", "b.py"});
  const Parsed& p = *parsed;
  ASSERT_EQ(p.status, std::nullopt) << p.err;
  EXPECT_TRUE(p.args.verbose && p.args.library && p.args.no_console);
  EXPECT_EQ(p.args.embed->generic_string(), "emb");
  EXPECT_EQ(p.args.wheel->generic_string(), ".");
  EXPECT_EQ(p.args.base.generic_string(), "src");
  EXPECT_EQ(p.args.exe, "b");
  EXPECT_EQ(p.args.version, "-1"); // a negative number is a value, not an option
  EXPECT_EQ(p.args.policy, "p");
  EXPECT_EQ(p.plugin->target + " " + p.plugin->arch, "x86 arm64");
  EXPECT_EQ(p.args.mainModule, "app.cli");
  EXPECT_EQ(p.args.sources, (Words{"**.py", "b.py"}));

  auto hello = parse({"hello"});
  ASSERT_TRUE(hello->status == std::nullopt && hello->args.func);
  hello->args.func(hello->args);
  EXPECT_EQ(hello->plugin->helloRuns, 1);
  auto help = parse({"build", "-h"});
  EXPECT_EQ(help->status, 0);
  EXPECT_LT(help->out.find("--policy POLICY"), help->out.find("--target TARGET"));
}

TEST(CommandLine, UsageErrorsNameTheParserAndTheWordsAtFault) {
  const std::vector<std::pair<Words, std::string>> cases{
      {{"build", "x"}, "quorvex build: error: the following arguments are required: mainModule, "
                       "sources"},
      {{"build", "x", "--exe", "--wh", "m", "s"},
       "quorvex build: error: argument --exe: expected one argument"},
      {{"build", "x", "--e", "x", "m", "s"},
       "quorvex build: error: ambiguous option: --e could match --embed, --exe"},
      {{"build", "x", "--library=true", "m", "s"},
       "quorvex build: error: argument --library: ignored explicit argument 'true'"},
      {{"build", "x", "m", "s", "--verbose"},
       "quorvex build: error: unrecognized arguments: --verbose"},
      {{"--exe", "x", "build", "a", "m", "s"}, "quorvex: error: unrecognized arguments: --exe x"},
      {{"unknown"}, "quorvex: error: unrecognized arguments: unknown"}};
  for (const auto& [words, message] : cases) {
    const auto parsed = parse(words);
    EXPECT_EQ(parsed->status, 2) << message;
    EXPECT_TRUE(parsed->out.empty());
    EXPECT_EQ(parsed->err.substr(parsed->err.find('\n') + 1), message + "\n");
  }
}

TEST(Console, CompilerRecordsHiddenUnlessVerboseAndMarkupRenderedOrStripped) {
  using console::renderMarkup;
  std::ostringstream out;
  bool verbose = false;
  console::ConsoleHandler handler([&verbose] { return verbose; }, out, false);
  const log::Record compilerLine{"root", log::INFO, "INFO", "gcc -o app"};
  handler.emit(compilerLine);
  handler.emit({"quorvex.builder", log::INFO, "INFO", "[bold green]Compiled to a[/bold green]"});
  verbose = true; // read at the time of each record
  handler.emit(compilerLine);
  log::Record longLine{"root", log::INFO, "INFO", std::string(250, 'h') + std::string(301, 't')};
  handler.emit(longLine);
  EXPECT_EQ(out.str(), "INFO  builder: Compiled to a\nDEBUG root: gcc -o app\nDEBUG root: " +
                           std::string(250, 'h') + " ... " + std::string(200, 't') + "\n");
  EXPECT_EQ(renderMarkup("[bold green]x[/bold green] done", true), "\x1b[1;32mx\x1b[0m done");
  // The no-match error lists patterns in brackets; they must survive whole.
  for (const std::string kept : {"Patterns: ['*.py', 'src/[ab].py']", "[foo] and [/nothing] ["})
    EXPECT_EQ(renderMarkup(kept, true), kept);
  EXPECT_EQ(renderMarkup("\\[bold]literal", false), "[bold]literal");
}
