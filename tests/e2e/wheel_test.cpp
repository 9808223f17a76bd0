// The example's executable wheel as a user meets it: installed by pip into a fresh virtual
// environment and run from its bin; and quorvex-wheel wrapping a program built before.
#include "e2e/example.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

class ExampleWheel : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(example().build.status, 0) << example().build.all(); }
  const Project& project() { return example().project; }
};

TEST_F(ExampleWheel, IsConsistentAndCarriesValidMetadata) {
  const fs::path wheel = onlyWheel(project().dir() / "dist");
  EXPECT_TRUE(wheel.filename().string().starts_with("tally-1.0.0-cp312-")) << wheel;
  const Outcome checked = checkWheel(wheel);
  EXPECT_EQ(checked.status, 0) << checked.all();
  EXPECT_EQ(checked.out, "tally 1.0.0\n");
}

TEST_F(ExampleWheel, InstallsWithPipAndRunsFromTheEnvironmentsBin) {
  const fs::path wheel = onlyWheel(project().dir() / "dist");
  const fs::path venv = freshVenv("tally");
  const Outcome installed =
      run({(venv / "bin" / "python").string(), "-m", "pip", "install", "--no-index",
           "--disable-pip-version-check", wheel.string()},
          venv);
  ASSERT_EQ(installed.status, 0) << installed.all();
  EXPECT_EQ((installed.out + installed.err).find("RECORD"), std::string::npos) << installed.all();

  const fs::path data = project().dir() / "data" / "stock.csv";
  const Outcome expected =
      run({buildPython().string(), "tally.py", "--top", "2", data.string()}, project().dir());
  const Outcome outcome =
      runClean({(venv / "bin" / "tally").string(), "--top", "2", data.string()}, venv);
  EXPECT_EQ(outcome.status, 0) << outcome.all();
  EXPECT_EQ(outcome.out, expected.out);
}

TEST_F(ExampleWheel, QuorvexWheelWrapsTheBuiltProgram) {
  // A missing output directory is made, as `build --wheel` makes its own.
  const fs::path out = project().dir() / "wrapped" / "dist";
  const Outcome wrapped =
      run({wheelTool().string(), (project().buildDir() / "tally").string(), out.string()},
          project().dir());
  ASSERT_EQ(wrapped.status, 0) << wrapped.all();
  const Outcome checked = checkWheel(onlyWheel(out));
  EXPECT_EQ(checked.status, 0) << checked.all();
  EXPECT_EQ(checked.out, "tally 1.0.0\n");
}

} // namespace
} // namespace quorvex::e2e
