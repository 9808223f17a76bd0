#pragma once
// A platform plug-in answering the source hooks with values a test sets, and a manager that
// holds it.

#include "core/plugin.hpp"

#include <filesystem>
#include <memory>
#include <vector>

namespace quorvex::testing {

struct FakePlatform : plugin::Plugin {
  plugin::CompileBasics basics{.objSuffix = ".o", .exeSuffix = ""};
  std::vector<std::filesystem::path> extraSources;

  std::optional<plugin::CompileBasics> getCompileBasics() override { return basics; }
  std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path&, const std::optional<std::string>&) override {
    return extraSources;
  }
};

/// A manager holding `plugin` alone.
inline std::unique_ptr<plugin::PluginManager> managerOf(std::unique_ptr<plugin::Plugin> plugin) {
  std::vector<std::unique_ptr<plugin::Plugin>> plugins;
  plugins.push_back(std::move(plugin));
  return std::make_unique<plugin::PluginManager>(std::move(plugins));
}

} // namespace quorvex::testing
