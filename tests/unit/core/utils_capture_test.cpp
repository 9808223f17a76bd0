#include "core/log.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/log_recorder.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvex::utils {
namespace {

std::pair<dev_t, ino_t> identity(int descriptor) {
  struct stat info {};
  fstat(descriptor, &info);
  return {info.st_dev, info.st_ino};
}

TEST(CaptureOutputTest, CollectsTheProcessAndItsChildrenOnBothStreams) {
  EXPECT_EQ(capture_output().finish(), "");
  auto out = identity(1), err = identity(2);
  std::string text;
  {
    // Buffered before the capture begins: the tear-down flush sends it into the capture.
    std::fputs("buffered|", stdout);
    capture_output capture;
    process::run({"sh", "-c", "printf child-out; printf child-err >&2"}, {.captureOutput = false});
    ::write(1, "|raw1", 5);
    ::write(2, "|raw2", 5);
    ::write(1, "|\xE2\x82|", 4); // a truncated character
    text = capture.finish();
  }
  EXPECT_EQ(text, "child-outchild-err|raw1|raw2|\xEF\xBF\xBD|buffered|");
  EXPECT_EQ(identity(1), out);
  EXPECT_EQ(identity(2), err);
}

TEST(CaptureOutputTest, RaisesTheRootLevelAndRestoresItWhenTheBlockThrows) {
  auto out = identity(1), err = identity(2);
  quorvex::testing::LogRecorder recorder; // the root at INFO
  try {
    capture_output capture;
    EXPECT_EQ(log::root().level, log::ERROR);
    log::getLogger("quorvex.test").warning("dropped");
    log::getLogger("quorvex.test").error("kept");
    throw std::runtime_error("block failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(log::root().level, log::INFO);
  EXPECT_TRUE(recorder.messages(log::WARNING).empty());
  EXPECT_EQ(recorder.messages(log::ERROR), std::vector<std::string>{"kept"});
  EXPECT_EQ(identity(1), out);
  EXPECT_EQ(identity(2), err);
}

TEST(CaptureOutputTest, AChildThatKeepsThePipeOpenDoesNotHoldTheTearDownForever) {
  auto start = std::chrono::steady_clock::now();
  std::string text;
  {
    capture_output capture;
    // The background sleep inherits descriptors 1 and 2 and outlives the block.
    process::run({"sh", "-c", "printf early; sleep 8 &"}, {.captureOutput = false});
    text = capture.finish();
  }
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(text, "early");
  EXPECT_GE(took, std::chrono::seconds(4));
  EXPECT_LT(took, std::chrono::seconds(7));
}

} // namespace
} // namespace quorvex::utils
