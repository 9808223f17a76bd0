#include "frontend/console.hpp"

#include <exception>
#include <iostream>
#include <ostream>

namespace quorvex::console {

std::string moduleShort(std::string_view loggerName) {
  const auto dot = loggerName.rfind('.');
  return std::string(dot == std::string_view::npos ? loggerName : loggerName.substr(dot + 1));
}

std::string formatRecord(const log::Record& record) {
  std::string level = record.levelname;
  if (level.size() < 5) level.resize(5, ' ');
  return "[dim]" + level + "[/dim] [cyan]" + moduleShort(record.name) + "[/cyan]: " + record.msg;
}

bool filterRecord(log::Record& record, bool verbose) {
  if (record.name != "root" || record.levelno >= log::WARNING) return true;
  if (!verbose) return false;
  record.levelno = log::DEBUG;
  record.levelname = "DEBUG";
  if (record.msg.size() > messageLimit)
    record.msg = record.msg.substr(0, keptHead) + " ... " +
                 record.msg.substr(record.msg.size() - keptTail);
  return true;
}

ConsoleHandler::ConsoleHandler(std::function<bool()> verbose, std::ostream& out, bool ansi)
    : verbose_(std::move(verbose)), out_(out), ansi_(ansi) {}

ConsoleHandler::ConsoleHandler(std::function<bool()> verbose)
    : ConsoleHandler(std::move(verbose), std::cout, stdoutIsTerminal()) {}

bool ConsoleHandler::filter(const log::Record& record) {
  log::Record copy = record;
  return filterRecord(copy, verbose_());
}

void ConsoleHandler::emit(const log::Record& record) {
  // A record that cannot be written is dropped: logging must never end a build.
  try {
    log::Record shown = record;
    if (!filterRecord(shown, verbose_())) return;
    out_ << renderMarkup(formatRecord(shown), ansi_) << '\n';
    out_.flush();
  } catch (const std::exception&) {
  }
}

} // namespace quorvex::console
