#include "compilation/compiler.hpp"

#include "compilation/cython_driver_files.hpp"
#include "compilation/pipeline.hpp"
#include "compilation/runtime.hpp"
#include "compilation/textfile.hpp"

#include "core/fileio.hpp"
#include "core/plugin.hpp"
#include "core/interpreter.hpp"
#include "core/utils.hpp"

#include <stdexcept>
#include <string_view>

namespace fs = std::filesystem;

namespace quorvex::compiler {

std::optional<fs::path> compile(Context& context, const fs::path& sourcePath,
                                const std::optional<std::string>& exeName,
                                const std::optional<std::string>& mainModule,
                                const std::vector<fs::path>& sources,
                                const CompileOptions& options) {
  if (!exeName || exeName->empty())
    throw std::invalid_argument("compile: no name was given for the executable or library");
  if (!options.targetPath)
    throw std::invalid_argument("compile: no target directory was given for " + *exeName);
  auto& manager = context.plugins;
  // A run that fails or is killed must not leave an earlier product looking like its result.
  removeFile(productPath(manager, *exeName, options.library, *options.targetPath));
  SourcePlan plan = discoverSources(context, sourcePath, exeName, sources, options.force);
  generateSources(context, plan, sourcePath, mainModule, options.library,
                  options.projectMainModule);
  return compileAndLink(context, plan, *exeName, options.library, *options.targetPath,
                        options.noInit, [&context] { return runtime::getRuntimePath(context); });
}

std::unique_ptr<utils::PlatformCompiler> requireCompiler(plugin::PluginManager& manager,
                                                         bool noInit) {
  auto compiler = manager.newCompiler(noInit);
  if (!compiler) throw std::runtime_error("No plug-in answered the hook newCompiler");
  return compiler;
}

std::string cythonCommand(Context& context, const std::vector<std::string>& args) {
  // Annotations are left to Python, which ignores them at run time: typed by them, `x: int`
  // would truncate 2.5 and `x: list` would refuse a range. Docstrings stay: argument parsers,
  // help() and parsers that read grammars from them (docopt, ply) need them as under CPython.
  // A module in the working directory named like one Cython imports must not replace it: keep
  // the working directory off the module search path (-P since 3.11, else isolated mode).
  // --lenient leaves a name that no code binds (Python 2's `long` behind a version check) to a
  // NameError when it runs, as in Python, instead of refusing the module.
  // No `__test__` dict of docstring examples: doctest finds a compiled module's examples where it
  // finds a Python module's, and would run each twice. A module's own directive comment still
  // turns it on.
  const interpreter::Facts& facts = context.interpreter();
  const bool hasSafePath = facts.major > 3 || (facts.major == 3 && facts.minor >= 11);
  std::string cmd = std::string(hasSafePath ? "-P " : "-I ") +
                    utils::quoteWord(writeCythonDriver(context).string()) +
                    " -3 --lenient -X annotation_typing=False -X autotestdict=False ";
  bool first = true;
  auto append = [&](const std::string& arg) {
    if (!first) cmd += " ";
    cmd += utils::quoteWord(arg); // a source root such as "my app" reaches Cython whole
    first = false;
  };
  if (facts.freeThreaded()) {
    append("-X");
    append("freethreading_compatible=True");
  }
  for (const auto& arg : args) append(arg);
  return cmd;
}

void cythonCall(Context& context, const std::vector<std::string>& args) {
  utils::pythonCall(context, cythonCommand(context, args));
}

void patchEmbeddedBootstrap(plugin::PluginManager& manager, const fs::path& bootstrapCPath) {
  static const std::string marker = "PyConfig_InitPythonConfig(&config);";
  std::string content = readText(bootstrapCPath);
  if (auto at = content.find(marker); at != std::string::npos) {
    auto inject = manager.getConfigTemplate();
    if (!inject) throw std::runtime_error("No plug-in answered the hook getConfigTemplate");
    content.replace(at, marker.size(), *inject);
  }
  writeText(bootstrapCPath, content);
}

namespace {

// Cython's shared module registers its memoryview types with collections.abc.Sequence when it
// loads, importing the "collections" package that a program run by CPython may never load (a
// few milliseconds of every start-up). "collections.abc" only re-exports "_collections_abc",
// which the interpreter loads while starting: the shared module's "__import__" is served that
// module for this one name, so the very same Sequence is registered.
constexpr std::string_view sharedImportCode = R"(
static PyObject *qvx_shared_import(PyObject *builtin_import, PyObject *name) {
    if (PyUnicode_Check(name) &&
        PyUnicode_CompareWithASCIIString(name, "collections.abc") == 0) {
        PyObject *abc = PyImport_ImportModule("_collections_abc");
        PyObject *package = abc ? PyModule_New("collections") : NULL;
        if (package && PyModule_AddObject(package, "abc", abc) == 0) return package;
        Py_XDECREF(package);
        Py_XDECREF(abc);
        return NULL;
    }
    return PyObject_CallFunctionObjArgs(builtin_import, name, NULL);
}
static PyMethodDef qvx_shared_import_def = {"__import__", qvx_shared_import, METH_O, NULL};
static PyObject *qvx_wrap_import(PyObject *builtin_import) {
    PyObject *wrapped =
        builtin_import ? PyCFunction_New(&qvx_shared_import_def, builtin_import) : NULL;
    Py_XDECREF(builtin_import);
    return wrapped;
}
)";

} // namespace

void nameBootstrapLikeTheImportSystem(const fs::path& bootstrapCPath) {
  static const std::string table = "static const char* const __pyx_f[] = {";
  std::string content = readText(bootstrapCPath);
  auto at = content.find(table);
  if (at == std::string::npos) return;
  auto open = content.find('"', at + table.size());
  auto close = open == std::string::npos ? open : content.find('"', open + 1);
  if (close == std::string::npos ||
      !std::string_view(content).substr(open, close - open).ends_with("_qvx_bootstrap.pyx"))
    return;
  content.replace(open + 1, close - open - 1, "<frozen importlib._bootstrap>");
  writeText(bootstrapCPath, content);
}

void patchSharedModule(const fs::path& sharedCPath) {
  static const std::string declaration = "static PyObject *__pyx_builtin___import__;";
  static const std::string lookup = "__pyx_builtin___import__ = __Pyx_GetBuiltinName(";
  std::string content = readText(sharedCPath);
  auto declared = content.find(declaration);
  auto looked = content.find(lookup);
  // Another Cython may generate other code: then the module is left as it was written.
  if (declared == std::string::npos || looked == std::string::npos ||
      content.find(lookup, looked + 1) != std::string::npos)
    return;
  auto call = looked + lookup.size() - std::string_view("__Pyx_GetBuiltinName(").size();
  auto end = content.find(';', call);
  if (end == std::string::npos || content.find('\n', call) < end) return;
  content.insert(end, ")");
  content.insert(call, "qvx_wrap_import(");
  content.insert(declared + declaration.size(), sharedImportCode);
  writeText(sharedCPath, content);
}

} // namespace quorvex::compiler
