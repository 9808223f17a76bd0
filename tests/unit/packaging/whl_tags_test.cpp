#include "core/plugin.hpp"
#include "packaging/whl_tags.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace quorvex::whl {
namespace {

InterpreterValues cpython(int major, int minor, std::string soabi = "",
                          std::optional<long long> gil = std::nullopt) {
  InterpreterValues values;
  values.major = major;
  values.minor = minor;
  values.soabi = std::move(soabi);
  values.gilDisabled = gil;
  values.platform = "linux-x86_64";
  return values;
}

void expectTags(const WheelTags& tags, const std::string& python, const std::string& abi) {
  EXPECT_EQ(tags.python, python);
  EXPECT_EQ(tags.abi, abi);
}

TEST(WheelTags, ExecutablesKeepTheVersionAbiAndLibrariesUseTheStableAbiFrom311) {
  auto py312 = cpython(3, 12, "cpython-312-x86_64-linux-gnu", 0);
  expectTags(pythonAbiTags(py312, false), "cp312", "cp312");
  expectTags(pythonAbiTags(py312, true), "cp312", "abi3");
  expectTags(pythonAbiTags(cpython(3, 11), true), "cp311", "abi3");
  expectTags(pythonAbiTags(cpython(3, 10, "cpython-310-x86_64-linux-gnu"), true), "cp310", "cp310");
}

TEST(WheelTags, FreeThreadedBuildsGetTheTAbiAndNeverTheStableAbi) {
  auto flagged = cpython(3, 13, "cpython-313t-x86_64-linux-gnu", 1);
  expectTags(pythonAbiTags(flagged, false), "cp313", "cp313t");
  expectTags(pythonAbiTags(flagged, true), "cp313", "cp313t");
  // Without the configuration flag the ABI name alone tells.
  expectTags(pythonAbiTags(cpython(3, 13, "cpython-313t-x86_64-linux-gnu"), true), "cp313",
             "cp313t");
  expectTags(pythonAbiTags(cpython(3, 13, "cpython-313-darwin", 0), true), "cp313", "abi3");
  expectTags(pythonAbiTags(cpython(3, 13, "cpython-313-darwin", 0), false), "cp313", "cp313");
}

TEST(WheelTags, PlatformStringBecomesATag) {
  EXPECT_EQ(platformName("macosx-11.0-arm64"), "macosx_11_0_arm64");
  EXPECT_EQ(platformName("linux-x86_64"), "linux_x86_64");
}

class PlatformTagPlugin : public plugin::Plugin {
public:
  std::optional<std::string> fixPlatformName(const std::string& platformName) override {
    asked = platformName;
    return "fixed_" + platformName;
  }
  std::string asked;
};

TEST(WheelTags, PlatformTagIsTheAnswerOfThePlatform) {
  auto owned = std::make_unique<PlatformTagPlugin>();
  PlatformTagPlugin* plugin = owned.get();
  std::vector<std::unique_ptr<plugin::Plugin>> plugins;
  plugins.push_back(std::move(owned));
  plugin::PluginManager manager(std::move(plugins));

  auto values = cpython(3, 12);
  values.platform = "macosx-11.0-arm64";
  WheelTags tags = wheelTags(values, true, manager);
  EXPECT_EQ(plugin->asked, "macosx_11_0_arm64");
  EXPECT_EQ(tags.platform, "fixed_macosx_11_0_arm64");
  EXPECT_EQ(tags.abi, "abi3");
}

TEST(WheelTags, NoPlatformAnswerIsAnError) {
  plugin::PluginManager manager;
  try {
    wheelTags(cpython(3, 12), false, manager);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "No platform plug-in answers fixPlatformName: no wheel platform tag "
                               "for 'linux-x86_64'");
  }
}

} // namespace
} // namespace quorvex::whl
