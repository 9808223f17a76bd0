#include "frontend/cli.hpp"

#include "core/context.hpp"
#include "core/interpreter.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "frontend/console.hpp"
#include "platforms/builtin.hpp"

#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace quorvex::cli {

namespace {

// The console handler in place of the start-up's plain one for the time of one `main` call;
// the plain handler comes back afterwards. Replacing it keeps every line from appearing twice,
// once styled on standard output and once raw on standard error.
class ConsoleLogging {
public:
  explicit ConsoleLogging(const BuildArguments& args) {
    for (const auto& handler : log::handlers()) {
      if (std::dynamic_pointer_cast<log::PlainHandler>(handler)) {
        log::removeHandler(handler);
        removed_.push_back(handler);
      }
    }
    console_ = std::make_shared<console::ConsoleHandler>([&args] { return args.verbose; });
    log::addHandler(console_);
    log::root().level = args.verbose ? log::DEBUG : log::INFO;
  }
  ~ConsoleLogging() {
    log::removeHandler(console_);
    for (const auto& handler : removed_) log::addHandler(handler);
  }
  ConsoleLogging(const ConsoleLogging&) = delete;
  ConsoleLogging& operator=(const ConsoleLogging&) = delete;

private:
  std::shared_ptr<log::Handler> console_;
  std::vector<std::shared_ptr<log::Handler>> removed_;
};

} // namespace

int main(int argc, char** argv) {
  log::basicConfig();
  // Made before parsing: the plug-ins extend the parser, and their load warnings go out
  // through the plain handler.
  plugin::PluginManager manager = platforms::loadPlugins();
  Context context(manager, interpreter::toolExecutable());

  const std::string programName =
      argc > 0 ? std::filesystem::path(argv[0]).filename().string() : "quorvex";
  const std::vector<std::string> words(argv + (argc > 0 ? 1 : 0), argv + argc);

  BuildArguments args;
  CommandLine commandLine(programName, args, manager);
  if (const auto status = commandLine.parse(words, std::cout, std::cerr)) return *status;

  ConsoleLogging logging(args);
  if (!args.func) {
    std::cout << commandLine.help();
    return 0;
  }
  args.func(args);
  return 0;
}

} // namespace quorvex::cli
