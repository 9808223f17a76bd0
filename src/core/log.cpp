#include "core/log.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>

namespace quorvex::log {

namespace {

// The logging facility's module state: the loggers by name and the root's handlers.
struct Registry {
  std::mutex mutex;
  Logger rootLogger{"root"};
  std::map<std::string, std::unique_ptr<Logger>, std::less<>> loggers;
  std::vector<std::shared_ptr<Handler>> handlers;

  Registry() { rootLogger.level = WARNING; }
};

Registry& registry() {
  static Registry instance;
  return instance;
}

void writeStderr(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

} // namespace

std::string levelName(int level) {
  switch (level) {
  case NOTSET:
    return "NOTSET";
  case DEBUG:
    return "DEBUG";
  case INFO:
    return "INFO";
  case WARNING:
    return "WARNING";
  case ERROR:
    return "ERROR";
  case CRITICAL:
    return "CRITICAL";
  default:
    return "Level " + std::to_string(level);
  }
}

void PlainHandler::emit(const Record& record) {
  writeStderr(record.levelname + ":" + record.name + ":" + record.msg + "\n");
}

int Logger::effectiveLevel() const {
  if (level != NOTSET) return level;
  return root().level;
}

bool Logger::isEnabledFor(int level) const { return level >= effectiveLevel(); }

void Logger::log(int level, std::string message) {
  if (!isEnabledFor(level)) return;
  Record record{name_, level, levelName(level), std::move(message)};
  // Copy the handler list so that a handler may log or change handlers without deadlock.
  std::vector<std::shared_ptr<Handler>> targets = handlers();
  if (targets.empty()) {
    // Without any handler, warnings and worse still reach the user as bare messages.
    if (level >= WARNING) writeStderr(record.msg + "\n");
    return;
  }
  for (const auto& handler : targets) {
    if (level < handler->level) continue;
    if (!handler->filter(record)) continue;
    handler->emit(record);
  }
}

Logger& getLogger(std::string_view name) {
  if (name.empty() || name == "root") return root();
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  auto found = reg.loggers.find(name);
  if (found != reg.loggers.end()) return *found->second;
  auto logger = std::make_unique<Logger>(std::string(name));
  Logger& result = *logger;
  reg.loggers.emplace(std::string(name), std::move(logger));
  return result;
}

Logger& root() { return registry().rootLogger; }

void addHandler(std::shared_ptr<Handler> handler) {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  if (std::find(reg.handlers.begin(), reg.handlers.end(), handler) == reg.handlers.end())
    reg.handlers.push_back(std::move(handler));
}

void removeHandler(const std::shared_ptr<Handler>& handler) {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  std::erase(reg.handlers, handler);
}

std::vector<std::shared_ptr<Handler>> handlers() {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  return reg.handlers;
}

void basicConfig() {
  Registry& reg = registry();
  std::lock_guard lock(reg.mutex);
  if (reg.handlers.empty()) reg.handlers.push_back(std::make_shared<PlainHandler>());
  reg.rootLogger.level = WARNING;
}

} // namespace quorvex::log
