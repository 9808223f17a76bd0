#pragma once
// The compiler kinds behind `new_compiler`, and the helpers they share. Internal to the
// compiler layer; callers use `ccompiler.hpp`.

#include "core/ccompiler.hpp"
#include "core/interpreter.hpp"

#include <map>
#include <string>
#include <vector>

namespace quorvex::ccompiler {

/// gcc or clang driven with the build interpreter's configured programs and flags.
class UnixCCompiler : public CCompiler {
public:
  /// Reads CC, CFLAGS, CCSHARED and LDSHARED from the build interpreter's configuration, with
  /// CC, LDSHARED, CFLAGS and LDFLAGS of the environment applied on top.
  explicit UnixCCompiler(const interpreter::Facts& facts);
  std::string compiler_type() const override { return "unix"; }
  std::vector<std::string> compile(const std::vector<std::string>& sources,
                                   const CompileArgs& args) override;
  void link_executable(const std::vector<std::string>& objects,
                       const std::string& output_progname, const LinkArgs& args) override;
  void link_shared_object(const std::vector<std::string>& objects,
                          const std::string& output_filename, const LinkArgs& args) override;
  std::string object_filename(const std::string& source,
                              const std::optional<std::string>& output_dir) const override;

  std::vector<std::string> compiler_so; ///< program and flags of every compile
  std::vector<std::string> linker_so;   ///< program and flags of shared-object links
  std::vector<std::string> linker_exe;  ///< program and flags of executable links

protected:
  UnixCCompiler(std::vector<std::string> compilerSo, std::vector<std::string> linkerSo,
                std::vector<std::string> linkerExe);
  void link(const std::vector<std::string>& linker, const std::vector<std::string>& objects,
            const std::string& output, const LinkArgs& args);
  /// `-L`, run-time path and `-l` options for one link.
  std::vector<std::string> libraryOptions(const LinkArgs& args) const;
  /// The option that records `dir` as a run-time search path in the linked file, or none
  /// where the target has no such path.
  virtual std::optional<std::string> runtimeLibraryDirOption(const std::string& dir) const;
  /// Source suffixes this kind compiles.
  virtual const std::vector<std::string>& sourceExtensions() const;

private:
  // What the run-time path option depends on: the target's platform and the linker.
  bool darwinTarget_ = false;
  bool gnuLinker_ = false;
};

/// MinGW gcc or llvm-mingw clang targeting Windows: gcc-style command lines, `.exe`, `.dll`.
class Mingw32CCompiler : public UnixCCompiler {
public:
  /// The compiler program is CC from the environment, "gcc" when unset.
  Mingw32CCompiler();
  std::string compiler_type() const override { return "mingw32"; }
  std::vector<std::string> compile(const std::vector<std::string>& sources,
                                   const CompileArgs& args) override;
  std::string object_filename(const std::string& source,
                              const std::optional<std::string>& output_dir) const override;

protected:
  std::optional<std::string> runtimeLibraryDirOption(const std::string& dir) const override;
  const std::vector<std::string>& sourceExtensions() const override;
};

/// Microsoft's cl.exe and link.exe.
class MSVCCompiler : public CCompiler {
public:
  MSVCCompiler();
  std::string compiler_type() const override { return "msvc"; }
  std::vector<std::string> compile(const std::vector<std::string>& sources,
                                   const CompileArgs& args) override;
  void link_executable(const std::vector<std::string>& objects,
                       const std::string& output_progname, const LinkArgs& args) override;
  void link_shared_object(const std::vector<std::string>& objects,
                          const std::string& output_filename, const LinkArgs& args) override;
  std::string object_filename(const std::string& source,
                              const std::optional<std::string>& output_dir) const override;

private:
  void link(bool dll, const std::vector<std::string>& objects, const std::string& output,
            const LinkArgs& args);
};

namespace detail {

/// The object path of `source` as setuptools names it: the source path without its suffix
/// (and without a leading root), `suffix` appended, under `output_dir` when given. Throws
/// `CompileError` for a suffix outside `extensions`.
std::string objectPath(const std::string& source, const std::optional<std::string>& output_dir,
                       const std::vector<std::string>& extensions, const std::string& suffix,
                       bool keepSourceSuffix = false);

/// `-D`/`-I` options for the compiler's and the call's macros and include directories.
std::vector<std::string> preprocessOptions(const std::vector<Macro>& macros,
                                           const std::vector<std::string>& includeDirs);

/// Makes the parent directory of `file` (and its parents) when it has one.
void makeParentDirectory(const std::string& file);

/// `output` under `dir` when one is given.
std::string joinOutput(const std::optional<std::string>& dir, const std::string& output);

/// The caller's list followed by the compiler object's own.
std::vector<std::string> concat(const std::vector<std::string>& first,
                                const std::vector<std::string>& second);

} // namespace detail

} // namespace quorvex::ccompiler
