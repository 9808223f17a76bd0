#include "compilation/pxd_stubs.hpp"

#include "compilation/textfile.hpp"
#include "core/log.hpp"

#include <exception>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;

namespace quorvex::compiler {

namespace {

std::string strip(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

} // namespace

std::optional<std::string> pxdStubText(const std::string& text) {
  static const std::regex cimportLine(R"(from\s+_qvx_bootstrap\s+cimport\s+([^\n]+))");
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (!std::regex_match(line, match, cimportLine)) continue;
    std::string stub = "# library build - patched by quorvex (no cimport from _qvx_bootstrap)\n";
    std::string names = match[1].str();
    std::size_t start = 0;
    while (true) {
      std::size_t comma = names.find(',', start);
      stub += "cdef object " + strip(names.substr(start, comma - start)) + "\n";
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    return stub;
  }
  return std::nullopt;
}

PxdStubs::~PxdStubs() {
  for (const auto& [path, text] : backups_) {
    try {
      writeText(path, text);
    } catch (const std::exception& error) {
      log::getLogger("quorvex.compiler")
          .error("Could not restore {}: {}", path.string(), error.what());
    }
  }
}

void PxdStubs::stub(const fs::path& sourcePath) {
  for (const auto& entry : fs::directory_iterator(sourcePath)) {
    const fs::path& path = entry.path();
    if (path.extension() != ".pxd" || entry.is_directory()) continue;
    std::string text = readText(path);
    auto stub = pxdStubText(text);
    if (!stub) continue;
    // Saved before the write, so that a failed or interrupted write is put back as well.
    backups_.emplace_back(path, text);
    writeText(path, *stub);
  }
}

void PxdStubs::restore() {
  std::exception_ptr firstFailure;
  auto pending = std::move(backups_);
  backups_.clear();
  for (const auto& backup : pending) {
    try {
      writeText(backup.first, backup.second);
    } catch (...) {
      if (!firstFailure) firstFailure = std::current_exception();
      backups_.push_back(backup);
    }
  }
  if (firstFailure) std::rethrow_exception(firstFailure);
}

} // namespace quorvex::compiler
