#include "core/utils.hpp"

#include <cstdio>
#include <string>
#include <unordered_set>

namespace quorvex::utils {

namespace {

// A field the answer leaves out counts as an empty list.
const std::vector<std::string>& entry(const plugin::LinkerInfo::Strings& field) {
  static const std::vector<std::string> none;
  return field ? *field : none;
}

void append(std::vector<std::string>& list, const std::vector<std::string>& more) {
  list.insert(list.end(), more.begin(), more.end());
}

// Keeps the first occurrence of every value, in place.
void dedupe(std::vector<std::string>& list) {
  std::unordered_set<std::string> seen;
  std::erase_if(list, [&](const std::string& value) { return !seen.insert(value).second; });
}

// The caller's link arguments with the platform's linker information merged in;
// `platformPreargs` is the field whose arguments follow the caller's pre-arguments.
ccompiler::LinkArgs mergeLinkArgs(const ccompiler::LinkArgs& args, const plugin::LinkerInfo& info,
                                  plugin::LinkerInfo::Strings plugin::LinkerInfo::*platformPreargs) {
  ccompiler::LinkArgs merged = args;
  append(merged.library_dirs, entry(info.libraryDirs));
  append(merged.libraries, entry(info.libraries));
  append(merged.runtime_library_dirs, entry(info.runtimeLibraryDirs));
  append(merged.extra_preargs, entry(info.*platformPreargs));
  append(merged.extra_preargs, entry(info.linkerArgsEntangle));
  dedupe(merged.libraries);
  dedupe(merged.library_dirs);
  return merged;
}

std::vector<std::string> withExtraObjects(const std::vector<std::string>& objects,
                                          const plugin::LinkerInfo& info) {
  std::vector<std::string> all(objects);
  append(all, entry(info.extraObjects));
  return all;
}

} // namespace

PlatformCompiler::PlatformCompiler(std::unique_ptr<ccompiler::CCompiler> compiler,
                                   std::vector<std::string> compile_args,
                                   std::vector<std::string> compile_lib_args,
                                   LinkerArgsCallback get_linker_args)
    : _compiler(std::move(compiler)), _compile_args(std::move(compile_args)),
      _compile_lib_args(std::move(compile_lib_args)),
      _get_linker_args(std::move(get_linker_args)) {}

std::vector<std::string> PlatformCompiler::compile(const std::vector<std::string>& sources,
                                                   const ccompiler::CompileArgs& args) {
  // Built anew on every call, so repeated compiles on one wrapper do not accumulate.
  ccompiler::CompileArgs withPlatform = args;
  append(withPlatform.extra_postargs, _compile_args);
  if (_library) append(withPlatform.extra_postargs, _compile_lib_args);
  return _compiler->compile(sources, withPlatform);
}

plugin::LinkerInfo PlatformCompiler::_linker_info(const std::string& output_name) {
  if (!_get_linker_args) return {};
  return _get_linker_args(_productName.value_or(output_name), _libraryPath)
      .value_or(plugin::LinkerInfo{});
}

void PlatformCompiler::link_executable(const std::vector<std::string>& objects,
                                       const std::string& output_progname,
                                       const ccompiler::LinkArgs& args) {
  const plugin::LinkerInfo info = _linker_info(output_progname);
  const std::vector<std::string> allObjects = withExtraObjects(objects, info);
  const ccompiler::LinkArgs merged = mergeLinkArgs(args, info, &plugin::LinkerInfo::linkerArgs);
  try {
    _compiler->link_executable(allObjects, output_progname, merged);
  } catch (const std::exception& error) {
    const std::string line = std::string("Link failed: ") + error.what() + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    throw;
  }
}

void PlatformCompiler::link_shared_object(const std::vector<std::string>& objects,
                                          const std::string& output_filename,
                                          const ccompiler::LinkArgs& args) {
  const plugin::LinkerInfo info = _linker_info(output_filename);
  _compiler->link_shared_object(withExtraObjects(objects, info), output_filename,
                                mergeLinkArgs(args, info, &plugin::LinkerInfo::libraryLinkerArgs));
}

} // namespace quorvex::utils
