// What a build never does, however it ends: write into the source tree, leave an earlier or
// broken product as its result, mix its files with a build running beside it, or leave its
// compilers running once the tool was told to stop or was killed.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace quorvex::e2e {
namespace {

// The command lines of the processes other than `except` whose working directory is `dir`:
// whatever a build started there.
std::vector<std::string> workingIn(const fs::path& dir, pid_t except) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::error_code error;
    const std::string name = entry.path().filename().string();
    if (name == std::to_string(except) || fs::read_symlink(entry.path() / "cwd", error) != dir)
      continue;
    std::string line;
    try {
      std::ifstream in(entry.path() / "cmdline");
      line.assign(std::istreambuf_iterator<char>(in), {});
    } catch (const std::ios_base::failure&) {
      continue; // the process ended while its command line was read
    }
    std::replace(line.begin(), line.end(), '\0', ' ');
    if (!line.empty()) found.push_back(line);
  }
  return found;
}

// `quorvex build` started in the project without waiting for it; its output goes to a log.
class Started {
public:
  Started(const Project& project, const std::vector<std::string>& args)
      : dir_(project.dir()), log_(scratch("logs") / std::to_string(++count_)) {
    std::vector<std::string> words = {"/bin/sh", "-c",
                                      "cd \"$1\" && shift && exec \"$@\" >\"$0\" 2>&1",
                                      log_.string(), dir_.string(), tool().string(), "build"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    EXPECT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ), 0);
  }
  ~Started() { wait(); }
  /// Waits until `ready()` holds, checking every other millisecond; false when the build ended
  /// first (it is then reaped) or `limit` passed.
  template <typename Ready> bool await(Ready ready, std::chrono::milliseconds limit = 5min) {
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(2ms)) {
      if (ready())
        return true;
      if (::waitpid(pid, &status_, WNOHANG) == pid) {
        pid = 0;
        return false;
      }
    }
    return false;
  }
  /// Waits until a process the build started has `marker` in its command line.
  bool awaitChild(const std::string& marker) {
    return await([&] {
      const auto lines = workingIn(dir_, pid);
      return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find(marker) != std::string::npos;
      });
    });
  }
  /// The wait status of the tool.
  int wait() {
    if (pid > 0 && ::waitpid(pid, &status_, 0) == pid) pid = 0;
    return status_;
  }
  std::string log() { return wait(), testing::readFile(log_); }
  pid_t pid = 0;

private:
  fs::path dir_, log_;
  int status_ = -1;
  static inline int count_ = 0;
};

// Nothing left running in `dir` within `limit`.
bool settles(const fs::path& dir, std::chrono::milliseconds limit) {
  for (auto end = std::chrono::steady_clock::now() + limit; !workingIn(dir, 0).empty();
       std::this_thread::sleep_for(10ms))
    if (std::chrono::steady_clock::now() > end) return false;
  return true;
}

TEST(Files, SourceTreeAndProductsSurviveEveryEndOfALibraryBuild) {
  Project project("files", {{"units.py", "def cm(value):\n    return value / 2.54\n"},
                            {"shapes.py", "import units\n\ndef main():\n    print(units.cm(1))\n"},
                            // Stubbed for a library: there is no bootstrap to cimport from.
                            {"units.pxd", "from _qvx_bootstrap cimport qvx_hook\n"},
                            // The user's own file under the name of the generated declarations.
                            {"_qvx_bootstrap.pxd", "cdef object mine\n"}});
  const auto before = sourceTree(project.dir());
  const std::vector<std::string> library = {"--library", "shapes", "shapes.py", "units.py"};
  const Outcome built = project.build(library);
  ASSERT_EQ(built.status, 0) << built.all();
  fs::path product;
  for (const auto& entry : fs::directory_iterator(project.buildDir()))
    if (entry.path().extension() == ".so") product = entry.path();
  const std::string good = testing::readFile(product);

  // Killed during a Cython batch, during the link, and early: the tree is as it was, and the
  // product is the earlier one whole or none, never a truncated one.
  for (const std::string marker : {"--output-file", "gcc -shared", ""}) {
    SCOPED_TRACE("killed at " + marker);
    Started build(project, library);
    if (marker.empty()) std::this_thread::sleep_for(300ms);
    else build.awaitChild(marker); // a quick link may be missed: then the build just ends
    if (build.pid > 0)
      ::kill(build.pid, SIGKILL); // pid 0 once reaped: never the group
    build.wait();
    // The tool's children die with it; what a compiler driver started ends on its own.
    ASSERT_TRUE(settles(project.dir(), 10s));
    EXPECT_EQ(sourceTree(project.dir()), before);
    if (fs::exists(product)) {
      EXPECT_TRUE(testing::readFile(product) == good);
    }
  }

  const Outcome named = project.build({"--exe", "../shapes.py", "shapes", "shapes.py"});
  EXPECT_EQ(named.status, 2) << named.all();
  EXPECT_NE(named.err.find("argument --exe: '../shapes.py' is not a file name"), std::string::npos);
  EXPECT_EQ(project.build(library).status, 0);
  EXPECT_EQ(sourceTree(project.dir()), before);

  testing::writeFile(project.dir() / "units.py", "def cm(value:\n");
  EXPECT_EQ(project.build(library).status, 1);
  EXPECT_FALSE(fs::exists(product)) << "a failed build leaves no earlier product as its result";
}

// Neither gone nor a zombie.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(") ") == std::string::npos) return false;
  const char state = line[line.rfind(") ") + 2];
  return state != 'Z' && state != 'X';
}

// A build back-end that writes its pid to the file the test names, then never finishes: a
// stop certainly comes while uv installs.
constexpr const char* hangingBackend = R"(import os, time

def build_wheel(directory, config_settings=None, metadata_directory=None):
    started = os.environ["QVX_TEST_BACKEND_STARTED"]
    with open(started + ".tmp", "w") as out:
        out.write(str(os.getpid()))
    os.rename(started + ".tmp", started)
    time.sleep(120)
)";

// Told to stop while --embed copies the Python over an earlier embedded directory, and while uv
// installs a dependency: the tool removes the directory it was making, leaves nothing running and
// ends by the signal.
TEST(Files, AStopWhileEmbeddingLeavesNoDirectoryBehind) {
  const fs::path started = scratch("hang") / "started";
  ::setenv("QVX_TEST_BACKEND_STARTED", started.c_str(), 1);
  const Project dependency("hangdep", {{"pyproject.toml", "[project]\nname = \"hangdep\"\n"
                                                          "version = \"1.0\"\n[build-system]\n"
                                                          "requires = []\nbuild-backend = "
                                                          "\"backend\"\nbackend-path = [\".\"]\n"},
                                        {"backend.py", hangingBackend}});
  Project project("embed-stop",
                  {{"app.py", "import hangdep\n\ndef main():\n    print(hangdep)\n"},
                   {"pyproject.toml", "[project]\nname = \"stopapp\"\nversion = \"1.0\"\n"
                                      "dependencies = [\"hangdep\"]\n\n[tool.uv.sources]\n"
                                      "hangdep = { path = \"../hangdep\" }\n"}});
  ASSERT_EQ(project.build({"app", "app.py"}).status, 0); // the pristine Python, once
  const fs::path target = scratch("stopped") / "app";
  // Sends `signal` to an embedding build once `ready`; returns the build's log.
  const auto stopWhen = [&](int signal, const std::function<bool()>& ready) {
    Started build(project, {"--embed", target.string(), "app", "app.py"});
    if (!build.await(ready, 2min)) {
      ADD_FAILURE() << "the build ended, or was not ready in two minutes";
      if (build.pid > 0)
        ::kill(build.pid, SIGKILL);
      return build.log();
    }
    ::kill(build.pid, signal);
    const int status = build.wait();
    const std::string log = build.log();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status << log;
    EXPECT_FALSE(fs::exists(fs::symlink_status(target))) << log;
    EXPECT_NE(log.find("Stopped by signal " + std::to_string(signal) +
                       ": removed the unfinished embedded directory " + target.string()),
              std::string::npos)
        << log;
    return log;
  };

  testing::writeFile(target / ".quorvex-embedded", "an earlier run's\n");
  // Once the earlier directory is gone and the copy into the new one (marker first) has begun.
  const std::string copying = stopWhen(SIGTERM, [&] {
    std::error_code ignored;
    return std::distance(fs::directory_iterator(target, ignored), fs::directory_iterator()) > 1;
  });
  // The dependencies were resolved before compiling; the installing of them comes after the
  // copy.
  EXPECT_LT(copying.find("Exporting the project's requirements"), copying.find("Compiling"));
  EXPECT_EQ(copying.find("Installing the requirements into"), std::string::npos)
      << "the signal came after the copy";

  const std::string installing = stopWhen(SIGINT, [&] { return fs::exists(started); });
  EXPECT_NE(installing.find("Installing the requirements into"), std::string::npos);
  const pid_t backend = std::stoi(testing::readFile(started));
  for (int i = 0; i < 500 && alive(backend); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(alive(backend)) << "uv's build back-end outlived the tool by five seconds";
  EXPECT_TRUE(settles(project.dir(), 5s)) << "uv outlived the tool";
}

TEST(Concurrency, BuildsInOneDirectoryTakeTurnsAndSignalsStopTheCompilers) {
  Project project("concurrent", {{"app.py", "import util\n\ndef main():\n    print(util.word())\n"},
                                 {"util.py", "def word():\n    return 'together'\n"}});
  ASSERT_EQ(project.build({"app", "*.py"}).status, 0);
  {
    Started program(project, {"app", "*.py"});
    ASSERT_TRUE(program.awaitChild("_qvx_cython.py"));
    Started library(project, {"--library", "app", "*.py"});
    EXPECT_EQ(program.wait(), 0) << program.log();
    EXPECT_EQ(library.wait(), 0) << library.log();
    EXPECT_NE(library.log().find("Waiting for another build in .quorvex_build to finish"),
              std::string::npos)
        << library.log();
    EXPECT_EQ(run({(project.buildDir() / "app").string()}, project.dir()).out, "together\n");
  }
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(strsignal(signal));
    Started build(project, {"app", "*.py"});
    ASSERT_TRUE(build.awaitChild("_qvx_cython.py"));
    ::kill(build.pid, signal);
    const int status = build.wait();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    EXPECT_TRUE(settles(project.dir(), 300ms)) << "a compiler outlived the tool";
  }
}

TEST(Concurrency, BuildsInTwoDirectoriesAndAFailingCompileAmongMany) {
  std::map<std::string, std::string> files = {
      {"app.py", "import m0\n\ndef main():\n    print(m0.total())\n"}};
  for (int i = 0; i < 12; ++i)
    files["m" + std::to_string(i) + ".py"] =
        (i < 11 ? "import m" + std::to_string(i + 1) + "\n" : std::string()) +
        "def total():\n    return " + std::to_string(i) +
        (i < 11 ? " + m" + std::to_string(i + 1) + ".total()\n" : "\n");
  Project first("parallel-a", files), second("parallel-b", files);

  // Valid Python whose C does not compile: the error names the file and shows the compiler's
  // own message without --verbose, no object of it is left, no product stands as the result
  // and no compiler is left running.
  const fs::path pxd = first.dir() / "m5.pxd";
  testing::writeFile(pxd, "cdef extern from *:\n    \"\"\"\n    #error deliberately broken\n"
                          "    \"\"\"\n");
  const Outcome failed = first.build({"app", "*.py"});
  EXPECT_EQ(failed.status, 1) << failed.all();
  EXPECT_NE(failed.err.find("-c .quorvex_build/m5.c -o"), std::string::npos) << failed.all();
  EXPECT_NE(failed.err.find("failed with exit code 1"), std::string::npos) << failed.all();
  const auto shown = failed.out.find("ERROR compiler: Compiling .quorvex_build/m5.c failed:\n  ");
  EXPECT_NE(shown, std::string::npos) << failed.all();
  EXPECT_NE(failed.out.find("error: #error deliberately broken", shown), std::string::npos)
      << failed.all();
  EXPECT_FALSE(fs::exists(first.buildDir() / "m5.o"));
  EXPECT_FALSE(fs::exists(first.buildDir() / "app"));
  EXPECT_TRUE(settles(first.dir(), 300ms));
  const Outcome verbose = run({tool().string(), "--verbose", "build", "app", "*.py"}, first.dir());
  EXPECT_NE(verbose.all().find("#error deliberately broken"), std::string::npos) << verbose.all();

  fs::remove(pxd);
  copyTree(first.buildDir() / "python", second.buildDir() / "python");
  {
    Started a(first, {"app", "*.py"}), b(second, {"app", "*.py"});
    EXPECT_EQ(a.wait(), 0) << a.log();
    EXPECT_EQ(b.wait(), 0) << b.log();
    EXPECT_NE(a.log().find("[15/15] compiled"), std::string::npos) << a.log();
  }
  for (const Project* project : {&first, &second})
    EXPECT_EQ(run({(project->buildDir() / "app").string()}, project->dir()).out, "66\n");
}

} // namespace
} // namespace quorvex::e2e
