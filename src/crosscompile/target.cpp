#include "crosscompile/target.hpp"

#include "core/interpreter.hpp"

#ifdef _WIN32
#include <cstdlib>
#else
#include <sys/utsname.h>
#endif

namespace quorvex::target {

namespace {

// The host's system and machine names as the platform reports them.
std::pair<std::string, std::string> hostNames() {
#ifdef _WIN32
  const char* machine = std::getenv("PROCESSOR_ARCHITECTURE");
  return {"Windows", machine != nullptr ? machine : ""};
#else
  utsname names{};
  if (uname(&names) != 0) return {"", ""};
  return {names.sysname, names.machine};
#endif
}

} // namespace

Target::Target(const interpreter::Facts& facts, std::optional<std::string> os_, std::optional<std::string> processor_,
               std::optional<std::string> pythonVersion_, std::optional<std::string> pythonMode_,
               bool library_, std::optional<bool> limited_)
    : library(library_), limited(limited_.value_or(library_)) {
  const auto [sysname, machine] = hostNames();
  os = os_.value_or(sysname);
  processor = processor_ ? *processor_ : machine == "AMD64" ? "x86_64" : machine;
  pythonVersion = pythonVersion_.value_or(facts.configVar("py_version").value_or(""));
  pythonMode = pythonMode_.value_or(facts.configInt("Py_GIL_DISABLED").value_or(0) == 1
                                        ? "freeThreaded"
                                        : "standard");
}

std::vector<std::pair<std::string, std::string>> Target::get_config_vars() const {
  return {{"EXT_SUFFIX", ""}, {"LIBPL", ""},         {"LIBDIR", ""},
          {"LIBRARY", ""},    {"SYSLIBS", ""},       {"LINKFORSHARED", ""},
          {"installed_platbase", ""}, {"py_version", pythonVersion}};
}

void addTarget(CLI::App& parser, TargetOptions& options) {
  parser.add_option("--targetOs", options.targetOs, "Target OS")
      ->check(CLI::IsMember({"Windows", "Linux", "MacOS"}));
  parser.add_option("--targetProcessor", options.targetProcessor, "Target Processor")
      ->check(CLI::IsMember({"x86_64", "aarch64"}));
  parser.add_option("--targetPython", options.targetPython, "Target Python Version");
  parser.add_option("--targetMode", options.targetMode, "Target Mode")
      ->check(CLI::IsMember({"standard", "freeThreaded"}));
  parser.add_flag_callback("--targetLimited", [&options] { options.targetLimited = true; },
                           "Target Limited");
}

} // namespace quorvex::target
