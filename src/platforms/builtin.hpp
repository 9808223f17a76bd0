#pragma once
// The platform plug-ins compiled into the tool, by the module names the manager loads.

#include "core/plugin.hpp"

namespace quorvex::platforms {

/// ".winplatform", ".linuxplatform", ".macplatform" and whatever else this build carries; a
/// name without an entry is a platform module this build does not have.
const plugin::BuiltinFactories& builtinPlugins();

} // namespace quorvex::platforms
