#pragma once
// The compiler layer: drives a host C toolchain the way setuptools' compiler classes do. A
// compiler object collects macros, include directories, libraries and library directories,
// then compiles C sources to objects and links executables and shared objects. Every command
// line is logged at INFO through the root logger before it runs; the children inherit the
// tool's standard output and error (so an output capture around a compile sees them).

#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::interpreter {
struct Facts;
}

namespace quorvex::ccompiler {

/// A preprocessor macro: a name, and a value unless it is defined without one.
struct Macro {
  std::string name;
  std::optional<std::string> value;
};

/// A failed compile; the message names the command line.
class CompileError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};
/// A failed link; the message names the command line.
class LinkError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// The optional arguments of one `compile` call, as setuptools names them.
struct CompileArgs {
  std::optional<std::string> output_dir{};
  std::vector<Macro> macros{};
  std::vector<std::string> include_dirs{};
  int debug = 0;
  std::vector<std::string> extra_preargs{};
  std::vector<std::string> extra_postargs{};
  std::vector<std::string> depends{};
};

/// The optional arguments of one link, as setuptools names them.
struct LinkArgs {
  std::optional<std::string> output_dir{};
  std::vector<std::string> libraries{};
  std::vector<std::string> library_dirs{};
  std::vector<std::string> runtime_library_dirs{};
  std::vector<std::string> export_symbols{}; ///< shared objects only
  int debug = 0;
  std::vector<std::string> extra_preargs{};
  std::vector<std::string> extra_postargs{};
  std::optional<std::string> target_lang{};
};

/// A compiler object of one toolchain kind.
class CCompiler {
public:
  virtual ~CCompiler() = default;

  /// "unix", "msvc" or "mingw32".
  virtual std::string compiler_type() const = 0;

  /// Defines a macro, replacing an earlier definition of the same name.
  void define_macro(const std::string& name);
  void define_macro(const std::string& name, long long value);
  void define_macro(const std::string& name, const std::string& value);
  /// Settings used by every later compile or link of this object, after the call's own.
  void add_include_dir(const std::string& dir);
  void add_library_dir(const std::string& dir);
  void add_library(const std::string& name);
  void add_runtime_library_dir(const std::string& dir);

  /// Compiles each source to an object and returns the object paths, one per source, in order.
  virtual std::vector<std::string> compile(const std::vector<std::string>& sources,
                                           const CompileArgs& args = {}) = 0;
  /// Links `objects` into the program `output_progname` (the executable suffix is added).
  virtual void link_executable(const std::vector<std::string>& objects,
                               const std::string& output_progname, const LinkArgs& args = {}) = 0;
  /// Links `objects` into the shared object `output_filename`.
  virtual void link_shared_object(const std::vector<std::string>& objects,
                                  const std::string& output_filename,
                                  const LinkArgs& args = {}) = 0;

  /// Object file name of one source, under `output_dir` when given.
  virtual std::string object_filename(const std::string& source,
                                      const std::optional<std::string>& output_dir) const = 0;

  /// What the setters above collected.
  std::vector<Macro> macros;
  std::vector<std::string> include_dirs;
  std::vector<std::string> libraries;
  std::vector<std::string> library_dirs;
  std::vector<std::string> runtime_library_dirs;

  std::string obj_extension;        ///< ".o" or ".obj"
  std::string exe_extension;        ///< "" or ".exe"
  std::string shared_lib_extension; ///< ".so", ".dylib" or ".dll"

  /// Appends the children's standard output and error to `*sink` instead of letting them
  /// reach the tool's streams, and logs no command lines, so that compiles on several threads
  /// keep their output apart; `sink` must outlive every later compile and link.
  void capture_into(std::string* sink) { sink_ = sink; }

protected:
  enum class Step { Compile, Link };
  /// Logs the command at INFO on the root logger and runs it; a failing run throws
  /// `CompileError` or `LinkError` naming the command line.
  void spawn(const std::vector<std::string>& argv, Step step) const;
  /// Where `capture_into` sends the output, or null.
  std::string* output_sink() const { return sink_; }

private:
  std::string* sink_ = nullptr;
};

/// A compiler object of `kind` ("unix", "msvc" or "mingw32"), which the platform plug-in in use
/// chooses for its target. The "unix" kind takes its programs and flags from the build
/// interpreter's configuration in `facts` (CC, CFLAGS, CCSHARED, LDSHARED, LDFLAGS) as
/// setuptools reads them, with CC, CFLAGS, LDSHARED and LDFLAGS from the environment winning.
/// Throws `std::invalid_argument` for an unknown kind.
std::unique_ptr<CCompiler> new_compiler(const std::string& kind, const interpreter::Facts& facts);

} // namespace quorvex::ccompiler
