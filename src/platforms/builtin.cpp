#include "platforms/builtin.hpp"

#include "core/interpreter.hpp"
#include "platforms/linuxplatform.hpp"
#include "platforms/macplatform.hpp"
#include "platforms/winplatform.hpp"

namespace quorvex::platforms {

const plugin::BuiltinFactories& builtinPlugins() {
  static const plugin::BuiltinFactories table{
      {".winplatform",
       [](plugin::PluginManager& manager) {
         return std::make_unique<winplatform::Plugin>(manager);
       }},
      {".linuxplatform",
       [](plugin::PluginManager& manager) {
         return std::make_unique<linuxplatform::Plugin>(manager);
       }},
      {".macplatform",
       [](plugin::PluginManager& manager) {
         return std::make_unique<macplatform::Plugin>(manager);
       }},
  };
  return table;
}

plugin::PluginManager loadPlugins() {
  return plugin::PluginManager({}, {"quorvexpro", ".winplatform", ".linuxplatform", ".macplatform"},
                               builtinPlugins(),
                               plugin::extensionSearchPath(interpreter::toolExecutable()));
}

} // namespace quorvex::platforms
