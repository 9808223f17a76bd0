#include "crosscompile/target.hpp"

#include "core/interpreter.hpp"
#include "support/context.hpp"

#include <gtest/gtest.h>

using namespace quorvex::target;

TEST(Target, DefaultsComeFromTheHostAndOptionsKeepToTheirChoices) {
  const auto& facts = quorvex::testing::buildFacts();
  const Target host(facts);
  EXPECT_EQ((std::vector<std::string>{host.os, host.processor, host.pythonVersion, host.pythonMode}),
            (std::vector<std::string>{"Linux", "x86_64",
                                      facts.fullVersion(), "standard"}));
  const std::pair<std::string, std::string> lines[] = {
      {"", "-,-"}, {"--targetLimited", "-,1"}, {"--targetOs MacOS --targetMode standard", "MacOS,-"},
      {"--targetOs linux", "usage"}, {"--targetProcessor arm64", "usage"},
      {"--targetPython", "usage"}};
  for (const auto& [line, expected] : lines) {
    CLI::App parser;
    TargetOptions options;
    addTarget(parser, options);
    std::string parsed = "usage";
    try {
      parser.parse(line, false);
      parsed = options.targetOs.value_or("-") + "," + (options.targetLimited ? "1" : "-");
    } catch (const CLI::ParseError&) {
    }
    EXPECT_EQ(parsed, expected) << line;
  }

  // The target's own configuration values: every one empty but its version.
  Target library(facts, std::nullopt, std::nullopt, "3.11.4", std::nullopt, true);
  EXPECT_TRUE(library.limited);
  EXPECT_EQ(library.get_config_vars(), (std::vector<std::pair<std::string, std::string>>{
                      {"EXT_SUFFIX", ""}, {"LIBPL", ""}, {"LIBDIR", ""}, {"LIBRARY", ""},
                      {"SYSLIBS", ""}, {"LINKFORSHARED", ""}, {"installed_platbase", ""},
                      {"py_version", "3.11.4"}}));
  EXPECT_EQ(host.get_config_vars().back().second, facts.fullVersion());
}
