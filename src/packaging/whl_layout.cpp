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

// The main module is imported by its name inside the package (`proj.cli` for the import path
// "cli"), the name under which the finder serves it and its relative imports resolve. Nothing
// is put into sys.modules in its place: a stand-in under the main module's name would hide the
// module itself, or replace this very package when the two share a name.
std::string packageInit(const std::string& libraryFile, const std::vector<std::string>& moduleNames,
                        const std::string& moduleImportPath) {
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
import types
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
      libraryFile, pythonList(moduleNames), moduleImportPath);
}

std::string packageMain(const std::string& moduleImportPath) {
  return fmt::format(R"(import importlib as _importlib
_mod = _importlib.import_module('.{0}', __package__)
if hasattr(_mod, 'main'):
    _mod.main()
)",
                     moduleImportPath);
}

} // namespace quorvex::whl
