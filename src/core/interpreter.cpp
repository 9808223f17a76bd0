#include "core/interpreter.hpp"

#include "core/process.hpp"

#include <fmt/format.h>

namespace fs = std::filesystem;

namespace quorvex::interpreter {

// Defined per host in interpreter_posix.cpp / interpreter_win32.cpp.
fs::path runningExecutable();
const char* interpreterFileName();

namespace {

// Prints the facts as one JSON line after a marker, so that anything else the interpreter may
// write (warnings from site hooks) cannot corrupt them.
constexpr const char* factsQuery = R"PY(
import json, math, sys, sysconfig
def value(v):
    if v is None or isinstance(v, (bool, int, str)):
        return v
    if isinstance(v, float) and math.isfinite(v):
        return v
    return str(v)
facts = {
    "major": sys.version_info[0], "minor": sys.version_info[1], "micro": sys.version_info[2],
    "platform": sysconfig.get_platform(), "sysPlatform": sys.platform,
    "prefix": sys.prefix, "basePrefix": sys.base_prefix,
    "cacheTag": sys.implementation.cache_tag,
    "paths": sysconfig.get_paths(),
    "configVars": {str(k): value(v) for k, v in sysconfig.get_config_vars().items()},
}
sys.stdout.write("\n@@quorvex-facts@@" + json.dumps(facts) + "\n")
)PY";
constexpr std::string_view factsMarker = "@@quorvex-facts@@";

} // namespace

Facts query(const fs::path& toolExecutable) {
  const fs::path program = toolExecutable.parent_path() / interpreterFileName();
  std::error_code ec;
  if (!fs::is_regular_file(program, ec))
    throw std::runtime_error(fmt::format(
        "Build interpreter not found: looked for '{}' beside the tool executable '{}'",
        program.string(), toolExecutable.string()));
  process::Result result;
  try {
    // Isolated, so that modules in the working directory cannot stand in for standard ones.
    result = process::run({program.string(), "-I", "-c", factsQuery},
                          {.timeout = std::chrono::seconds(120)});
  } catch (const std::exception& e) {
    throw std::runtime_error(
        fmt::format("Querying the build interpreter '{}' failed: {}", program.string(), e.what()));
  }
  auto at = result.output.rfind(factsMarker);
  if (!result.ok() || at == std::string::npos)
    throw std::runtime_error(fmt::format("Querying the build interpreter '{}' failed:\n{}",
                                         program.string(), result.output));
  std::string line = result.output.substr(at + factsMarker.size());
  nlohmann::json json = nlohmann::json::parse(line, nullptr, false);
  if (json.is_discarded() || !json.is_object())
    throw std::runtime_error(fmt::format(
        "Querying the build interpreter '{}' failed: unreadable answer", program.string()));
  Facts facts;
  facts.program = program;
  facts.major = json.value("major", 0);
  facts.minor = json.value("minor", 0);
  facts.micro = json.value("micro", 0);
  facts.platform = json.value("platform", "");
  facts.sysPlatform = json.value("sysPlatform", "");
  facts.prefix = json.value("prefix", "");
  facts.basePrefix = json.value("basePrefix", "");
  facts.cacheTag = json.value("cacheTag", "");
  facts.paths = json.value("paths", nlohmann::json::object());
  facts.configVars = json.value("configVars", nlohmann::json::object());
  return facts;
}

std::optional<std::string> Facts::configVar(const std::string& name) const {
  auto found = configVars.find(name);
  if (found == configVars.end() || found->is_null()) return std::nullopt;
  if (found->is_string()) return found->get<std::string>();
  // Python's text forms, as str() of the value would give them.
  if (found->is_boolean()) return found->get<bool>() ? "True" : "False";
  return found->dump();
}

std::optional<long long> Facts::configInt(const std::string& name) const {
  auto found = configVars.find(name);
  if (found == configVars.end() || !found->is_number_integer()) return std::nullopt;
  return found->get<long long>();
}

std::string Facts::path(const std::string& name) const {
  auto found = paths.find(name);
  if (found == paths.end() || !found->is_string()) return {};
  return found->get<std::string>();
}

std::string Facts::fullVersion() const { return fmt::format("{}.{}.{}", major, minor, micro); }

bool Facts::freeThreaded() const {
  return isFreeThreaded(major, minor, configInt("Py_GIL_DISABLED"),
                        configVar("SOABI").value_or(""));
}

fs::path toolExecutable() { return runningExecutable(); }

bool isFreeThreaded(int major, int minor, std::optional<long long> gilDisabled,
                    std::string_view soabi) {
  if (gilDisabled.value_or(0) != 0) return true;
  const std::string tagged = "cpython-" + std::to_string(major) + std::to_string(minor) + "t";
  return soabi.find(tagged) != std::string_view::npos;
}

long long limitedApiVersion(int major, int minor) {
  return (static_cast<long long>(major) << 24) | (static_cast<long long>(minor) << 16);
}

bool usesStableAbi(int major, int minor, bool freeThreaded) {
  return limitedApiVersion(major, minor) >= 0x030B0000 && !freeThreaded;
}

} // namespace quorvex::interpreter
