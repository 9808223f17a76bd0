#pragma once
// A compiler object for x86-64 Windows on a Linux host: it drives the llvm-mingw clang driver
// (whose name carries the target) and provisions what it needs, the toolchain and a Windows
// Python made of the embeddable distribution and the source release's headers.

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quorvex::cross {

/// Compiles C sources and links Windows executables (".exe") and extension modules (".pyd").
/// Every command runs as an argument vector, without a shell; a failing command raises a
/// `std::runtime_error` with its exit status and command line.
class CrossCompiler {
public:
  CrossCompiler();
  /// A new compiler with the initial settings.
  static CrossCompiler newCompiler();

  /// Stores `value` under `name`: a new name goes last, a known one keeps its place.
  void define_macro(const std::string& name, const std::string& value);
  void add_include_dir(const std::filesystem::path& newDir);
  void add_library_dir(const std::filesystem::path& newDir);

  /// Compiles each source to the object beside it (its last suffix replaced by ".o") and
  /// returns those object paths in source order.
  std::vector<std::string> compile(const std::vector<std::filesystem::path>& sources) const;
  /// Links `output_dir`/`outputName` with the suffix ".exe" against python312.
  void link_executable(const std::vector<std::filesystem::path>& objects,
                       const std::filesystem::path& outputName,
                       const std::filesystem::path& output_dir = ".") const;
  /// Links `output_dir`/`outputName` with the suffix ".pyd" against python312.
  void link_shared_object(const std::vector<std::filesystem::path>& objects,
                          const std::filesystem::path& outputName,
                          const std::filesystem::path& output_dir = ".") const;

  /// Provisions a Windows CPython `version` in `target`: the embeddable archive unpacked into
  /// "embed" and the source release's headers in "include"; both archives and the rest of the
  /// source tree stay. The working directory is left alone.
  void prepare_python(const std::string& version, const std::filesystem::path& target) const;
  /// Fetches the llvm-mingw toolchain as "llvm.zip" in the working directory and unpacks it
  /// into `target`.
  void download(const std::filesystem::path& target) const;
  /// Fetches `url` into the file `target`, streamed in chunks of at most 1 MiB, and returns
  /// `target`. An HTTP error status or a broken transfer raises an error naming the address;
  /// the file appears only when complete.
  std::filesystem::path downloadFile(const std::filesystem::path& target,
                                     const std::string& url) const;
  /// Extracts the zip archive `fileName` into `targetDir`.
  void unpackZip(const std::filesystem::path& targetDir,
                 const std::filesystem::path& fileName) const;
  /// Extracts the xz-compressed tar archive `fileName` into `targetDir`; any other compression,
  /// or none, is refused.
  void unpackXz(const std::filesystem::path& targetDir,
                const std::filesystem::path& fileName) const;

  /// -D definitions of every compile, in insertion order.
  std::vector<std::pair<std::string, std::string>> macros;
  /// -I directories of every compile.
  std::vector<std::filesystem::path> includeDirs;
  /// -L directories of every link.
  std::vector<std::filesystem::path> libDirs;
  /// The driver program, looked up along PATH unless it is a path.
  std::string compiler;
};

} // namespace quorvex::cross
