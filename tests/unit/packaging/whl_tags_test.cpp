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

TEST(WheelTags, StableAbiOnlyForNonFreeThreadedLibrariesFrom311) {
  const std::string ft = "cpython-313t-x86_64-linux-gnu";
  struct Case {
    InterpreterValues values;
    bool library;
    std::string python, abi;
  } cases[] = {
      {cpython(3, 12, "cpython-312-x86_64-linux-gnu", 0), false, "cp312", "cp312"},
      {cpython(3, 12, "cpython-312-x86_64-linux-gnu", 0), true, "cp312", "abi3"},
      {cpython(3, 11), true, "cp311", "abi3"},
      {cpython(3, 10, "cpython-310-x86_64-linux-gnu"), true, "cp310", "cp310"},
      {cpython(3, 13, ft, 1), false, "cp313", "cp313t"},
      {cpython(3, 13, ft, 1), true, "cp313", "cp313t"},
      {cpython(3, 13, ft), true, "cp313", "cp313t"}, // the ABI name alone tells
      {cpython(3, 13, "cpython-313-darwin", 0), true, "cp313", "abi3"},
      {cpython(3, 13, "cpython-313-darwin", 0), false, "cp313", "cp313"},
  };
  for (const auto& c : cases) {
    WheelTags tags = pythonAbiTags(c.values, c.library);
    EXPECT_EQ(tags.python + "-" + tags.abi, c.python + "-" + c.abi)
        << c.values.soabi << " library=" << c.library;
  }
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

TEST(WheelTags, PlatformTagIsTheAnswerOfThePlatformAndRequired) {
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

  plugin::PluginManager empty;
  try {
    wheelTags(cpython(3, 12), false, empty);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "No platform plug-in answers fixPlatformName: no wheel platform tag "
                               "for 'linux-x86_64'");
  }
}

} // namespace
} // namespace quorvex::whl
