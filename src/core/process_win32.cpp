#include "core/process.hpp"

#include <windows.h>

#include <fmt/format.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quorvex::process {

namespace {

// The children share the tool's console and get its Ctrl-C themselves. While a StopDeferral
// lives, the console's stop events are kept for the work in hand, where the handler (which
// runs on a thread of its own) can store them.
std::atomic<int> deferrals{0};
std::atomic<int> deferredStop{0};

int signalOf(DWORD event) {
  switch (event) {
  case CTRL_C_EVENT: return SIGINT;
  case CTRL_BREAK_EVENT: return SIGBREAK;
  default: return SIGTERM; // the console closes, the user logs off, the system shuts down
  }
}

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (deferrals.load() == 0) return FALSE; // the default: the tool ends
  int none = 0;
  deferredStop.compare_exchange_strong(none, signalOf(event));
  // The last deferral may have gone meanwhile, without seeing the event.
  if (deferrals.load() == 0) return FALSE;
  // After a close, log-off or shut-down the system ends the tool once this returns: the work in
  // hand gets the time the system allows to undo itself.
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    while (deferrals.load() > 0) Sleep(20);
  return TRUE;
}

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// One argument quoted by the rules that the Microsoft C runtime uses to split a command line.
std::string quoteArgument(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string quoted = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(backslashes * 2, '\\');
  return quoted + "\"";
}

std::string lastErrorText() {
  return std::system_category().message(static_cast<int>(GetLastError()));
}

// Every child runs in one job of the tool's, whose processes, with what they started in turn,
// end when its last handle closes: the system closes it when the tool ends, also by
// TerminateProcess. Where the system refuses the job, the children run on after a killed tool.
HANDLE childrenJob() {
  static const Handle job = [] {
    Handle made(CreateJobObjectA(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (made && !SetInformationJobObject(made.get(), JobObjectExtendedLimitInformation, &limits,
                                         sizeof limits))
      made.reset();
    return made;
  }();
  return job.get();
}

} // namespace

Result run(const std::vector<std::string>& argv, const Options& options) {
  if (argv.empty()) throw SpawnError("cannot run an empty command");
  std::string commandLine;
  for (const auto& word : argv) commandLine += (commandLine.empty() ? "" : " ") + quoteArgument(word);

  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readRaw = nullptr, writeRaw = nullptr, inReadRaw = nullptr, inWriteRaw = nullptr;
  if (options.captureOutput && !CreatePipe(&readRaw, &writeRaw, &inherit, 0))
    throw SpawnError("CreatePipe: " + lastErrorText());
  Handle readEnd(readRaw), writeEnd(writeRaw);
  if (options.input && !CreatePipe(&inReadRaw, &inWriteRaw, &inherit, 0))
    throw SpawnError("CreatePipe: " + lastErrorText());
  Handle inRead(inReadRaw), inWrite(inWriteRaw);
  if (readEnd) SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  if (inWrite) SetHandleInformation(inWrite.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead ? inRead.get() : GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd ? writeEnd.get() : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = writeEnd ? writeEnd.get() : GetStdHandle(STD_ERROR_HANDLE);
  // With a PATH of the child's own: the program is looked up along it and the child gets an
  // environment block with it, leaving the tool's environment alone.
  std::string application, block;
  if (options.path) {
    char found[MAX_PATH];
    if (SearchPathA(options.path->c_str(), argv[0].c_str(), ".exe", MAX_PATH, found, nullptr) == 0)
      throw SpawnError(fmt::format("cannot run '{}': {}", argv[0], lastErrorText()));
    application = found;
    LPCH strings = GetEnvironmentStringsA();
    for (LPCH entry = strings; entry && *entry; entry += std::strlen(entry) + 1)
      if (_strnicmp(entry, "PATH=", 5) != 0) block.append(entry).push_back('\0');
    if (strings) FreeEnvironmentStringsA(strings);
    block.append("PATH=" + *options.path).push_back('\0');
    block.push_back('\0');
  }
  PROCESS_INFORMATION info{};
  checkStop();
  if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), commandLine.data(),
                      nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                      block.empty() ? nullptr : block.data(), nullptr, &startup, &info))
    throw SpawnError(fmt::format("cannot run '{}': {}", argv[0], lastErrorText()));
  Handle process(info.hProcess), thread(info.hThread);
  // Into the job before it can start anything of its own.
  if (HANDLE job = childrenJob()) AssignProcessToJobObject(job, process.get());
  ResumeThread(thread.get());
  writeEnd.reset();
  inRead.reset();

  // Small inputs only: the child reads them while the output is drained below.
  if (inWrite) {
    DWORD written = 0;
    WriteFile(inWrite.get(), options.input->data(), static_cast<DWORD>(options.input->size()),
              &written, nullptr);
    inWrite.reset();
  }

  std::string output;
  if (readEnd) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &n, nullptr) && n > 0) {
      output.append(buffer, n);
      if (options.onOutput) options.onOutput(std::string_view(buffer, n));
    }
  }
  DWORD wait = options.timeout ? static_cast<DWORD>(options.timeout->count()) : INFINITE;
  if (WaitForSingleObject(process.get(), wait) == WAIT_TIMEOUT) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
    throw TimeoutError(fmt::format("Command '{}' timed out after {} seconds", commandLine,
                                   std::chrono::duration<double>(*options.timeout).count()),
                       std::move(output));
  }
  checkStop();
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  Result result;
  result.exitCode = static_cast<int>(code);
  result.output = std::move(output);
  return result;
}

StopDeferral::StopDeferral() {
  if (deferrals.fetch_add(1) == 0) SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopDeferral::~StopDeferral() {
  if (deferrals.fetch_sub(1) != 1) return;
  SetConsoleCtrlHandler(onConsoleEvent, FALSE);
  if (const int signal = deferredStop.exchange(0)) std::_Exit(128 + signal);
}

int stopRequested() { return deferredStop.load(); }

} // namespace quorvex::process
