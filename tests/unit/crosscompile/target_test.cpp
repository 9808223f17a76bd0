#include "crosscompile/target.hpp"

#include "core/interpreter.hpp"

#include <gtest/gtest.h>

using namespace quorvex::target;

TEST(Target, DefaultsComeFromTheHostAndTheBuildInterpreter) {
  const Target host;
  EXPECT_EQ(host.os, "Linux");
  EXPECT_EQ(host.processor, "x86_64");
  EXPECT_EQ(host.pythonVersion, quorvex::interpreter::facts().fullVersion());
  EXPECT_EQ(host.pythonMode, "standard");
  EXPECT_FALSE(host.library || host.limited);
  EXPECT_TRUE(Target({}, {}, {}, {}, true).limited);
  EXPECT_FALSE(Target({}, {}, {}, {}, true, false).limited);
  const Target given("Plan9", "AMD64", "3.13.1");
  EXPECT_EQ(given.processor, "AMD64");
  EXPECT_EQ(given.get_config_vars().back(), std::make_pair(std::string("py_version"), given.pythonVersion));
}

TEST(Target, OptionsKeepToTheirChoicesAndStayAbsentWhenNotGiven) {
  const std::pair<std::string, bool> lines[] = {{"", true},
                                                {"--targetLimited", true},
                                                {"--targetOs MacOS --targetMode freeThreaded", true},
                                                {"--targetOs linux", false},
                                                {"--targetProcessor arm64", false},
                                                {"--targetMode", false}};
  for (const auto& [line, accepted] : lines) {
    CLI::App parser;
    TargetOptions options;
    addTarget(parser, options);
    if (!accepted) {
      EXPECT_THROW(parser.parse(line, false), CLI::ParseError) << line;
      continue;
    }
    parser.parse(line, false);
    EXPECT_EQ(options.targetLimited, line == "--targetLimited" ? std::optional(true) : std::nullopt);
    EXPECT_EQ(options.targetOs, line.empty() || options.targetLimited ? std::nullopt : std::optional<std::string>("MacOS"));
    EXPECT_FALSE(options.targetProcessor || options.targetPython) << line;
  }
}
