#pragma once
// The console log output: the line format with the short module name, the filter that hides
// or demotes the compiler layer's records (logged through the root logger), and the rendering
// of console markup such as "[bold green]" ... "[/bold green]".

#include "core/log.hpp"

#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace quorvex::console {

/// The layout of one console line, before its markup is rendered.
inline constexpr std::string_view lineFormat =
    "[dim]%(levelname)-5s[/dim] [cyan]%(module_short)s[/cyan]: %(message)s";

/// Messages of demoted records longer than this many characters are cut to their head and tail.
inline constexpr std::size_t messageLimit = 500;
inline constexpr std::size_t keptHead = 250;
inline constexpr std::size_t keptTail = 200;

/// The part of a logger name after its last "." (the whole name when it holds none).
std::string moduleShort(std::string_view loggerName);

/// `record` in the line format: the level name left-aligned in five columns, the short module
/// name and the message, with the markup still in the text.
std::string formatRecord(const log::Record& record);

/// Decides whether the console shows `record`, changing it on the way: records of the root
/// logger below WARNING (the compiler layer's command lines) are hidden unless `verbose`;
/// with it they become DEBUG and a message above 500 characters keeps its first 250 and last
/// 200 joined by " ... ". Every other record passes unchanged.
bool filterRecord(log::Record& record, bool verbose);

/// `text` with its console markup turned into ANSI styles (`ansi` true) or removed. Tags are
/// "[style words]", "[/style words]" and "[/]"; a bracketed text that names no known style
/// stays as it is, and a backslash before a tag makes it literal.
std::string renderMarkup(std::string_view text, bool ansi);

/// True when standard output is a terminal.
bool stdoutIsTerminal();

/// The console handler of the root logger: filters with `filterRecord` (reading the verbose
/// flag on every record), formats with `formatRecord` and writes one line per record to
/// `out`, styled when `ansi` is true. A failure to write drops the record.
class ConsoleHandler : public log::Handler {
public:
  ConsoleHandler(std::function<bool()> verbose, std::ostream& out, bool ansi);
  /// Writes to standard output, styled when it is a terminal.
  explicit ConsoleHandler(std::function<bool()> verbose);

  bool filter(const log::Record& record) override;
  void emit(const log::Record& record) override;

private:
  std::function<bool()> verbose_;
  std::ostream& out_;
  bool ansi_;
};

} // namespace quorvex::console
