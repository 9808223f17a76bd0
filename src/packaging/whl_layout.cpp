#include "packaging/whl_layout.hpp"

#include <fmt/format.h>

namespace quorvex::whl {

// The library holds one module that the package loads by its init function, its bootstrap; the
// bootstrap serves the compiled modules. Without a package of the project's own, the package
// re-exports the main module's names.
std::string packageInit(const std::string& libraryFile, const std::string& reexported) {
  // The loading runs in a function that is gone before the package's body runs: the package's
  // namespace holds what its own body defines and nothing of the loader's, as under CPython.
  // That namespace is passed in: once the package's modules load, a submodule named "globals"
  // (click has one) is bound in it and hides the built-in function.
  std::string text = fmt::format(
      R"(def _qvx_load(name, path, namespace):
    import sys, types, importlib.util, importlib.machinery
    # Both under the package's name: a program, or another library, loaded in this process has
    # modules of the same short names.
    bundled = [name + '._qvx_bootstrap', name + '._qvx_shared']
    class _BundledFinder:
        def find_spec(self, fullname, search_path, target=None):
            if fullname in bundled:
                loader = importlib.machinery.ExtensionFileLoader(fullname, path[0] + '/{0}')
                return importlib.util.spec_from_loader(fullname, loader)
            return None
    sys.meta_path.insert(0, _BundledFinder())
    # Pre-create cython_runtime in sys.modules so that
    # PyImport_AddModule('cython_runtime') inside the .so's init
    # functions finds it without triggering a recursive load.
    if 'cython_runtime' not in sys.modules:
        sys.modules['cython_runtime'] = types.ModuleType('cython_runtime')
    # Init Cython shared runtime first so that module init functions
    # inside the same .so find it loaded.
    shared = importlib.import_module('._qvx_shared', name)
    # Each bound by the import system once loaded: the package's body must not see them.
    namespace.pop('_qvx_shared', None)
    del namespace['_qvx_load']
    bootstrap = importlib.import_module('._qvx_bootstrap', name)
    namespace.pop('_qvx_bootstrap', None)
    # Cython also enters a module under its short name when that is free: another product's.
    for short, module in (('_qvx_shared', shared), ('_qvx_bootstrap', bootstrap)):
        if sys.modules.get(short) is module:
            del sys.modules[short]
_qvx_load(__name__, __path__, globals())
)",
      libraryFile);
  if (reexported.empty()) return text;
  return text + fmt::format(R"(import importlib as _importlib
_native = _importlib.import_module('.{0}', __name__)
__pyx_capi__ = getattr(_native, '__pyx_capi__', None)
from .{0} import *
)",
                            reexported);
}

std::string privatePackageInit(const std::string& libraryFile) {
  // Read by the bootstrap: the modules are served under their own names, not below this one.
  return "_qvx_serves_top_level = True\n" + packageInit(libraryFile, "");
}

std::string moduleStub(const std::string& privatePackage, const std::string& name) {
  // As in the package's `__init__.py`: the namespace keeps only what the body defines. The
  // private package is imported by its own name, which waits while another thread loads the
  // library; an import of its submodule would not wait, and could miss the library's finder.
  return fmt::format(R"(def _qvx_run(module):
    import importlib, sys
    del globals()['_qvx_run']
    importlib.import_module('{0}')
    sys.modules['{0}._qvx_bootstrap'].run_body('{1}', module)
_qvx_run(__import__('sys').modules[__name__])
)",
                     privatePackage, name);
}

std::string packageMain(const std::string& moduleImportPath) {
  std::string module =
      moduleImportPath.empty() ? "__package__" : "'." + moduleImportPath + "', __package__";
  // main()'s result is the exit status, as for a program and a console script: sys.exit(main()).
  return fmt::format(R"(import importlib as _importlib
import sys as _sys
_mod = _importlib.import_module({0})
if hasattr(_mod, 'main'):
    _sys.exit(_mod.main())
)",
                     module);
}

} // namespace quorvex::whl
