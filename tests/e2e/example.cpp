#include "e2e/example.hpp"

#include <gtest/gtest.h>

#include <memory>

namespace fs = std::filesystem;

namespace quorvex::e2e {

BuiltProject& example() {
  static std::unique_ptr<BuiltProject> built = [] {
    Project project = Project::copyOf("example", QUORVEX_SOURCE_DIR "/examples");
    Outcome outcome = project.build({"--wheel", "dist", "tally", "*.py", "ledger/*.py"});
    return std::make_unique<BuiltProject>(BuiltProject{project, outcome});
  }();
  return *built;
}

fs::path onlyWheel(const fs::path& dir) {
  std::vector<fs::path> wheels;
  if (fs::is_directory(dir)) {
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().extension() == ".whl") wheels.push_back(entry.path());
  }
  EXPECT_EQ(wheels.size(), 1u) << "wheels in " << dir;
  return wheels.empty() ? fs::path() : wheels.front();
}

Outcome checkWheel(const fs::path& wheel) {
  return run({buildPython().string(), QUORVEX_SOURCE_DIR "/tests/e2e/check_wheel.py",
              wheel.string()},
             wheel.parent_path());
}

} // namespace quorvex::e2e
