#pragma once
// Test doubles for the compilation tests: a plug-in answering the platform hooks with values
// the test sets, a compiler object that records its calls and writes empty objects, a command
// runner that records Cython command lines and plays Cython's part on disk, and a log handler
// that keeps records.

#include "core/ccompiler.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvex::compilation_test {

/// What the fake compilers of one test did, in order.
struct CompilerLog {
  std::vector<std::vector<std::string>> compiles;
  std::vector<std::string> links; ///< "exe NAME" or "shared NAME"
  std::vector<std::vector<std::string>> linkedObjects;
  std::vector<std::string> outputDirs;
  std::vector<bool> noInits;
  /// Printed on standard output during each compile, so the capture has something to hold.
  std::string chatter;
  /// A compile of a source whose name holds this text fails.
  std::string failOn;
};

class FakeCCompiler : public ccompiler::CCompiler {
public:
  explicit FakeCCompiler(CompilerLog& log) : log_(log) { obj_extension = ".o"; }
  std::string compiler_type() const override { return "unix"; }
  std::vector<std::string> compile(const std::vector<std::string>& sources,
                                   const ccompiler::CompileArgs& args) override {
    log_.compiles.push_back(sources);
    if (!log_.chatter.empty()) {
      std::fputs(log_.chatter.c_str(), stdout);
      std::fflush(stdout);
    }
    std::vector<std::string> objects;
    for (const auto& source : sources) {
      if (!log_.failOn.empty() && source.find(log_.failOn) != std::string::npos)
        throw ccompiler::CompileError("command 'cc -c " + source + "' failed with exit code 1");
      objects.push_back(object_filename(source, args.output_dir));
    }
    return objects;
  }
  void link_executable(const std::vector<std::string>& objects, const std::string& name,
                       const ccompiler::LinkArgs& args) override {
    record("exe " + name, objects, args);
    std::ofstream(std::filesystem::path(*args.output_dir) / name) << "binary";
  }
  void link_shared_object(const std::vector<std::string>& objects, const std::string& name,
                          const ccompiler::LinkArgs& args) override {
    record("shared " + name, objects, args);
  }
  std::string object_filename(const std::string& source,
                              const std::optional<std::string>&) const override {
    return std::filesystem::path(source).replace_extension(".o").string();
  }

private:
  void record(const std::string& what, const std::vector<std::string>& objects,
              const ccompiler::LinkArgs& args) {
    log_.links.push_back(what);
    log_.linkedObjects.push_back(objects);
    log_.outputDirs.push_back(args.output_dir.value_or(""));
  }
  CompilerLog& log_;
};

/// Answers the hooks that `compile` asks, with values a test may change.
class FakePlatform : public plugin::Plugin {
public:
  plugin::CompileBasics basics{{"objSuffix", ".o"}, {"exeSuffix", ""}, {"extSuffix", ".so"}};
  std::vector<std::filesystem::path> extraSources;
  std::optional<plugin::TemplateExtensions> extensions;
  std::string configTemplate = "\n        PyConfig_InitPythonConfig(&config);\n        {}\n";
  int configTemplateAsked = 0;
  std::vector<std::string> finishing; ///< the finishing hooks in the order they ran
  CompilerLog compilers;
  std::optional<plugin::InstallSelector> selector;
  int runtimeLibAsked = 0;

  std::optional<plugin::CompileBasics> getCompileBasics() override { return basics; }
  std::optional<std::vector<std::filesystem::path>>
  getExtraSources(const std::filesystem::path&, const std::optional<std::string>&) override {
    return extraSources;
  }
  std::optional<plugin::TemplateExtensions> extendTemplate() override { return extensions; }
  std::optional<std::string> getConfigTemplate() override {
    ++configTemplateAsked;
    return configTemplate;
  }
  std::unique_ptr<utils::PlatformCompiler> newCompiler(bool noInit) override {
    compilers.noInits.push_back(noInit);
    return std::make_unique<utils::PlatformCompiler>(std::make_unique<FakeCCompiler>(compilers));
  }
  std::optional<std::filesystem::path> resolveExePath(const std::filesystem::path& p) override {
    finishing.push_back("resolveExePath");
    return p;
  }
  void appendExecutable(const std::filesystem::path&, const std::filesystem::path&) override {
    finishing.push_back("appendExecutable");
  }
  void makeExecutable(const std::filesystem::path&) override {
    finishing.push_back("makeExecutable");
  }
  std::optional<plugin::InstallSelector> getInstallSelector() override { return selector; }
  std::optional<std::filesystem::path> getRuntimeLibPath(const std::filesystem::path& pristine,
                                                         const std::filesystem::path&) override {
    ++runtimeLibAsked;
    return pristine / "lib" / "libpython3.12.so";
  }
};

/// A manager holding one `FakePlatform`; `platform` points at it.
struct FakeManager {
  FakeManager() {
    auto owned = std::make_unique<FakePlatform>();
    platform = owned.get();
    std::vector<std::unique_ptr<plugin::Plugin>> plugins;
    plugins.push_back(std::move(owned));
    manager = std::make_unique<plugin::PluginManager>(std::move(plugins));
  }
  std::unique_ptr<plugin::PluginManager> manager;
  FakePlatform* platform;
};

/// Records every command line that `utils::system` is asked to run (the interpreter path left
/// out: element 0 is dropped) and plays Cython: an embed run writes the program's C file with
/// `embedText`, a shared run its named file, and a batch run a C file per source.
class CythonRecorder {
public:
  std::vector<std::vector<std::string>> runs;
  std::string embedText = "int main(void) {\n  PyConfig_InitPythonConfig(&config);\n}\n";
  bool writeEmbedOutput = true;
  /// A batch run whose sources hold this text fails with Cython-like output.
  std::string failOn;
  /// Called during every batch run (after recording).
  std::function<void()> duringBatch;

  CythonRecorder()
      : guard_([this](const std::vector<std::string>& argv, std::chrono::milliseconds) {
          return play(argv);
        }) {}

private:
  process::Result play(const std::vector<std::string>& argv);
  utils::CommandRunnerOverride guard_;
};

/// Keeps every record that reaches the root logger while it lives; the root level goes to
/// DEBUG meanwhile.
class RecordingHandler : public log::Handler {
public:
  std::vector<log::Record> records;
  void emit(const log::Record& record) override { records.push_back(record); }
};

class LogRecorder {
public:
  LogRecorder();
  ~LogRecorder();
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;
  /// The messages of `logger`'s records, in order.
  std::vector<std::string> messages(const std::string& logger) const;
  std::shared_ptr<RecordingHandler> handler = std::make_shared<RecordingHandler>();

private:
  int previousLevel_;
};

} // namespace quorvex::compilation_test
