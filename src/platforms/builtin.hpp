#pragma once
// The platform plug-ins compiled into the tool, by the module names the manager loads.

#include "core/plugin.hpp"

namespace quorvex::platforms {

/// ".winplatform", ".linuxplatform", ".macplatform" and whatever else this build carries; a
/// name without an entry is a platform module this build does not have.
const plugin::BuiltinFactories& builtinPlugins();

/// The plug-in manager of a run of the tool: the extension library "quorvexpro" (looked for
/// along `plugin::extensionSearchPath` of the running tool), then ".winplatform",
/// ".linuxplatform" and ".macplatform" (only the host's accepts).
plugin::PluginManager loadPlugins();

} // namespace quorvex::platforms
