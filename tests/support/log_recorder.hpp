#pragma once
// Records what reaches the root logger while the guard lives, with the root at INFO so that
// the compiler layer's command lines are kept too.

#include "core/log.hpp"

#include <memory>
#include <string>
#include <vector>

namespace quorvex::testing {

class LogRecorder {
public:
  LogRecorder() : handler_(std::make_shared<Recording>()), previousLevel_(log::root().level) {
    log::root().level = log::INFO;
    log::addHandler(handler_);
  }
  ~LogRecorder() {
    log::removeHandler(handler_);
    log::root().level = previousLevel_;
  }
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;

  /// The messages at `level`, in the order they were logged.
  std::vector<std::string> messages(int level) const {
    std::vector<std::string> found;
    for (const log::Record& record : handler_->records)
      if (record.levelno == level) found.push_back(record.msg);
    return found;
  }

private:
  struct Recording : log::Handler {
    void emit(const log::Record& record) override { records.push_back(record); }
    std::vector<log::Record> records;
  };
  std::shared_ptr<Recording> handler_;
  int previousLevel_;
};

} // namespace quorvex::testing
