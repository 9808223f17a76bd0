#include "core/ccompiler_kinds.hpp"
#include "core/utils.hpp"

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace quorvex::ccompiler {

namespace {

std::string mingwCompiler() {
  const char* cc = std::getenv("CC");
  return cc && *cc ? cc : "gcc";
}

bool isResource(const std::string& source) {
  const std::string ext = fs::path(source).extension().string();
  return ext == ".rc" || ext == ".res";
}

} // namespace

Mingw32CCompiler::Mingw32CCompiler()
    : UnixCCompiler(
          detail::concat(utils::splitCommand(mingwCompiler()), {"-shared", "-O", "-Wall"}),
          detail::concat(utils::splitCommand(mingwCompiler()), {"-shared"}),
          utils::splitCommand(mingwCompiler())) {
  obj_extension = ".o";
  exe_extension = ".exe";
  shared_lib_extension = ".dll";
}

const std::vector<std::string>& Mingw32CCompiler::sourceExtensions() const {
  static const std::vector<std::string> extensions{".c",   ".C", ".cc", ".cxx",
                                                   ".cpp", ".m", ".rc", ".res"};
  return extensions;
}

std::string Mingw32CCompiler::object_filename(const std::string& source,
                                              const std::optional<std::string>& output_dir) const {
  // Resource scripts keep their suffix so that app.rc and app.c give different objects.
  return detail::objectPath(source, output_dir, sourceExtensions(), obj_extension,
                            isResource(source));
}

std::vector<std::string> Mingw32CCompiler::compile(const std::vector<std::string>& sources,
                                                   const CompileArgs& args) {
  std::vector<std::string> objects;
  for (const std::string& source : sources) {
    if (!isResource(source)) {
      std::vector<std::string> one = UnixCCompiler::compile({source}, args);
      objects.push_back(one.front());
      continue;
    }
    std::string object = object_filename(source, args.output_dir);
    detail::makeParentDirectory(object);
    spawn({"windres", "-i", source, "-o", object}, Step::Compile);
    objects.push_back(std::move(object));
  }
  return objects;
}

std::optional<std::string> Mingw32CCompiler::runtimeLibraryDirOption(const std::string&) const {
  // Windows executables have no run-time library search path.
  return std::nullopt;
}

} // namespace quorvex::ccompiler
