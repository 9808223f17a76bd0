#include "core/ccompiler_kinds.hpp"

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace quorvex::ccompiler {

namespace {

const std::vector<std::string> cExtensions{".c"};
const std::vector<std::string> cppExtensions{".cc", ".cpp", ".cxx"};
const std::vector<std::string> rcExtensions{".rc"};

bool among(const std::string& ext, const std::vector<std::string>& list) {
  return std::find(list.begin(), list.end(), ext) != list.end();
}

std::vector<std::string> sourceExtensions() {
  return detail::concat(detail::concat(cExtensions, cppExtensions), rcExtensions);
}

} // namespace

MSVCCompiler::MSVCCompiler() {
  obj_extension = ".obj";
  exe_extension = ".exe";
  shared_lib_extension = ".dll";
}

std::string MSVCCompiler::object_filename(const std::string& source,
                                          const std::optional<std::string>& output_dir) const {
  const bool resource = among(fs::path(source).extension().string(), rcExtensions);
  return detail::objectPath(source, output_dir, sourceExtensions(),
                            resource ? ".res" : obj_extension);
}

std::vector<std::string> MSVCCompiler::compile(const std::vector<std::string>& sources,
                                               const CompileArgs& args) {
  std::vector<std::string> compileOptions(args.extra_preargs);
  compileOptions.push_back("/c");
  if (args.debug)
    compileOptions.insert(compileOptions.end(),
                          {"/nologo", "/Od", "/MDd", "/Zi", "/W3", "/D_DEBUG"});
  else
    compileOptions.insert(compileOptions.end(),
                          {"/nologo", "/O2", "/W3", "/GL", "/DNDEBUG", "/MD"});
  std::vector<Macro> allMacros(args.macros);
  allMacros.insert(allMacros.end(), macros.begin(), macros.end());
  const std::vector<std::string> ppOptions =
      detail::preprocessOptions(allMacros, detail::concat(args.include_dirs, include_dirs));

  std::vector<std::string> objects;
  for (const std::string& source : sources)
    objects.push_back(object_filename(source, args.output_dir));
  for (std::size_t i = 0; i < sources.size(); ++i) {
    detail::makeParentDirectory(objects[i]);
    const std::string ext = fs::path(sources[i]).extension().string();
    if (among(ext, rcExtensions)) {
      std::vector<std::string> argv = detail::concat({"rc.exe"}, ppOptions);
      argv.insert(argv.end(), {"/fo" + objects[i], sources[i]});
      spawn(argv, Step::Compile);
      continue;
    }
    std::vector<std::string> argv = detail::concat({"cl.exe"}, compileOptions);
    argv.insert(argv.end(), ppOptions.begin(), ppOptions.end());
    if (among(ext, cppExtensions)) argv.push_back("/EHsc");
    argv.push_back((among(ext, cExtensions) ? "/Tc" : "/Tp") + sources[i]);
    argv.push_back("/Fo" + objects[i]);
    argv.insert(argv.end(), args.extra_postargs.begin(), args.extra_postargs.end());
    spawn(argv, Step::Compile);
  }
  return objects;
}

void MSVCCompiler::link(bool dll, const std::vector<std::string>& objects,
                        const std::string& output, const LinkArgs& args) {
  std::vector<std::string> argv{"link.exe"};
  argv.insert(argv.end(), args.extra_preargs.begin(), args.extra_preargs.end());
  argv.insert(argv.end(), {"/nologo", "/INCREMENTAL:NO", "/LTCG"});
  if (args.debug) argv.push_back("/DEBUG:FULL");
  if (dll)
    argv.insert(argv.end(), {"/DLL", "/MANIFEST:EMBED,ID=2", "/MANIFESTUAC:NO"});
  else
    argv.push_back("/MANIFEST:EMBED,ID=1");
  // Windows has no run-time library search path: run-time directories have no option here.
  for (const std::string& dir : detail::concat(args.library_dirs, library_dirs))
    argv.push_back("/LIBPATH:" + dir);
  for (const std::string& library : detail::concat(args.libraries, libraries))
    argv.push_back(library + ".lib");
  for (const std::string& symbol : args.export_symbols) argv.push_back("/EXPORT:" + symbol);
  argv.insert(argv.end(), objects.begin(), objects.end());
  argv.push_back("/OUT:" + output);
  if (dll && !args.export_symbols.empty() && !objects.empty()) {
    // The import library goes beside the objects, not beside the DLL being shipped.
    const fs::path implib = fs::path(objects.front()).parent_path() /
                            (fs::path(output).stem().string() + ".lib");
    argv.push_back("/IMPLIB:" + implib.string());
  }
  argv.insert(argv.end(), args.extra_postargs.begin(), args.extra_postargs.end());
  detail::makeParentDirectory(output);
  spawn(argv, Step::Link);
}

void MSVCCompiler::link_executable(const std::vector<std::string>& objects,
                                   const std::string& output_progname, const LinkArgs& args) {
  link(false, objects, detail::joinOutput(args.output_dir, output_progname + exe_extension), args);
}

void MSVCCompiler::link_shared_object(const std::vector<std::string>& objects,
                                      const std::string& output_filename, const LinkArgs& args) {
  link(true, objects, detail::joinOutput(args.output_dir, output_filename), args);
}

} // namespace quorvex::ccompiler
