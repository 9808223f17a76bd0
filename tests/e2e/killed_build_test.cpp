// A build killed by SIGKILL while gcc compiles a large module: within a moment nothing that the
// tool started, nor what those started (gcc's cc1, as, ld), runs on.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <signal.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace quorvex::e2e {
namespace {

std::string readAll(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

struct Running {
  pid_t pid;
  std::string name;
  std::string command;
};

// The running processes whose command line names `dir`, or whose working directory lies in it.
std::vector<Running> processesOf(const fs::path& dir) {
  std::vector<Running> found;
  const std::string mark = dir.string();
  std::error_code ec;
  // Processes end while they are listed: errors end the listing instead of throwing.
  for (auto it = fs::directory_iterator("/proc", ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = std::stoi(name);
    if (pid == ::getpid()) continue;
    std::string command = readAll(entry.path() / "cmdline");
    for (char& c : command)
      if (c == '\0') c = ' ';
    std::error_code cwdError;
    const fs::path cwd = fs::read_symlink(entry.path() / "cwd", cwdError);
    const bool inDir = !cwdError && cwd.string().starts_with(mark);
    if (command.find(mark) == std::string::npos && !inDir) continue;
    std::string comm = readAll(entry.path() / "comm");
    if (!comm.empty() && comm.back() == '\n') comm.pop_back();
    found.push_back({pid, comm, command});
  }
  return found;
}

// The pid of the tool that this test started: a process of the tool's executable, a child of
// this one (the shell that started it has become it).
std::optional<pid_t> toolProcess() {
  std::error_code ec;
  const fs::path executable = fs::canonical(tool(), ec);
  for (auto it = fs::directory_iterator("/proc", ec); !ec && it != fs::directory_iterator();
       it.increment(ec)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code linkError;
    if (fs::read_symlink(entry.path() / "exe", linkError) != executable) continue;
    std::istringstream stat(readAll(entry.path() / "stat"));
    std::string pid, comm, state;
    pid_t parent = 0;
    // The name in parentheses holds no space: it is the tool's.
    stat >> pid >> comm >> state >> parent;
    if (parent == ::getpid()) return std::stoi(pid);
  }
  return std::nullopt;
}

std::string listed(const std::vector<Running>& processes) {
  std::string text;
  for (const auto& process : processes)
    text += std::to_string(process.pid) + " " + process.name + ": " + process.command + "\n";
  return text;
}

// Functions that gcc optimises for a long while, and Cython translates quickly.
std::string largeModule() {
  std::string text = "import math\n\n";
  for (int i = 0; i < 400; ++i) {
    const std::string n = std::to_string(i);
    text += "def f" + n + "(a, b, c):\n"
            "    x = a * b + c - " + n + "\n"
            "    y = (x - a) // (b or 1) + c * 3\n"
            "    z = [x, y, a, b] * 2 + [math.floor(x / 7)]\n"
            "    for k in range(len(z)):\n"
            "        if z[k] % 3 == 0:\n"
            "            x += z[k] ** 2 - y\n"
            "        elif z[k] > a:\n"
            "            y -= min(z[k], c) * 5\n"
            "    return {'x': x, 'y': y, 'n': " + n + ", 's': str(x) + str(y)}\n\n";
  }
  text += "def main():\n    print(f1(1, 2, 3))\n";
  return text;
}

TEST(KilledBuild, NoCompilerOutlivesTheToolKilledBySigkill) {
  Project project("killed", {{"big.py", largeModule()}});
  Outcome outcome;
  std::atomic<bool> ended = false;
  std::thread builder([&] {
    outcome = project.build({"big", "big.py"});
    ended = true;
  });

  // The tool while gcc compiles the module: cc1 with the module's C file.
  std::optional<pid_t> toolPid;
  while (!toolPid && !ended) {
    std::this_thread::sleep_for(50ms);
    for (const auto& process : processesOf(project.dir()))
      if (process.name == "cc1" && process.command.find("big.c") != std::string::npos)
        toolPid = toolProcess();
  }
  if (!toolPid) {
    builder.join();
    FAIL() << "gcc was never seen compiling the module:\n" << outcome.all();
  }
  ASSERT_EQ(::kill(*toolPid, SIGKILL), 0);
  builder.join();
  EXPECT_EQ(outcome.status, 128 + SIGKILL) << outcome.all();

  std::vector<Running> left = processesOf(project.dir());
  for (auto deadline = std::chrono::steady_clock::now() + 3s;
       !left.empty() && std::chrono::steady_clock::now() < deadline;) {
    std::this_thread::sleep_for(50ms);
    left = processesOf(project.dir());
  }
  EXPECT_TRUE(left.empty()) << "still running after the tool was killed:\n" << listed(left);
  // What a failure leaves is not left running for the next tests.
  for (const auto& process : left) ::kill(process.pid, SIGKILL);
}

} // namespace
} // namespace quorvex::e2e
