#include "frontend/console.hpp"

#include <exception>
#include <iostream>
#include <ostream>
#include <vector>

namespace quorvex::console {

namespace {

// Lengths count characters, not bytes, so that a cut never splits a UTF-8 sequence: a
// character starts at every byte that is not a continuation byte.
bool startsCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) != 0x80; }

// The byte offsets at which the characters of `text` start.
std::vector<std::size_t> characterStarts(const std::string& text) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (startsCharacter(text[i])) starts.push_back(i);
  return starts;
}

} // namespace

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
  if (record.msg.size() <= messageLimit) return true;
  const std::vector<std::size_t> starts = characterStarts(record.msg);
  if (starts.size() > messageLimit)
    record.msg = record.msg.substr(0, starts[keptHead]) + " ... " +
                 record.msg.substr(starts[starts.size() - keptTail]);
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
