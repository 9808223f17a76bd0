#include "core/log.hpp"
#include "core/utils.hpp"

#include <gtest/gtest.h>

namespace quorvex::log {
namespace {

struct Recorder : Handler {
  std::vector<Record> records;
  void emit(const Record& record) override { records.push_back(record); }
};

struct DropInfo : Recorder {
  bool filter(const Record& record) override { return record.levelno != INFO; }
};

// Each test starts from an empty root with level WARNING and leaves the root as it found it.
class LogTest : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = handlers();
    savedLevel_ = root().level;
    for (const auto& handler : saved_) removeHandler(handler);
    root().level = WARNING;
  }
  void TearDown() override {
    for (const auto& handler : handlers()) removeHandler(handler);
    for (const auto& handler : saved_) addHandler(handler);
    root().level = savedLevel_;
  }
  std::vector<std::shared_ptr<Handler>> saved_;
  int savedLevel_ = NOTSET;
};

TEST_F(LogTest, LevelsOfLoggersAndHandlersAndFiltersDecideWhoGetsARecord) {
  auto everything = std::make_shared<Recorder>();
  auto errorsOnly = std::make_shared<Recorder>();
  errorsOnly->level = ERROR;
  auto noInfo = std::make_shared<DropInfo>();
  addHandler(everything);
  addHandler(errorsOnly);
  addHandler(noInfo);
  Logger& compiler = getLogger("quorvex.test.compiler");
  compiler.info("dropped by the root level {}", 1);
  compiler.warning("kept {}", 2);
  root().level = DEBUG;
  compiler.info("info");
  compiler.level = ERROR;
  compiler.warning("dropped by its own level");
  compiler.error("error");
  compiler.level = NOTSET;
  removeHandler(everything);
  root().error("after removal");

  auto messages = [](const Recorder& r) {
    std::vector<std::string> result;
    for (const auto& record : r.records) result.push_back(record.name + ":" + record.msg);
    return result;
  };
  using Texts = std::vector<std::string>;
  const std::string name = "quorvex.test.compiler:";
  EXPECT_EQ(messages(*everything), (Texts{name + "kept 2", name + "info", name + "error"}));
  EXPECT_EQ(messages(*errorsOnly), (Texts{name + "error", "root:after removal"}));
  EXPECT_EQ(messages(*noInfo), (Texts{name + "kept 2", name + "error", "root:after removal"}));
  EXPECT_EQ(everything->records[0].levelname, "WARNING");
  EXPECT_EQ(&getLogger("quorvex.test.compiler"), &compiler);
  EXPECT_EQ(&getLogger("root"), &root());
}

TEST_F(LogTest, BasicConfigInstallsThePlainHandlerOnlyOnce) {
  root().level = DEBUG;
  basicConfig();
  ASSERT_EQ(handlers().size(), 1u);
  EXPECT_NE(dynamic_cast<PlainHandler*>(handlers()[0].get()), nullptr);
  EXPECT_EQ(root().level, WARNING);
  basicConfig();
  EXPECT_EQ(handlers().size(), 1u);

  std::string text;
  {
    utils::capture_output capture;
    // The capture raises the root level to ERROR, so use a level that passes it.
    getLogger("quorvex.test").error("went {}", "wrong");
    getLogger("quorvex.test").warning("not shown");
    text = capture.finish();
  }
  EXPECT_EQ(text, "ERROR:quorvex.test:went wrong\n");
}

} // namespace
} // namespace quorvex::log
