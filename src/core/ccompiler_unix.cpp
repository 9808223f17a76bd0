#include "core/ccompiler_kinds.hpp"
#include "core/log.hpp"
#include "core/utils.hpp"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace quorvex::ccompiler {

namespace {

std::optional<std::string> environment(const char* name) {
  if (const char* value = std::getenv(name)) return std::string(value);
  return std::nullopt;
}

// The library file that a library named with a directory part stands for, as the linker would
// pick it: the shared one before the static one.
std::optional<std::string> findLibraryFile(const fs::path& dir, const std::string& name) {
  for (const char* suffix : {".so", ".dylib", ".a"}) {
    const fs::path candidate = dir / ("lib" + name + suffix);
    if (fs::exists(candidate)) return candidate.string();
  }
  return std::nullopt;
}

} // namespace

UnixCCompiler::UnixCCompiler(std::vector<std::string> compilerSo,
                             std::vector<std::string> linkerSo,
                             std::vector<std::string> linkerExe)
    : compiler_so(std::move(compilerSo)), linker_so(std::move(linkerSo)),
      linker_exe(std::move(linkerExe)) {
  obj_extension = ".o";
  exe_extension = "";
  shared_lib_extension = ".so";
}

UnixCCompiler::UnixCCompiler(const interpreter::Facts& facts) : UnixCCompiler({}, {}, {}) {
  // The target's platform is the build interpreter's, as setuptools decides it.
  darwinTarget_ = facts.sysPlatform == "darwin";
  gnuLinker_ = facts.configVar("GNULD") == "yes";
  std::string cc = facts.configVar("CC").value_or("cc");
  std::string cflags = facts.configVar("CFLAGS").value_or("");
  const std::string ccshared = facts.configVar("CCSHARED").value_or("");
  std::string ldshared = facts.configVar("LDSHARED").value_or(cc + " -shared");

  // The environment wins over the interpreter's configuration, in the way setuptools applies
  // it: a new CC also replaces the compiler at the head of the configured LDSHARED.
  if (auto envCC = environment("CC")) {
    if (!environment("LDSHARED") && ldshared.starts_with(cc))
      ldshared = *envCC + ldshared.substr(cc.size());
    cc = *envCC;
  }
  if (auto envLdshared = environment("LDSHARED")) ldshared = *envLdshared;
  if (auto envLdflags = environment("LDFLAGS")) ldshared += " " + *envLdflags;
  if (auto envCflags = environment("CFLAGS")) {
    cflags += " " + *envCflags;
    ldshared += " " + *envCflags;
  }

  compiler_so = utils::splitCommand(cc + " " + cflags + " " + ccshared);
  linker_so = utils::splitCommand(ldshared);
  linker_exe = utils::splitCommand(cc);
}

const std::vector<std::string>& UnixCCompiler::sourceExtensions() const {
  static const std::vector<std::string> extensions{".c", ".C", ".cc", ".cxx", ".cpp", ".m"};
  return extensions;
}

std::string UnixCCompiler::object_filename(const std::string& source,
                                           const std::optional<std::string>& output_dir) const {
  return detail::objectPath(source, output_dir, sourceExtensions(), obj_extension);
}

std::vector<std::string> UnixCCompiler::compile(const std::vector<std::string>& sources,
                                                const CompileArgs& args) {
  std::vector<Macro> allMacros(args.macros);
  allMacros.insert(allMacros.end(), macros.begin(), macros.end());
  std::vector<std::string> ccArgs(args.extra_preargs);
  if (args.debug) ccArgs.push_back("-g");
  for (std::string& option :
       detail::preprocessOptions(allMacros, detail::concat(args.include_dirs, include_dirs)))
    ccArgs.push_back(std::move(option));
  ccArgs.push_back("-c");

  std::vector<std::string> objects;
  for (const std::string& source : sources)
    objects.push_back(object_filename(source, args.output_dir));
  for (std::size_t i = 0; i < sources.size(); ++i) {
    detail::makeParentDirectory(objects[i]);
    std::vector<std::string> argv = detail::concat(compiler_so, ccArgs);
    argv.insert(argv.end(), {sources[i], "-o", objects[i]});
    argv.insert(argv.end(), args.extra_postargs.begin(), args.extra_postargs.end());
    spawn(argv, Step::Compile);
  }
  return objects;
}

std::optional<std::string> UnixCCompiler::runtimeLibraryDirOption(const std::string& dir) const {
  if (darwinTarget_) return "-Wl,-rpath," + dir;
  // With the GNU linker the path is recorded as RUNPATH, which LD_LIBRARY_PATH can override,
  // as extensions built by setuptools have it.
  if (gnuLinker_)
    return "-Wl,--enable-new-dtags,-rpath," + dir;
  return "-Wl,-R" + dir;
}

std::vector<std::string> UnixCCompiler::libraryOptions(const LinkArgs& args) const {
  std::vector<std::string> options;
  for (const std::string& dir : detail::concat(args.library_dirs, library_dirs))
    options.push_back("-L" + dir);
  for (const std::string& dir : detail::concat(args.runtime_library_dirs, runtime_library_dirs))
    if (auto option = runtimeLibraryDirOption(dir)) options.push_back(std::move(*option));
  for (const std::string& library : detail::concat(args.libraries, libraries)) {
    const fs::path named(library);
    if (!named.has_parent_path()) {
      options.push_back("-l" + library);
    } else if (auto file = findLibraryFile(named.parent_path(), named.filename().string())) {
      options.push_back(*file);
    } else {
      log::root().warning("no library file corresponding to '{}' found (skipping)", library);
    }
  }
  return options;
}

void UnixCCompiler::link(const std::vector<std::string>& linker,
                         const std::vector<std::string>& objects, const std::string& output,
                         const LinkArgs& args) {
  std::vector<std::string> argv = detail::concat(linker, args.extra_preargs);
  if (args.debug) argv.push_back("-g");
  argv.insert(argv.end(), objects.begin(), objects.end());
  for (std::string& option : libraryOptions(args)) argv.push_back(std::move(option));
  argv.insert(argv.end(), {"-o", output});
  argv.insert(argv.end(), args.extra_postargs.begin(), args.extra_postargs.end());
  detail::makeParentDirectory(output);
  spawn(argv, Step::Link);
}

void UnixCCompiler::link_executable(const std::vector<std::string>& objects,
                                    const std::string& output_progname, const LinkArgs& args) {
  link(linker_exe, objects, detail::joinOutput(args.output_dir, output_progname + exe_extension),
       args);
}

void UnixCCompiler::link_shared_object(const std::vector<std::string>& objects,
                                       const std::string& output_filename, const LinkArgs& args) {
  link(linker_so, objects, detail::joinOutput(args.output_dir, output_filename), args);
}

} // namespace quorvex::ccompiler
