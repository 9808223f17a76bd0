// Downloads from a local HTTP server, hostile archives, and a real cross build run under wine.
#include "crosscompile/cross.hpp"

#include "core/process.hpp"
#include "core/utils.hpp"
#include "support/thrown.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <thread>

namespace fs = std::filesystem;
namespace process = quorvex::process;
using quorvex::cross::CrossCompiler;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace {

const std::string python = QUORVEX_VENV "/bin/python";
// What scripts/setup-windows provides; its `env` file sets up wine.
const fs::path windows = QUORVEX_VENV "/windows";

std::string run(const std::string& shellCommand) {
  const process::Result result = process::run({"sh", "-c", shellCommand}, {.input = ""});
  if (!result.ok()) throw std::runtime_error(shellCommand + " failed: " + result.output);
  return result.output;
}

// Python's http.server on 127.0.0.1 serving `dir`, stopped when the guard goes.
struct Server {
  explicit Server(const std::string& dir) {
    pid = std::stoi(run(python + " -u -m http.server -b 127.0.0.1 -d " + dir +
                        " 0 >server.log 2>&1 </dev/null & echo $!"));
    for (int i = 0; i < 200 && url.empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      const std::string log = readFile("server.log");
      if (log.find(") ...") != std::string::npos)
        url = "http://127.0.0.1:" + std::to_string(std::stoi(log.substr(log.find(" port ") + 6)));
    }
  }
  ~Server() { kill(pid, SIGTERM); }
  int pid = 0;
  std::string url;
};

} // namespace

TEST(CrossDownloads, FilesArriveWholeOrNotAtAll) {
  TempDir dir;
  std::string body(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 % 251);
  writeFile("srv/big.bin", body);
  writeFile("got/.keep", "");
  Server server("srv");
  const CrossCompiler cc;
  EXPECT_EQ(cc.downloadFile("got/big.bin", server.url + "/big.bin"), "got/big.bin");
  EXPECT_TRUE(readFile("got/big.bin") == body);
  EXPECT_EQ(quorvex::testing::thrownMessage([&] { cc.downloadFile("got/x.zip", server.url + "/x.zip"); }),
            "cannot download " + server.url + "/x.zip: HTTP status 404");
  EXPECT_EQ(std::distance(fs::directory_iterator("got"), {}), 2); // no x.zip, no temporary

  // The toolchain, from the release area of a mirror: saved as llvm.zip where the caller is,
  // unpacked into the target.
  run(python + " -c \"import zipfile\n"
               "with zipfile.ZipFile('srv/llvm-release.zip', 'w') as z:\n"
               "    z.writestr('llvm-mingw/bin/x86_64-w64-mingw32-clang', 'driver')\"");
  const fs::path release = "srv/releases/download/20260602";
  fs::create_directories(release);
  fs::rename("srv/llvm-release.zip", release / "llvm-mingw-20260602-ucrt-i686.zip");
  quorvex::utils::withEnv base("QUORVEX_LLVM_MINGW_DOWNLOAD_BASE", server.url + "/");
  cc.download("toolchain");
  EXPECT_TRUE(readFile("llvm.zip") == readFile(release / "llvm-mingw-20260602-ucrt-i686.zip"));
  EXPECT_EQ(readFile("toolchain/llvm-mingw/bin/x86_64-w64-mingw32-clang"), "driver");
}

TEST(CrossArchives, MembersLeadingOutAreRefusedAndOnlyXzIsXz) {
  TempDir dir;
  run(python + " - " + dir.path().string() + R"( <<'EOF'
import io, sys, tarfile, zipfile
with zipfile.ZipFile('dotdot.zip', 'w') as z: z.writestr('ok.txt', 'x'); z.writestr('../evil', 'x')
def tar(name, member, link=None):
    with tarfile.open(name, 'w:xz') as t:
        info = tarfile.TarInfo(member)
        if link: info.type, info.linkname = tarfile.SYMTYPE, link
        t.addfile(info, io.BytesIO(b''))
tar('absolute.tar.xz', sys.argv[1] + '/evil')
tar('link.tar.xz', 'up', '../..')
with tarfile.open('plain.tar.gz', 'w:gz') as t: t.add('dotdot.zip')
EOF)");
  const CrossCompiler cc;
  const std::string out = "' leads outside the extraction directory";
  const std::pair<fs::path, std::string> cases[] = {
      {"dotdot.zip", "member '../evil" + out},
      {"absolute.tar.xz", "member '" + (dir.path() / "evil").string() + out},
      {"link.tar.xz", "member 'up" + out},
      {"plain.tar.gz", "not an xz-compressed tar archive"}};
  for (const auto& [archive, reason] : cases)
    EXPECT_EQ(quorvex::testing::thrownMessage([&] {
                archive.extension() == ".zip" ? cc.unpackZip("out", archive)
                                              : cc.unpackXz("out", archive);
              }),
              "cannot unpack " + archive.string() + ": " + reason);
  EXPECT_FALSE(fs::exists("evil") || fs::exists(dir.path().parent_path() / "evil") ||
               fs::exists("out/up"));
}

TEST(WineCrossBuild, ProvisionedPythonRunsAnEmbeddingProgramWithItsExtension) {
  TempDir dir;
  const fs::path area = "srv/ftp/python/3.12.9";
  fs::create_directories(area);
  fs::create_directory("Python-3.12.9");
  fs::copy(windows / "include", "Python-3.12.9/Include", fs::copy_options::recursive);
  run(python + " -c \"import shutil\nshutil.make_archive('" + area.string() +
      "/python-3.12.9-embed-amd64', 'zip', '" + (windows / "python").string() + "')\n" +
      "shutil.make_archive('" + area.string() + "/Python-3.12.9', 'xztar', '.', 'Python-3.12.9')\"");
  fs::remove_all("Python-3.12.9");
  Server server("srv");
  quorvex::utils::withEnv base("QUORVEX_PYTHON_DOWNLOAD_BASE", server.url);

  CrossCompiler cc = CrossCompiler::newCompiler();
  cc.prepare_python("3.12.9", "win/py");
  EXPECT_EQ(fs::current_path(), dir.path());
  for (const char* path : {"python-3.12.9-embed-amd64.zip", "Python-3.12.9.tar.xz",
                           "embed/python312.dll", "include/Python.h", "Python-3.12.9"})
    EXPECT_TRUE(fs::exists(fs::path("win/py") / path)) << path;
  EXPECT_FALSE(fs::exists("win/py/Python-3.12.9/Include"));

  // The embeddable distribution has no import library: link against the set-up's.
  fs::copy_file(windows / "libs/python312.lib", "win/py/embed/python312.lib");
  cc.compiler = (windows / "bin/x86_64-w64-mingw32-clang").string();
  cc.includeDirs = {"win/py/include"};
  cc.libDirs = {"win/py/embed"};
  cc.define_macro("FACTOR", "2");
  // Blanks and shell metacharacters in paths are plain characters.
  writeFile("c src;1/spam.c", R"(#include <Python.h>
static PyObject* scale(PyObject* m, PyObject* n) { return PyLong_FromLong(FACTOR * PyLong_AsLong(n)); }
static PyMethodDef methods[] = {{"scale", scale, METH_O, NULL}, {NULL}};
static struct PyModuleDef spam = {PyModuleDef_HEAD_INIT, "spam", NULL, -1, methods};
PyMODINIT_FUNC PyInit_spam(void) { return PyModule_Create(&spam); })");
  writeFile("c src;1/app.c", R"c(#include <Python.h>
int wmain(void) {
  Py_Initialize();
  int status = PyRun_SimpleString("import sys, spam\nprint(spam.scale(21), spam.scale(-4), sys.version)");
  return Py_FinalizeEx() < 0 || status != 0;
})c");
  writeFile("c src;1/broken.c", "int main(void) { return missing; }\n");
  EXPECT_NE(quorvex::testing::thrownMessage([&] { cc.compile({"c src;1/broken.c"}); }).find("failed with exit code 1"),
            std::string::npos);
  EXPECT_FALSE(fs::exists("c src;1/broken.o"));
  const auto objects = cc.compile({"c src;1/spam.c", "./c src;1/app.c"});
  EXPECT_EQ(objects, (std::vector<std::string>{"c src;1/spam.o", "c src;1/app.o"}));
  cc.link_shared_object({objects[0]}, "spam.module", "win/py/embed");
  cc.link_executable({objects[1]}, "app", "win/py/embed");

  const std::string output = run(". " + (windows / "env").string() + " && wine win/py/embed/app.exe");
  EXPECT_TRUE(output.starts_with("42 -8 3.12.9 (")) << output;
}
