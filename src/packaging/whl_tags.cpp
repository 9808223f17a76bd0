#include "packaging/whl_tags.hpp"

#include "core/interpreter.hpp"
#include "core/plugin.hpp"

#include <stdexcept>

namespace quorvex::whl {

InterpreterValues buildInterpreterValues(const interpreter::Facts& facts) {
  InterpreterValues values;
  values.major = facts.major;
  values.minor = facts.minor;
  values.soabi = facts.configVar("SOABI").value_or("");
  values.gilDisabled = facts.configInt("Py_GIL_DISABLED");
  values.platform = facts.platform;
  values.extSuffix = facts.configVar("EXT_SUFFIX").value_or("");
  return values;
}

WheelTags pythonAbiTags(const InterpreterValues& values, bool library) {
  std::string pyVer = std::to_string(values.major) + std::to_string(values.minor);
  const bool freeThreaded =
      interpreter::isFreeThreaded(values.major, values.minor, values.gilDisabled, values.soabi);

  WheelTags tags;
  tags.python = "cp" + pyVer;
  tags.abi = "cp" + pyVer + (freeThreaded ? "t" : "");
  // Only a library can use the stable ABI: an executable embeds its own interpreter version.
  if (library && interpreter::usesStableAbi(values.major, values.minor, freeThreaded))
    tags.abi = "abi3";
  return tags;
}

std::string platformName(const std::string& platform) {
  std::string name = platform;
  for (char& c : name)
    if (c == '-' || c == '.') c = '_';
  return name;
}

WheelTags wheelTags(const InterpreterValues& values, bool library, plugin::PluginManager& manager) {
  WheelTags tags = pythonAbiTags(values, library);
  auto fixed = manager.fixPlatformName(platformName(values.platform));
  if (!fixed)
    throw std::runtime_error("No platform plug-in answers fixPlatformName: no wheel platform tag "
                             "for '" + values.platform + "'");
  tags.platform = *fixed;
  return tags;
}

} // namespace quorvex::whl
