#pragma once
// Test doubles: a plug-in answering the hooks with values the test sets, a recording compiler,
// a command runner that records Cython command lines and plays Cython on disk, a log recorder.

#include "core/ccompiler.hpp"
#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/tempdir.hpp"

#include <algorithm>
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
  std::string chatter; ///< printed on standard output during each compile
  std::string failOn;  ///< a compile of a source whose name holds this text fails
};

class FakeCCompiler : public ccompiler::CCompiler {
public:
  explicit FakeCCompiler(CompilerLog& log) : log_(log) { obj_extension = ".o"; }
  std::string compiler_type() const override { return "unix"; }
  std::vector<std::string> compile(const std::vector<std::string>& sources,
                                   const ccompiler::CompileArgs& args) override {
    log_.compiles.push_back(sources);
    if (auto* sink = output_sink()) {
      *sink += log_.chatter;
    } else if (!log_.chatter.empty()) {
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
    std::ofstream(std::filesystem::path(*args.output_dir) / name) << "library";
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
  plugin::CompileBasics basics{.objSuffix = ".o", .exeSuffix = ""};
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
  // The recording doubles are not made for threads: the steps run one at a time, in order.
  utils::withEnv serial{"QUORVEX_JOBS", "1"};
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

  CythonRecorder()
      : guard_([this](const std::vector<std::string>& argv, std::chrono::milliseconds) {
          return play(argv);
        }) {}

private:
  process::Result play(const std::vector<std::string>& argv) {
    namespace fs = std::filesystem;
    using quorvex::testing::writeFile;
    std::vector<std::string> args(argv.begin() + 1, argv.end());
    runs.push_back(args);
    auto at = [&](const std::string& flag) { return std::find(args.begin(), args.end(), flag); };
    if (auto shared = at("--generate-shared"); shared != args.end()) {
      writeFile(*(shared + 1), "/* shared */\n");
    } else if (at("--embed") != args.end()) {
      if (writeEmbedOutput) writeFile(fs::path(args.back()).replace_extension(".c"), embedText);
    } else if (auto out = at("--output-file"); out != args.end()) {
      // What Cython names after the module: its init function and its "is main" flag.
      std::string stem = fs::path(args.back()).stem().string();
      writeFile(*(out + 1), "PyObject* PyInit_" + stem + "(void);\nint __pyx_module_is_main_" +
                                stem + " = 0;\n");
    }
    return {};
  }
  utils::CommandRunnerOverride guard_;
};

/// Keeps every record that reaches the root logger while it lives, at level DEBUG meanwhile.
class LogRecorder : public log::Handler {
public:
  LogRecorder() : handler_(std::shared_ptr<LogRecorder>(this, [](LogRecorder*) {})) {
    log::addHandler(handler_);
    log::root().level = log::DEBUG;
  }
  ~LogRecorder() override {
    log::removeHandler(handler_);
    log::root().level = previousLevel_;
  }
  LogRecorder(const LogRecorder&) = delete;
  LogRecorder& operator=(const LogRecorder&) = delete;
  void emit(const log::Record& record) override { records_.push_back(record); }
  /// The messages of `logger`'s records, in order.
  std::vector<std::string> messages(const std::string& logger) const {
    std::vector<std::string> out;
    for (const auto& record : records_)
      if (record.name == logger) out.push_back(record.msg);
    return out;
  }

private:
  int previousLevel_ = log::root().level;
  std::shared_ptr<log::Handler> handler_;
  std::vector<log::Record> records_;
};

} // namespace quorvex::compilation_test
