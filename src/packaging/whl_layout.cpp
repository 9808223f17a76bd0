#include "packaging/whl_layout.hpp"

#include <fmt/format.h>

namespace quorvex::whl {

namespace {

// The list as Python writes it: ['a', 'b'].
std::string pythonList(const std::vector<std::string>& names) {
  std::string list = "[";
  for (std::size_t i = 0; i < names.size(); ++i) list += (i ? ", '" : "'") + names[i] + "'";
  return list + "]";
}

} // namespace

std::vector<std::string> bundledModuleNames(const std::string& productName,
                                            const std::optional<std::vector<std::string>>& names) {
  std::vector<std::string> all;
  if (names)
    for (const auto& name : *names) all.push_back(productName + "." + name);
  all.push_back("_qvx_shared");
  all.push_back("cython_runtime");
  return all;
}

std::string packageInit(const std::string& libraryFile, const std::vector<std::string>& moduleNames,
                        const std::string& moduleStem) {
  return fmt::format(
      R"(import sys
import importlib.util
import importlib.machinery
_PYD_NAME = '{0}'
_MODULE_NAMES = {1}
class _BundledFinder:
    def find_spec(self, fullname, path, target=None):
        if fullname in _MODULE_NAMES:
            loader = importlib.machinery.ExtensionFileLoader(fullname, __path__[0] + '/' + _PYD_NAME)
            return importlib.util.spec_from_loader(fullname, loader)
        return None
sys.meta_path.insert(0, _BundledFinder())
# Pre-create '{2}' in sys.modules so that imports of
# '{2}.shared' during PyInit_{2} can find the parent.
import types
_main_placeholder = types.ModuleType('{2}')
_main_placeholder.__path__ = []
_main_placeholder.__package__ = '{2}'
sys.modules['{2}'] = _main_placeholder
import importlib as _importlib
# Pre-create cython_runtime in sys.modules so that
# PyImport_AddModule('cython_runtime') inside the .so's init
# functions finds it without triggering a recursive load.
if 'cython_runtime' not in sys.modules:
    sys.modules['cython_runtime'] = types.ModuleType('cython_runtime')
# Init Cython shared runtime first so that module init functions
# inside the same .so can find _qvx_shared already loaded.
_importlib.import_module('_qvx_shared')
_native = _importlib.import_module('.{2}', __name__)
__pyx_capi__ = getattr(_native, '__pyx_capi__', None)
from .{2} import *
)",
      libraryFile, pythonList(moduleNames), moduleStem);
}

std::string packageMain(const std::string& moduleStem, const std::string& moduleImportPath) {
  return fmt::format(R"(import importlib as _importlib
_importlib.import_module('.{0}', __package__)
_mod = _importlib.import_module('.{1}', __package__)
if hasattr(_mod, 'main'):
    _mod.main()
)",
                     moduleStem, moduleImportPath);
}

} // namespace quorvex::whl
