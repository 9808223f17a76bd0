// The places of the build directory that a compile writes, for the check that no product of a
// build takes one of them.
#include "compilation/compiler.hpp"
#include "compilation/cython_driver_files.hpp"
#include "compilation/paths.hpp"
#include "compilation/pipeline.hpp"

#include "core/plugin.hpp"

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::compiler {

std::vector<BuildEntry> compileEntries(Context& context, const fs::path& sourcePath,
                                       const std::vector<fs::path>& sources) {
  auto basics = context.plugins.getCompileBasics();
  if (!basics || !basics->objSuffix)
    throw std::runtime_error("No plug-in answered the hook getCompileBasics with an objSuffix");
  const std::string& object = *basics->objSuffix;

  std::vector<BuildEntry> entries = {
      {fs::path(cythonDriverFile), "the Cython driver"},
      {fs::path(cythonDriverPackage), "the Cython driver's corrections"},
      {"python", "the private Python"}};
  // As discoverSources places it.
  const fs::path modules =
      pathlibForm(relativeBuildPlace(fs::current_path(), fs::canonical(fs::absolute(sourcePath))));
  const auto add = [&](const std::string& name, const std::string& what) {
    entries.push_back({modules == "." ? fs::path(name) : modules / name, what});
  };
  if (modules != ".") entries.push_back({modules, "the C and object files of the modules"});
  add(sharedName + ".c", "the C file of the shared utility module");
  add(sharedName + object, "the object file of the shared utility module");
  for (const char* suffix : {".pyx", ".pxd", ".c"})
    add(std::string("_qvx_bootstrap") + suffix, "a file of the start-up module");
  add("_qvx_bootstrap" + object, "the object file of the start-up module");
  add("__main__.h", "the header of the start-up module");
  add("_qvx_stubbed", "the library's copies of its sources");
  const fs::path root = pathlibForm(sourcePath);
  for (const fs::path& source : sources) {
    const std::optional<ModuleSource> module = moduleOf(root, root / source);
    if (!module) continue;
    add(module->fileStem + ".c", "the C file of module " + module->name);
    add(module->fileStem + object, "the object file of module " + module->name);
  }
  return entries;
}

} // namespace quorvex::compiler
