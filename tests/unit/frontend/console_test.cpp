// The console log line: format, the filter for the compiler layer's records, markup rendering.
#include "frontend/console.hpp"

#include <gtest/gtest.h>

#include <sstream>

using namespace quorvex;
using console::filterRecord;
using console::formatRecord;
using console::renderMarkup;

namespace {

log::Record record(std::string name, int level, std::string msg) {
  return {std::move(name), level, log::levelName(level), std::move(msg)};
}

} // namespace

TEST(ConsoleFormat, ShortModuleNameAndPaddedLevel) {
  EXPECT_EQ(formatRecord(record("quorvex.builder", log::INFO, "Compiling")),
            "[dim]INFO [/dim] [cyan]builder[/cyan]: Compiling");
  EXPECT_EQ(formatRecord(record("root", log::WARNING, "w")),
            "[dim]WARNING[/dim] [cyan]root[/cyan]: w");
  EXPECT_EQ(console::moduleShort("quorvex"), "quorvex");
  EXPECT_EQ(console::moduleShort("quorvex.packaging.whl"), "whl");
  EXPECT_EQ(renderMarkup(formatRecord(record("quorvex.whl", log::DEBUG, "x")), false),
            "DEBUG whl: x");
}

TEST(ConsoleFilter, CompilerLayerRecordsHiddenUnlessVerboseAndLongOnesCut) {
  auto info = record("root", log::INFO, "gcc -c a.c");
  EXPECT_FALSE(filterRecord(info, false));
  EXPECT_TRUE(filterRecord(info, true));
  EXPECT_EQ(info.levelno, log::DEBUG);
  EXPECT_EQ(info.levelname, "DEBUG");
  EXPECT_EQ(info.msg, "gcc -c a.c");

  auto exact = record("root", log::DEBUG, std::string(500, 'a'));
  ASSERT_TRUE(filterRecord(exact, true));
  EXPECT_EQ(exact.msg, std::string(500, 'a'));
  auto longer = record("root", log::DEBUG, std::string(250, 'h') + "M" + std::string(200, 't') +
                                               std::string(50, 'z'));
  ASSERT_TRUE(filterRecord(longer, true));
  EXPECT_EQ(longer.msg, std::string(250, 'h') + " ... " + std::string(150, 't') +
                            std::string(50, 'z'));

  // Lengths count characters: 300 two-byte letters stay whole, and a cut never splits one.
  const auto repeat = [](std::size_t count, const std::string& piece) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) out += piece;
    return out;
  };
  auto accented = record("root", log::INFO, repeat(300, "\u00e9"));
  ASSERT_TRUE(filterRecord(accented, true));
  EXPECT_EQ(accented.msg, repeat(300, "\u00e9"));
  auto cut = record("root", log::INFO, repeat(501, "\u00e9"));
  ASSERT_TRUE(filterRecord(cut, true));
  EXPECT_EQ(cut.msg, repeat(250, "\u00e9") + " ... " + repeat(200, "\u00e9"));

  // Warnings, and records of the tool's own loggers, pass unchanged in both modes.
  for (auto kept : {record("root", log::WARNING, std::string(1000, 'w')),
                    record("quorvex.compiler", log::INFO, std::string(1000, 'x'))}) {
    const std::string levelname = kept.levelname;
    EXPECT_TRUE(filterRecord(kept, false));
    EXPECT_TRUE(filterRecord(kept, true));
    EXPECT_EQ(kept.levelname, levelname);
    EXPECT_EQ(kept.msg.size(), 1000u);
  }
}

TEST(ConsoleMarkup, StrippedOrRenderedAsAnsiAndNonMarkupKept) {
  const std::string text = "[bold green]Compiled to x[/bold green] done";
  EXPECT_EQ(renderMarkup(text, false), "Compiled to x done");
  EXPECT_EQ(renderMarkup(text, true), "\x1b[1;32mCompiled to x\x1b[0m done");
  EXPECT_EQ(renderMarkup("[dim]a[cyan]b[/]c[/dim]", true),
            "\x1b[2ma\x1b[0m\x1b[2;36mb\x1b[0m\x1b[2mc\x1b[0m");
  EXPECT_EQ(renderMarkup("[white on red]e[/white on red]", true), "\x1b[37;41me\x1b[0m");

  // The no-match error lists patterns in brackets; they must survive whole.
  const std::string patterns = "Patterns: ['*.py', 'src/[ab].py']";
  EXPECT_EQ(renderMarkup(patterns, false), patterns);
  EXPECT_EQ(renderMarkup(patterns, true), patterns);
  EXPECT_EQ(renderMarkup("list [foo] and [/nothing open] [", false),
            "list [foo] and [/nothing open] [");
  EXPECT_EQ(renderMarkup("\\[bold]literal", false), "[bold]literal");
  EXPECT_EQ(renderMarkup("C:\\\\[bold]x[/bold]", false), "C:\\x");
  EXPECT_EQ(renderMarkup("a\\b", false), "a\\b");
}

TEST(ConsoleHandler, WritesFilteredStyledLines) {
  std::ostringstream out;
  bool verbose = false;
  console::ConsoleHandler handler([&verbose] { return verbose; }, out, false);

  const auto compilerLine = record("root", log::INFO, "gcc -o app");
  EXPECT_FALSE(handler.filter(compilerLine));
  handler.emit(compilerLine); // the handler itself also holds the line back
  handler.emit(record("quorvex.builder", log::INFO, "[bold green]Compiled to a[/bold green]"));
  verbose = true; // read at the time of each record
  EXPECT_TRUE(handler.filter(compilerLine));
  handler.emit(compilerLine);
  EXPECT_EQ(out.str(), "INFO  builder: Compiled to a\nDEBUG root: gcc -o app\n");
}
