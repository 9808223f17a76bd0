#include "core/process.hpp"

#include <windows.h>

#include <fmt/format.h>

#include <memory>

namespace quorvex::process {

namespace {

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
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info))
    throw SpawnError(fmt::format("cannot run '{}': {}", argv[0], lastErrorText()));
  Handle process(info.hProcess), thread(info.hThread);
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
    while (ReadFile(readEnd.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
      output.append(buffer, n);
  }
  DWORD wait = options.timeout ? static_cast<DWORD>(options.timeout->count()) : INFINITE;
  if (WaitForSingleObject(process.get(), wait) == WAIT_TIMEOUT) {
    TerminateProcess(process.get(), 1);
    WaitForSingleObject(process.get(), INFINITE);
    throw TimeoutError(fmt::format("Command '{}' timed out after {} seconds", commandLine,
                                   std::chrono::duration<double>(*options.timeout).count()),
                       std::move(output));
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  Result result;
  result.exitCode = static_cast<int>(code);
  result.output = std::move(output);
  return result;
}

} // namespace quorvex::process
