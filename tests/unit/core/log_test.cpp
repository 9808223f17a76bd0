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

TEST_F(LogTest, NamedLoggersFollowTheRootLevelUnlessTheyHaveTheirOwn) {
  auto recorder = std::make_shared<Recorder>();
  addHandler(recorder);
  Logger& compiler = getLogger("quorvex.test.compiler");
  compiler.info("dropped {}", 1);
  compiler.warning("kept {}", 2);
  root().level = DEBUG;
  compiler.debug("now kept");
  compiler.level = ERROR;
  compiler.warning("dropped by its own level");
  compiler.level = NOTSET;

  ASSERT_EQ(recorder->records.size(), 2u);
  EXPECT_EQ(recorder->records[0].name, "quorvex.test.compiler");
  EXPECT_EQ(recorder->records[0].levelname, "WARNING");
  EXPECT_EQ(recorder->records[0].msg, "kept 2");
  EXPECT_EQ(recorder->records[1].levelno, DEBUG);
  EXPECT_EQ(&getLogger("quorvex.test.compiler"), &compiler);
  EXPECT_EQ(&getLogger("root"), &root());
  EXPECT_EQ(&getLogger(""), &root());
}

TEST_F(LogTest, HandlerLevelsAndFiltersApplyPerHandler) {
  auto everything = std::make_shared<Recorder>();
  auto errorsOnly = std::make_shared<Recorder>();
  errorsOnly->level = ERROR;
  auto noInfo = std::make_shared<DropInfo>();
  addHandler(everything);
  addHandler(errorsOnly);
  addHandler(noInfo);
  root().level = DEBUG;
  root().info("info");
  root().error("error");
  EXPECT_EQ(everything->records.size(), 2u);
  ASSERT_EQ(errorsOnly->records.size(), 1u);
  EXPECT_EQ(errorsOnly->records[0].name, "root");
  ASSERT_EQ(noInfo->records.size(), 1u);
  EXPECT_EQ(noInfo->records[0].msg, "error");

  removeHandler(everything);
  root().error("again");
  EXPECT_EQ(everything->records.size(), 2u);
  EXPECT_EQ(levelName(15), "Level 15");
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
