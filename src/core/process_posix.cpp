#include "core/fd.hpp"
#include "core/process.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif
#include <thread>
#include <unistd.h>

extern char** environ;

namespace quorvex::process {

namespace {

using Clock = std::chrono::steady_clock;
using fd::UniqueFd;

std::string errnoText(int err) { return std::strerror(err); }

struct Pipe {
  UniqueFd read, write;
};

// Close-on-exec, so that only the descriptors put into place reach the child; made so at once
// where the system can, so that a child forked meanwhile on another thread holds no copy.
Pipe makePipe() {
  int fds[2];
#if defined(__linux__)
  if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
#else
  if (::pipe(fds) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
  Pipe result{UniqueFd(fds[0]), UniqueFd(fds[1])};
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
  return result;
#endif
}

// Every child leads a process group of its own, which holds whatever it starts in turn (a
// compiler driver's cc1, as, ld). When the tool is told to stop, it stops those groups and then
// dies by the same signal, so no compiler goes on writing into the build directory; while a
// StopDeferral lives, it keeps the signal for the work in hand instead. The groups of the
// running children, the number of live deferrals and the signal kept are where the signal
// handler can read them.
constexpr int stopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
std::array<std::atomic<pid_t>, 256> runningGroups{};
std::atomic<int> deferrals{0};
std::atomic<int> deferredStop{0};

sigset_t stopSet() {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal : stopSignals) sigaddset(&stops, signal);
  return stops;
}

// Async-signal-safe: the default action back, then the signal raised.
void raiseByDefault(int signal) {
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  sigemptyset(&byDefault.sa_mask);
  ::sigaction(signal, &byDefault, nullptr);
  ::raise(signal);
}

extern "C" void onStopSignal(int signal) {
  for (auto& group : runningGroups) {
    pid_t pgid = group.load();
    if (pgid <= 0) continue;
    ::kill(-pgid, SIGTERM);
    ::kill(-pgid, SIGCONT);
  }
  if (deferrals.load() > 0) {
    int none = 0;
    deferredStop.compare_exchange_strong(none, signal);
    // The last deferral may have gone meanwhile, without seeing the signal.
    if (deferrals.load() > 0) return;
  }
  // The signal is held back while its handler runs: it kills the tool as soon as this returns.
  raiseByDefault(signal);
}

// Only signals left at their default: one the tool's caller ignores (nohup) stays ignored.
void installStopHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int signal : stopSignals) {
      struct sigaction current {};
      if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
      struct sigaction action {};
      action.sa_handler = onStopSignal;
      sigemptyset(&action.sa_mask);
      // A deferred stop returns from the handler: a file copy or a wait under way goes on, and
      // the work learns of the stop where it checks.
      action.sa_flags = SA_RESTART;
      ::sigaction(signal, &action, nullptr);
    }
  });
}

// Writes to a pipe whose reader may be gone without letting SIGPIPE end the tool.
ssize_t writeNoSigpipe(int fd, const char* data, size_t size) {
  sigset_t pipeSet, previous;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSet, &previous);
  ssize_t written = ::write(fd, data, size);
  int err = errno;
  if (written < 0 && err == EPIPE) {
    struct timespec zero {};
    while (sigtimedwait(&pipeSet, nullptr, &zero) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  errno = err;
  return written;
}

// A tool killed by SIGKILL stops nothing itself, and what a child started (a compiler driver's
// cc1, as, ld) would run on. So a guardian, forked once, outlives the tool just long enough to
// stop those groups. The tool holds the only write end of a pipe to it: each child writes its
// group there before it runs its program, while the pipe is surely open, and the tool writes
// the group negated once it has reaped the child. The pipe's end, however the tool ended, tells
// the guardian to stop the groups still listed: SIGTERM, which lets a compiler remove its
// temporary files, then SIGKILL for what still runs a moment later.
std::atomic<int> guardianPipe{-1};

void sleepMilliseconds(long milliseconds) {
  struct timespec pause {0, milliseconds * 1000000L};
  while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

// Runs in a fork of a threaded process: async-signal-safe calls only, and no allocation.
[[noreturn]] void guardGroups(int reader, int maxFd) {
  // Its own group, so that a signal to the tool's group (Ctrl-C, a job's kill) leaves the
  // guardian to finish; it ends by itself when the tool is gone.
  ::setpgid(0, 0);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(signal, &ignore, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  // Nothing of the tool's is held open: a child's output pipe or the tool's own standard output
  // must see its end when their writers end, not when the guardian does.
  ::dup2(reader, 0);
#if defined(__linux__) && defined(SYS_close_range)
  if (::syscall(SYS_close_range, 1U, ~0U, 0U) != 0)
#endif
    for (int fd = 1; fd < maxFd; ++fd) ::close(fd);
  ::open("/dev/null", O_WRONLY);
  ::open("/dev/null", O_WRONLY);
  if (::chdir("/") != 0) {
  }

  constexpr int capacity = 4096;
  pid_t groups[capacity];
  int count = 0;
  pid_t messages[256];
  for (;;) {
    ssize_t n = ::read(0, messages, sizeof messages);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    // Every message is written whole, and the pipe passes it whole.
    for (ssize_t i = 0; i < n / static_cast<ssize_t>(sizeof(pid_t)); ++i) {
      const pid_t message = messages[i];
      if (message > 0 && count < capacity) {
        groups[count++] = message;
      } else if (message < 0) {
        for (int k = 0; k < count; ++k)
          if (groups[k] == -message) {
            groups[k] = groups[--count];
            break;
          }
      }
    }
  }
  for (int k = 0; k < count; ++k) {
    ::kill(-groups[k], SIGTERM);
    ::kill(-groups[k], SIGCONT);
  }
  for (int tries = 0; tries < 40; ++tries) {
    bool running = false;
    for (int k = 0; k < count && !running; ++k) running = ::kill(-groups[k], 0) == 0;
    if (!running) ::_exit(0);
    sleepMilliseconds(25);
  }
  for (int k = 0; k < count; ++k) ::kill(-groups[k], SIGKILL);
  ::_exit(0);
}

// Started before the tool's first child; without it (fork failed) the children run as before.
void startGuardian() {
  static std::once_flag once;
  std::call_once(once, [] {
    int fds[2];
#if defined(__linux__)
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
#else
    if (::pipe(fds) != 0) return;
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
#endif
    const long openMax = ::sysconf(_SC_OPEN_MAX);
    const int maxFd = openMax > 0 && openMax < 65536 ? static_cast<int>(openMax) : 65536;
    pid_t pid = ::fork();
    if (pid == 0) guardGroups(fds[0], maxFd);
    ::close(fds[0]);
    if (pid < 0) {
      ::close(fds[1]);
      return;
    }
    // Never closed: the guardian learns of the tool's end by the end of this pipe.
    guardianPipe.store(fds[1]);
  });
}

// A running child's group, listed from its start (stop signals held back meanwhile) until it
// has been reaped, when the guardian learns that it is gone.
class RunningGroup {
public:
  void add(pid_t pgid) {
    pgid_ = pgid;
    for (auto& group : runningGroups) {
      pid_t free = 0;
      if (group.compare_exchange_strong(free, pgid)) {
        slot_ = &group;
        return;
      }
    }
  }
  ~RunningGroup() {
    if (slot_) slot_->store(0);
    const int guardian = guardianPipe.load();
    if (pgid_ > 0 && guardian >= 0) {
      const pid_t ended = -pgid_;
      while (writeNoSigpipe(guardian, reinterpret_cast<const char*>(&ended), sizeof ended) < 0 &&
             errno == EINTR) {
      }
    }
  }

private:
  std::atomic<pid_t>* slot_ = nullptr;
  pid_t pgid_ = 0;
};

// Waits for the child; with a deadline, gives up (nullopt) once it has passed.
std::optional<int> waitChild(pid_t pid, std::optional<Clock::time_point> deadline) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    int status = 0;
    pid_t got = ::waitpid(pid, &status, deadline ? WNOHANG : 0);
    if (got == pid) return status;
    if (got < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "waitpid");
    }
    if (Clock::now() >= *deadline) return std::nullopt;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

void killAndReap(pid_t pid) {
  ::kill(-pid, SIGKILL);
  waitChild(pid, std::nullopt);
}

// After a deferred stop, whose handler told the child's group to stop: the child is reaped,
// killed when it is still running two seconds later, and the stop thrown.
[[noreturn]] void throwStopped(pid_t pid, std::optional<int> status = std::nullopt) {
  if (!status && !waitChild(pid, Clock::now() + std::chrono::seconds(2))) killAndReap(pid);
  throw Stopped(deferredStop.load());
}

Result toResult(int status, std::string output) {
  Result result;
  result.output = std::move(output);
  if (WIFSIGNALED(status))
    result.signal = WTERMSIG(status);
  else if (WIFEXITED(status))
    result.exitCode = WEXITSTATUS(status);
  return result;
}

std::string commandText(const std::vector<std::string>& argv) {
  std::string text;
  for (const auto& word : argv) {
    if (!text.empty()) text += ' ';
    text += word;
  }
  return text;
}

// The environment with PATH replaced by `path`.
std::vector<std::string> environmentWithPath(const std::string& path) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry)
    if (std::strncmp(*entry, "PATH=", 5) != 0) entries.emplace_back(*entry);
  entries.push_back("PATH=" + path);
  return entries;
}

// The PATH along which a program is looked up: the child's own, else the tool's; an unset PATH
// means the system's default list, as the C library's own search takes it.
std::string searchPath(const Options& options) {
  if (options.path) return *options.path;
  if (const char* inherited = std::getenv("PATH")) return inherited;
  std::string fallback(::confstr(_CS_PATH, nullptr, 0), '\0');
  if (!fallback.empty()) ::confstr(_CS_PATH, fallback.data(), fallback.size());
  while (!fallback.empty() && fallback.back() == '\0') fallback.pop_back();
  return fallback;
}

bool isExecutableFile(const std::string& candidate) {
  struct stat status {};
  return ::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         ::access(candidate.c_str(), X_OK) == 0;
}

// The file that runs for `program`: a name with a slash as it is, otherwise the first
// executable file of that name in an absolute directory of `path`. An empty entry, or a
// relative one, would mean the working directory, where a project could plant a compiler.
std::optional<std::string> lookUp(const std::string& program, const std::string& path) {
  if (program.find('/') != std::string::npos) return program;
  if (program.empty()) return std::nullopt;
  for (size_t start = 0; start <= path.size();) {
    size_t end = std::min(path.find(':', start), path.size());
    std::string dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir.front() != '/') continue;
    std::string candidate = dir + (dir.back() == '/' ? "" : "/") + program;
    if (isExecutableFile(candidate)) return candidate;
  }
  return std::nullopt;
}

// Everything the child needs between fork and exec, made before the fork: the child may call
// only async-signal-safe functions, as another thread of the tool may hold the allocator's lock.
struct ChildPlan {
  const char* program;
  char* const* argv;
  char* const* envp;
  int input = -1;    // becomes descriptor 0 when set
  int output = -1;   // becomes descriptors 1 and 2 when set
  pid_t parent;      // the tool, as it was before the fork
  int guardian;      // the guardian's pipe, -1 without one
  sigset_t mask;     // the signal mask the program starts with
  int errorReport;   // the child writes errno here when it cannot start the program
};

void placeDescriptor(int from, int to) {
  if (from == to)
    ::fcntl(to, F_SETFD, ::fcntl(to, F_GETFD) & ~FD_CLOEXEC);
  else
    ::dup2(from, to);
}

// The child's own group to the guardian, before anything can start in it. A guardian that is
// gone must not end the child by SIGPIPE.
void tellGuardian(int guardian) {
  if (guardian < 0) return;
  struct sigaction ignore {}, previous {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGPIPE, &ignore, &previous);
  const pid_t group = ::getpid();
  while (::write(guardian, &group, sizeof group) < 0 && errno == EINTR) {
  }
  ::sigaction(SIGPIPE, &previous, nullptr);
}

[[noreturn]] void startChild(const ChildPlan& plan) {
  ::setpgid(0, 0);
  tellGuardian(plan.guardian);
  // The tool's stop handler must not run in the child before the exec.
  for (int signal : stopSignals) {
    struct sigaction current {};
    if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      struct sigaction byDefault {};
      byDefault.sa_handler = SIG_DFL;
      sigemptyset(&byDefault.sa_mask);
      ::sigaction(signal, &byDefault, nullptr);
    }
  }
#if defined(__linux__)
  // A compiler or interpreter must not run on once the tool is gone, even when the tool was
  // killed by SIGKILL and could stop nothing. A tool that died before this call has already
  // given its child to another parent: then the child ends at once.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != plan.parent) ::_exit(127);
#endif
  if (plan.input >= 0) placeDescriptor(plan.input, 0);
  if (plan.output >= 0) {
    placeDescriptor(plan.output, 1);
    placeDescriptor(plan.output, 2);
  }
  ::sigprocmask(SIG_SETMASK, &plan.mask, nullptr);
  ::execve(plan.program, plan.argv, plan.envp);
  int err = errno;
  while (::write(plan.errorReport, &err, sizeof err) < 0 && errno == EINTR) {
  }
  ::_exit(127);
}

// The errno that the child reported, or 0 once the program runs (the report's descriptor
// closes on exec, so the read sees its end).
int startFailure(int errorReport) {
  int err = 0;
  ssize_t n;
  while ((n = ::read(errorReport, &err, sizeof err)) < 0 && errno == EINTR) {
  }
  return n == static_cast<ssize_t>(sizeof err) ? err : 0;
}

} // namespace

Result run(const std::vector<std::string>& argv, const Options& options) {
  if (argv.empty()) throw SpawnError("cannot run an empty command");

  std::optional<Clock::time_point> deadline;
  if (options.timeout) deadline = Clock::now() + *options.timeout;

  std::optional<Pipe> out, in;
  if (options.input) in = makePipe();
  if (options.captureOutput) out = makePipe();

  std::vector<char*> args;
  for (const auto& word : argv) args.push_back(const_cast<char*>(word.c_str()));
  args.push_back(nullptr);

  std::optional<std::string> program = lookUp(argv[0], searchPath(options));
  if (!program) throw SpawnError(fmt::format("cannot run '{}': {}", argv[0], errnoText(ENOENT)));
  std::vector<std::string> ownEnvironment;
  std::vector<char*> envp;
  if (options.path) {
    ownEnvironment = environmentWithPath(*options.path);
    for (auto& entry : ownEnvironment) envp.push_back(entry.data());
    envp.push_back(nullptr);
  }

  installStopHandlers();
  startGuardian();
  const sigset_t stops = stopSet();
  Pipe report = makePipe();
  ChildPlan plan{.program = program->c_str(),
                 .argv = args.data(),
                 .envp = options.path ? envp.data() : environ,
                 .input = in ? in->read.get() : -1,
                 .output = out ? out->write.get() : -1,
                 .parent = ::getpid(),
                 .guardian = guardianPipe.load(),
                 .mask = {},
                 .errorReport = report.write.get()};

  RunningGroup running;
  pthread_sigmask(SIG_BLOCK, &stops, &plan.mask);
  // A stop kept before this point found no group of this child to stop: it does not start.
  if (const int signal = deferredStop.load()) {
    pthread_sigmask(SIG_SETMASK, &plan.mask, nullptr);
    throw Stopped(signal);
  }
  pid_t pid = ::fork();
  if (pid == 0) startChild(plan);
  int forkErr = errno;
  if (pid > 0) {
    // Also here, so that the group exists before a stop signal can be let through.
    ::setpgid(pid, pid);
    running.add(pid);
  }
  pthread_sigmask(SIG_SETMASK, &plan.mask, nullptr);
  if (pid < 0) throw SpawnError(fmt::format("cannot run '{}': {}", argv[0], errnoText(forkErr)));
  report.write.reset();
  if (int err = startFailure(report.read.get())) {
    waitChild(pid, std::nullopt);
    throw SpawnError(fmt::format("cannot run '{}': {}", argv[0], errnoText(err)));
  }

  // The parent keeps only its own ends, so end of file comes when the child closes its copies.
  if (out) out->write.reset();
  if (in) in->read.reset();

  std::string output;
  std::string_view pending = options.input ? std::string_view(*options.input) : std::string_view();
  if (in) {
    ::fcntl(in->write.get(), F_SETFL, ::fcntl(in->write.get(), F_GETFL) | O_NONBLOCK);
    if (pending.empty()) in->write.reset();
  }

  auto timedOut = [&] {
    // Keep what is already in the pipe, but do not wait for descendants that still hold it.
    if (out) {
      ::fcntl(out->read.get(), F_SETFL, ::fcntl(out->read.get(), F_GETFL) | O_NONBLOCK);
      char buffer[65536];
      ssize_t n;
      while ((n = ::read(out->read.get(), buffer, sizeof buffer)) > 0) output.append(buffer, n);
    }
    killAndReap(pid);
    return TimeoutError(fmt::format("Command '{}' timed out after {} seconds", commandText(argv),
                                    std::chrono::duration<double>(*options.timeout).count()),
                        std::move(output));
  };

  while ((out && out->read) || (in && in->write)) {
    if (deferredStop.load()) throwStopped(pid);
    pollfd fds[2];
    nfds_t count = 0;
    int outIndex = -1, inIndex = -1;
    if (out && out->read) {
      outIndex = static_cast<int>(count);
      fds[count++] = {out->read.get(), POLLIN, 0};
    }
    if (in && in->write) {
      inIndex = static_cast<int>(count);
      fds[count++] = {in->write.get(), POLLOUT, 0};
    }
    int waitMs = -1;
    if (deadline) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now());
      if (left.count() <= 0) throw timedOut();
      waitMs = static_cast<int>(std::min<long long>(left.count() + 1, 1 << 30));
    }
    int ready = ::poll(fds, count, waitMs);
    if (ready < 0) {
      if (errno == EINTR) continue;
      int pollErr = errno;
      killAndReap(pid);
      throw std::system_error(pollErr, std::generic_category(), "poll");
    }
    if (ready == 0) continue;
    if (outIndex >= 0 && fds[outIndex].revents) {
      char buffer[65536];
      ssize_t n = ::read(out->read.get(), buffer, sizeof buffer);
      if (n > 0) {
        output.append(buffer, static_cast<size_t>(n));
        if (options.onOutput) options.onOutput(std::string_view(buffer, static_cast<size_t>(n)));
      } else if (n == 0 || errno != EINTR)
        out->read.reset();
    }
    if (inIndex >= 0 && fds[inIndex].revents) {
      ssize_t n = writeNoSigpipe(in->write.get(), pending.data(), pending.size());
      if (n > 0) pending.remove_prefix(static_cast<size_t>(n));
      // A child that stops reading early simply does not get the rest of its input.
      if (pending.empty() || (n < 0 && errno != EAGAIN && errno != EINTR)) in->write.reset();
    }
  }

  std::optional<int> status = waitChild(pid, deadline);
  // Also a child that finished: the work it was part of is being undone.
  if (deferredStop.load()) throwStopped(pid, status);
  if (!status) throw timedOut();
  return toResult(*status, std::move(output));
}

StopDeferral::StopDeferral() {
  installStopHandlers();
  deferrals.fetch_add(1);
}

StopDeferral::~StopDeferral() {
  const sigset_t stops = stopSet();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &stops, &previous);
  const int signal = deferrals.fetch_sub(1) == 1 ? deferredStop.exchange(0) : 0;
  if (signal == 0) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return;
  }
  raiseByDefault(signal);
  // Held back until now; delivered, it ends the tool.
  pthread_sigmask(SIG_UNBLOCK, &stops, nullptr);
  ::_exit(128 + signal);
}

int stopRequested() { return deferredStop.load(); }

} // namespace quorvex::process
