// quorvex-wheel: wraps an executable or a compiled library built before in a wheel.
#include "core/context.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "packaging/whl_command.hpp"
#include "platforms/builtin.hpp"

#include <iostream>

int main(int argc, char** argv) {
  // The same start-up logging as every program the tool builds: warnings only.
  quorvex::log::basicConfig();
  return quorvex::whl::wheelMain(
      argc, argv, std::cout, std::cerr, [](const quorvex::whl::WheelCommand& command) {
        quorvex::plugin::PluginManager manager = quorvex::platforms::loadPlugins();
        quorvex::Context context(manager, quorvex::interpreter::toolExecutable());
        quorvex::whl::runWheelCommand(context, command);
      });
}
