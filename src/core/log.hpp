#pragma once
// A small logging facility with the semantics the tool relies on: named loggers
// ("quorvex.compiler") that pass their records to the handlers of the root logger, a root
// logger with a level of its own, and handlers with filters. Records of named loggers without
// a level of their own are judged against the root logger's level.

#include <fmt/format.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvex::log {

enum Level : int { NOTSET = 0, DEBUG = 10, INFO = 20, WARNING = 30, ERROR = 40, CRITICAL = 50 };

/// "DEBUG", "INFO", "WARNING", "ERROR", "CRITICAL", or "Level N".
std::string levelName(int level);

/// One log event. `name` is "root" for records of the root logger.
struct Record {
  std::string name;
  int levelno = NOTSET;
  std::string levelname;
  std::string msg;
};

/// Receives the records that reach the root logger and pass its level.
class Handler {
public:
  virtual ~Handler() = default;
  /// Writes the record somewhere; called only for records that `filter` accepts.
  virtual void emit(const Record& record) = 0;
  /// False drops the record for this handler.
  virtual bool filter(const Record& /*record*/) { return true; }
  int level = NOTSET;
};

/// Writes "LEVEL:name:message" lines to standard error, the plain start-up format.
class PlainHandler : public Handler {
public:
  void emit(const Record& record) override;
};

/// A named source of records; records it lets through go to the root logger's handlers.
class Logger {
public:
  explicit Logger(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

  /// The logger's own level; NOTSET defers to the root logger.
  int level = NOTSET;
  /// The level that decides whether a record is made: the own level, else the root's.
  int effectiveLevel() const;
  bool isEnabledFor(int level) const;

  /// Hands a record of `level` to the root's handlers when the logger is enabled for it; with
  /// no handler at all, warnings and worse go to standard error as bare lines.
  void log(int level, std::string message);
  template <typename... Args> void debug(fmt::format_string<Args...> f, Args&&... args) {
    if (isEnabledFor(DEBUG)) log(DEBUG, fmt::format(f, std::forward<Args>(args)...));
  }
  template <typename... Args> void info(fmt::format_string<Args...> f, Args&&... args) {
    if (isEnabledFor(INFO)) log(INFO, fmt::format(f, std::forward<Args>(args)...));
  }
  template <typename... Args> void warning(fmt::format_string<Args...> f, Args&&... args) {
    if (isEnabledFor(WARNING)) log(WARNING, fmt::format(f, std::forward<Args>(args)...));
  }
  template <typename... Args> void error(fmt::format_string<Args...> f, Args&&... args) {
    if (isEnabledFor(ERROR)) log(ERROR, fmt::format(f, std::forward<Args>(args)...));
  }

private:
  std::string name_;
};

/// The process-wide logger of that name ("root" or "" gives the root logger).
Logger& getLogger(std::string_view name);
Logger& root();

/// Handlers of the root logger, in the order they were added.
void addHandler(std::shared_ptr<Handler> handler);
void removeHandler(const std::shared_ptr<Handler>& handler);
std::vector<std::shared_ptr<Handler>> handlers();

/// Installs the plain WARNING handler on the root logger unless it has handlers already,
/// and sets the root level to WARNING: the start-up configuration of every run.
void basicConfig();

} // namespace quorvex::log
