#pragma once
// Wheel tags from the build interpreter's version, ABI and platform.

#include <optional>
#include <string>

namespace quorvex::interpreter {
struct Facts;
}
namespace quorvex::plugin {
class PluginManager;
}

namespace quorvex::whl {

/// The build interpreter's values that decide the tags and the library suffix.
struct InterpreterValues {
  int major = 0;
  int minor = 0;
  std::string soabi;                   ///< `SOABI`, empty when missing
  std::optional<long long> gilDisabled; ///< `Py_GIL_DISABLED`, none when missing
  std::string platform;                ///< sysconfig platform, e.g. "linux-x86_64"
  std::string extSuffix;               ///< `EXT_SUFFIX`, empty when missing
};

/// The values of the build interpreter with `facts`.
InterpreterValues buildInterpreterValues(const interpreter::Facts& facts);

/// Python tag, ABI tag and platform tag of a wheel.
struct WheelTags {
  std::string python;
  std::string abi;
  std::string platform;
};

/// The python and ABI tags for `values`; the platform tag is left empty. A library gets "abi3"
/// from 3.11 on unless the interpreter is free-threaded.
WheelTags pythonAbiTags(const InterpreterValues& values, bool library);

/// The platform string as a tag: every "-" and "." becomes "_".
std::string platformName(const std::string& platform);

/// The full tags, the platform tag being `manager`'s `fixPlatformName` answer. Throws a
/// `std::runtime_error` when no plug-in answers.
WheelTags wheelTags(const InterpreterValues& values, bool library, plugin::PluginManager& manager);

} // namespace quorvex::whl
