#pragma once
// Facts about the build interpreter: the `python` program beside the tool's executable, whose
// version, build mode and configuration decide compile flags, wheel tags and the pristine
// Python. A run's `Context` reads them once by running the interpreter with a short query.

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorvex::interpreter {

/// What the build interpreter told about itself, as read by one query.
struct Facts {
  std::filesystem::path program{};   ///< the interpreter program that was queried
  int major = 0, minor = 0, micro = 0;
  std::string platform{};            ///< sysconfig.get_platform(), e.g. "linux-x86_64"
  std::string sysPlatform{};         ///< sys.platform, e.g. "linux"
  std::string prefix{};              ///< sys.prefix
  std::string basePrefix{};          ///< sys.base_prefix
  std::string cacheTag{};            ///< sys.implementation.cache_tag, e.g. "cpython-312"
  nlohmann::json paths{};            ///< sysconfig.get_paths(): "include", "stdlib", "purelib", ...
  nlohmann::json configVars{};       ///< sysconfig.get_config_vars(), values as JSON scalars

  /// A configuration variable as text (integers in decimal); nullopt when missing or None.
  std::optional<std::string> configVar(const std::string& name) const;
  /// A configuration variable as an integer; nullopt when missing, None or not a number.
  std::optional<long long> configInt(const std::string& name) const;
  /// sysconfig.get_path(name); empty when the scheme has no such path.
  std::string path(const std::string& name) const;
  /// "3.12.1"
  std::string fullVersion() const;
  /// Whether this interpreter is free-threaded (`isFreeThreaded` of its variables).
  bool freeThreaded() const;
};

/// Whether a CPython `major`.`minor` is free-threaded: its `Py_GIL_DISABLED` is set or, for
/// builds that predate that variable, its ABI name `soabi` carries the "t" ("cpython-313t-...").
bool isFreeThreaded(int major, int minor, std::optional<long long> gilDisabled,
                    std::string_view soabi);

/// Whether code for CPython `major`.`minor` is built against the stable ABI: from 3.11 on and
/// never for a free-threaded build. The compiler defines `Py_LIMITED_API` by it and a library's
/// wheel is tagged abi3 by it, so the two cannot disagree.
bool usesStableAbi(int major, int minor, bool freeThreaded);
/// The `Py_LIMITED_API` value for `major`.`minor`: the hex version of its first release.
long long limitedApiVersion(int major, int minor);

/// The path of the running executable.
std::filesystem::path toolExecutable();

/// The facts of the interpreter program `python` (`python.exe` on Windows) beside
/// `toolExecutable`. Throws a `std::runtime_error` naming the path where the interpreter was
/// looked for when it is missing or the query fails.
Facts query(const std::filesystem::path& toolExecutable);

} // namespace quorvex::interpreter
