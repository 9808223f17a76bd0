#include "core/process.hpp"

#include <windows.h>

#include <fmt/format.h>

#include <cstring>
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
  if (!CreateProcessA(application.empty() ? nullptr : application.c_str(), commandLine.data(),
                      nullptr, nullptr, TRUE, 0, block.empty() ? nullptr : block.data(), nullptr,
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
