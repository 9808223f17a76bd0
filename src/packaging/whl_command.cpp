#include "packaging/whl_command.hpp"

#include "core/context.hpp"
#include "core/plugin.hpp"
#include "packaging/whl.hpp"
#include "packaging/whl_metadata.hpp"

#include <CLI/CLI.hpp>

#include <ostream>

namespace fs = std::filesystem;

namespace quorvex::whl {

namespace {

// A library built by the tool is named after its main module followed by the interpreter's
// extension suffix; that module is the one the package runs and serves.
WheelOptions libraryOptions(Context& context, const fs::path& library) {
  std::string name = library.filename().string();
  std::string extSuffix = buildInterpreterValues(context.interpreter()).extSuffix;
  std::string mainModule;
  if (!extSuffix.empty() && name.size() > extSuffix.size() && name.ends_with(extSuffix))
    mainModule = name.substr(0, name.size() - extSuffix.size());
  else
    mainModule = name.substr(0, name.size() - fileSuffix(name).size());
  WheelOptions options;
  options.library = true;
  options.mainModuleName = mainModule;
  return options;
}

} // namespace

int wheelMain(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
              const std::function<void(const WheelCommand&)>& run) {
  CLI::App app("Build a Python wheel.");
  app.footer("The project's name, version and metadata come from the nearest pyproject.toml at "
             "or above the working directory.");
  WheelCommand command;
  app.add_flag("--library", command.library, "Create library (default: false)");
  CLI::Option* executable =
      app.add_option("executable", command.executable, "Executable")->required();
  CLI::Option* outputPath =
      app.add_option("outputPath", command.outputPath, "Path to the output directory.")->required();
  try {
    try {
      app.parse(argc, argv);
    } catch (const CLI::RequiredError&) {
      // Name every missing argument at once, not only the first.
      std::string missing;
      for (CLI::Option* option : {executable, outputPath})
        if (option->count() == 0) missing += (missing.empty() ? "" : ", ") + option->get_name();
      throw CLI::RequiredError("the following arguments are required: " + missing,
                               CLI::ExitCodes::RequiredError);
    }
  } catch (const CLI::ParseError& error) {
    return app.exit(error, out, err) == 0 ? 0 : 2;
  }

  try {
    run(command);
  } catch (const std::exception& error) {
    err << error.what() << "\n";
    return 1;
  }
  return 0;
}

void runWheelCommand(Context& context, const WheelCommand& command) {
  options::BuildOptions build;
  build.library = command.library;
  context.plugins.extendBuild(build);
  WheelOptions options =
      command.library ? libraryOptions(context, command.executable) : WheelOptions{};
  // As `build --wheel` does: the output directory is made when missing.
  std::filesystem::create_directories(command.outputPath);
  createWheel(context, command.executable, command.outputPath, options);
}

} // namespace quorvex::whl
