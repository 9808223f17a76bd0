#include "core/interpreter.hpp"
#include "core/plugin.hpp"
#include "core/utils.hpp"

namespace quorvex::utils {

void configureCompiler(Context& context, ccompiler::CCompiler& compiler, bool noInit) {
  const interpreter::Facts& facts = context.interpreter();
  const bool freeThreaded = facts.freeThreaded();
  compiler.define_macro("NDEBUG");
  // Code linked into an executable is initialised by the bootstrap, not imported, so its
  // module init functions stay unexported.
  if (noInit) compiler.define_macro("CYTHON_NO_PYINIT_EXPORT", 1LL);
  compiler.define_macro("CYTHON_COMPRESS_STRINGS", 0LL);
  if (freeThreaded) compiler.define_macro("Py_GIL_DISABLED", 1LL);
  compiler.add_include_dir(facts.path("include"));
  if (!noInit && interpreter::usesStableAbi(facts.major, facts.minor, freeThreaded))
    compiler.define_macro("Py_LIMITED_API",
                          interpreter::limitedApiVersion(facts.major, facts.minor));
  context.plugins.extendCompiler(compiler);
}

} // namespace quorvex::utils
