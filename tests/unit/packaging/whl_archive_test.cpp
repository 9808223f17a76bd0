// Wheels read back independently of the writer: entries, RECORD, refused names, and what
// Python's own tools make of the result.
#include "core/context.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "packaging/whl.hpp"
#include "packaging/whl_archive.hpp"
#include "packaging/whl_data.hpp"
#include "packaging/whl_layout.hpp"
#include "support/thrown.hpp"
#include "support/fake_platform.hpp"
#include "support/tempdir.hpp"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Names = std::vector<std::string>;

struct ZipEntry {
  std::string name;
  unsigned mode = 0;
  std::string data;
};

std::vector<ZipEntry> readZip(const fs::path& path) {
  std::unique_ptr<archive, int (*)(archive*)> reader(archive_read_new(), archive_read_free);
  archive_read_support_format_zip(reader.get());
  if (archive_read_open_filename(reader.get(), path.c_str(), 65536) != ARCHIVE_OK)
    throw std::runtime_error("cannot open " + path.string());
  std::vector<ZipEntry> entries;
  archive_entry* header = nullptr;
  while (archive_read_next_header(reader.get(), &header) == ARCHIVE_OK) {
    ZipEntry entry{archive_entry_pathname(header), archive_entry_perm(header), {}};
    char buffer[8192];
    la_ssize_t count;
    while ((count = archive_read_data(reader.get(), buffer, sizeof buffer)) > 0)
      entry.data.append(buffer, count);
    entries.push_back(std::move(entry));
  }
  return entries;
}

Names namesOf(const std::vector<ZipEntry>& entries) {
  Names names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

// RECORD is last and holds one line per earlier entry, in order, with its hash and size.
void expectRecordMatches(const std::vector<ZipEntry>& entries) {
  ASSERT_FALSE(entries.empty());
  std::string expected;
  for (std::size_t i = 0; i + 1 < entries.size(); ++i)
    expected += entries[i].name + ",sha256=" + recordHash(entries[i].data) + "," +
                std::to_string(entries[i].data.size()) + "\n";
  EXPECT_EQ(entries.back().data, expected + entries.back().name + ",,");
}

TEST(WheelArchive, NamesThatLeaveTheRootAreRefusedAndNothingIsLeftBehind) {
  TempDir dir;
  EXPECT_EQ(recordHash("abc"), "ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0");
  for (std::string name : {"../evil", "a/../../evil", "/etc/passwd", "C:/x", "a\\b", "", "a/.."}) {
    WheelArchive archive(dir.path() / "x.whl");
    try {
      archive.write_file(name, "data");
      ADD_FAILURE() << "accepted " << name;
    } catch (const std::invalid_argument& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with("Refusing wheel entry '" + name + "': "));
    }
  }
  checkEntryName("a..b/..c/d.."); // dots inside names are fine
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// RECORD is CSV: Python's own reader gets back a data file's name that holds a comma or a quote.
TEST(WheelArchive, RecordQuotesPathsAsCsv) {
  TempDir dir;
  const fs::path wheel = dir.path() / "x-1-py3-none-any.whl";
  {
    WheelArchive archive(wheel);
    archive.write_file("pkg/a,b.txt", "one");
    archive.write_file("pkg/say \"hi\".txt", "two");
    archive.commit("x-1.dist-info/RECORD");
  }
  auto check = process::run({QUORVEX_VENV "/bin/python", "-c", R"(
import csv, io, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as zf:
    rows = list(csv.reader(io.StringIO(zf.read('x-1.dist-info/RECORD').decode())))
    for name, digest, size in rows[:-1]:
        assert int(size) == len(zf.read(name)), name
print([row[0] for row in rows])
)",
                             wheel.string()});
  EXPECT_EQ(check.output, "['pkg/a,b.txt', 'pkg/say \"hi\".txt', 'x-1.dist-info/RECORD']\n");
}

// A platform that places the wheel by copying it, or fails to.
struct FakePlatform : plugin::Plugin {
  Names runtimeLibraries{"libpython3.12.so.1.0"};
  bool failAudit = false;
  std::optional<std::string> fixPlatformName(const std::string& name) override { return name; }
  std::optional<plugin::CompileBasics> getCompileBasics() override {
    return plugin::CompileBasics{};
  }
  std::optional<fs::path> getExePath(const fs::path& path, const std::string& name) override {
    return path.parent_path() / name;
  }
  std::optional<std::vector<plugin::RuntimeLibrary>>
  getRuntimeLibraries(const std::string& name, const std::string& version,
                      const std::optional<fs::path>&) override {
    std::vector<plugin::RuntimeLibrary> records;
    for (const auto& library : runtimeLibraries)
      records.push_back({library.starts_with("../")
                             ? library
                             : name + "-" + version + ".data/scripts/" + library,
                         "bytes of " + library});
    return records;
  }
  std::optional<fs::path> auditWheel(const std::optional<fs::path>&, const fs::path& wheel,
                                     const fs::path& output,
                                     const std::optional<std::string>&) override {
    if (failAudit) throw std::runtime_error("Command failed: auditwheel");
    fs::copy_file(wheel, output / wheel.filename(), fs::copy_options::overwrite_existing);
    return output / wheel.filename();
  }
};

class CreateWheel : public ::testing::Test {
protected:
  CreateWheel() {
    auto owned = std::make_unique<FakePlatform>();
    platform = owned.get();
    manager = testing::managerOf(std::move(owned));
    context = std::make_unique<Context>(*manager, QUORVEX_VENV "/bin/quorvex");
    context->setInterpreter(
        {.major = 3, .minor = 12, .platform = "linux-x86_64",
         .configVars = {{"SOABI", "cpython-312-x86_64-linux-gnu"}, {"Py_GIL_DISABLED", 0},
                        {"EXT_SUFFIX", ".cpython-312-x86_64-linux-gnu.so"}}});
    context->runtimeLibrary = "/rt/libpython3.12.so.1.0";
    writeFile("proj/pyproject.toml", "[project]\nname = \"My.Project-x\"\nversion = \"1.0-beta\"\n"
                                     "description = \"Demo\"\nreadme = \"README.md\"\n"
                                     "dependencies = [\"rich>=13\"]\n"
                                     "optional-dependencies = {TLS = [\"certifi; os_name != "
                                     "'nt'\"]}\n");
    writeFile("proj/README.md", "# Demo\n");
    writeFile("build/demo", "#!/bin/sh\necho hello from demo\n");
    writeFile("build/cli.cpython-312-x86_64-linux-gnu.so", "\x7f" "ELF library");
    fs::create_directories("dist");
  }
  fs::path create(WheelOptions options) {
    options.sourcePath = dir.path() / "proj/src";
    fs::create_directories(*options.sourcePath);
    fs::path exe = options.library ? "build/cli.cpython-312-x86_64-linux-gnu.so" : "build/demo";
    return createWheel(*context, exe, "dist", options);
  }
  std::string errorOf(WheelOptions options) {
    return testing::thrownMessage([&] { create(std::move(options)); });
  }
  TempDir dir;
  FakePlatform* platform = nullptr;
  std::unique_ptr<plugin::PluginManager> manager;
  std::unique_ptr<Context> context;
};

TEST_F(CreateWheel, LibraryWheelHoldsThePackageUnderTheEscapedName) {
  WheelOptions options;
  options.library = true;
  // A file at every compiled module's place, none for the namespace package "demo.ns"; the
  // library in the private package, under a name that is no module's.
  options.modules = {{"demo", true}, {"demo.cli", false}, {"demo.ns.plug", false}};
  options.mainModuleName = "demo.cli";
  writeFile("proj/src/demo/py.typed", "");
  options.packageData = {{"proj/src/demo/py.typed", "demo/py.typed"}};
  fs::path wheel = create(options);
  EXPECT_EQ(wheel, fs::path(".quorvex_build/wrk/my_project_x-1.0b0-cp312-abi3-linux_x86_64.whl"));
  auto entries = readZip(wheel);
  const std::string privatePackage = "_qvx_my_project_x/";
  EXPECT_EQ(namesOf(entries),
            (Names{"demo/__init__.py", "demo/cli.py", "demo/ns/plug.py",
                   privatePackage + "_qvx_my_project_x.lib.so", privatePackage + "__init__.py",
                   "demo/__main__.py", "demo/py.typed",
                   "my_project_x-1.0b0.dist-info/top_level.txt",
                   "my_project_x-1.0b0.dist-info/METADATA", "my_project_x-1.0b0.dist-info/WHEEL",
                   "my_project_x-1.0b0.dist-info/RECORD"}));
  EXPECT_EQ(entries[2].data, moduleStub("_qvx_my_project_x", "demo.ns.plug"));
  EXPECT_EQ(entries[3].data, "\x7f" "ELF library");
  EXPECT_NE(entries[5].data.find("import_module('.cli', __package__)"), std::string::npos);
  EXPECT_EQ(entries[7].data, "_qvx_my_project_x\ndemo\n");
  expectRecordMatches(entries);
  EXPECT_EQ(readFile("dist" / wheel.filename()), readFile(wheel));
  // The package's own "__main__.py" is shipped instead of a generated one; a namespace package
  // gets none.
  options.packageData.push_back({"proj/src/demo/py.typed", "demo/__main__.py"});
  Names data(namesOf(readZip(create(options))));
  EXPECT_EQ(Names(data.begin() + 5, data.begin() + 7),
            (Names{"demo/py.typed", "demo/__main__.py"}));
  options.packageData.clear();
  options.modules = {{"demo.cli", false}, {"demo.ns.plug", false}};
  data = namesOf(readZip(create(options)));
  EXPECT_EQ(Names(data.begin(), data.begin() + 5),
            (Names{"demo/cli.py", "demo/ns/plug.py", privatePackage + "_qvx_my_project_x.lib.so",
                   privatePackage + "__init__.py", "my_project_x-1.0b0.dist-info/top_level.txt"}));
  options.modules = {{"_qvx_my_project_x.cli", false}};
  EXPECT_EQ(errorOf(options), "The top-level module or package '_qvx_my_project_x' has the name "
                              "of the directory that holds the library in the wheel; rename it");
  // Without a package of its own, the library is imported under the project name made a name.
  // Its package data goes below that package; compiled sources and build outputs stay out.
  options.modules.clear();
  options.mainModuleName.reset();
  for (const char* file : {"geo/__init__.py", "geo/__init__.c", "geo/x.json", "geo/t/x.c",
                           "geo/__pycache__/a.pyc", "geo/m.so", "geo/.git/HEAD", "top.txt"})
    writeFile(fs::path("proj/src") / file, "data");
  options.packageData = packageData("proj/src", {"top.py", "./geo/__init__.py"});
  entries = readZip(create(options));
  EXPECT_EQ(namesOf(entries),
            (Names{"my_project_x/my_project_x.lib.so", "my_project_x/__init__.py",
                   "my_project_x/__main__.py", "my_project_x/geo/t/x.c", "my_project_x/geo/x.json",
                   "my_project_x-1.0b0.dist-info/top_level.txt",
                   "my_project_x-1.0b0.dist-info/METADATA", "my_project_x-1.0b0.dist-info/WHEEL",
                   "my_project_x-1.0b0.dist-info/RECORD"}));
  EXPECT_EQ(entries.at(4).data, "data");
  expectRecordMatches(entries);
}

TEST_F(CreateWheel, FailuresLeaveNoWheelOrKeepTheCompleteOne) {
  platform->runtimeLibraries.push_back("../../escape.so");
  EXPECT_EQ(errorOf({}), "Refusing wheel entry '../../escape.so': '..' leaves the wheel's root");
  EXPECT_TRUE(fs::is_empty(".quorvex_build/wrk"));
  EXPECT_TRUE(fs::is_empty("dist"));
  platform->runtimeLibraries.pop_back();
  platform->failAudit = true;
  EXPECT_EQ(errorOf({}), "Command failed: auditwheel");
  expectRecordMatches(
      readZip(".quorvex_build/wrk/my_project_x-1.0b0-cp312-cp312-linux_x86_64.whl"));
  writeFile("proj/pyproject.toml", "[project]\nname = \"demo\"\n");
  EXPECT_EQ(errorOf({}), (dir.path() / "proj/pyproject.toml").string() +
                             ": missing key 'version' in [project]");
}

// The metadata parses strictly, and pip installs the program with its executable bit and the
// runtime library beside it.
TEST_F(CreateWheel, PythonToolsAcceptTheExecutableWheel) {
  fs::path wheel = create({});
  EXPECT_EQ(wheel.filename(), "my_project_x-1.0b0-cp312-cp312-linux_x86_64.whl");
  auto check = process::run({QUORVEX_VENV "/bin/python", "-c", R"(
import sys, zipfile
from packaging.metadata import Metadata
with zipfile.ZipFile(sys.argv[1]) as zf:
    meta = Metadata.from_email(zf.read('my_project_x-1.0b0.dist-info/METADATA'), validate=True)
assert (meta.name, str(meta.version), meta.summary) == ('My.Project-x', '1.0b0', 'Demo'), meta
assert meta.provides_extra == ['tls'], meta.provides_extra
assert [str(r) for r in meta.requires_dist] == [
    'rich>=13', 'certifi; os_name != "nt" and extra == "tls"'], meta.requires_dist
assert meta.description_content_type == 'text/markdown'
print('ok')
)",
                             wheel.string()});
  EXPECT_EQ(check.output, "ok\n");
  auto install = process::run({QUORVEX_VENV "/bin/python", "-m", "pip", "install", "--no-deps",
                               "--no-index", "--disable-pip-version-check", "--target", "site",
                               wheel.string()},
                              {.timeout = std::chrono::seconds(300)});
  ASSERT_TRUE(install.ok()) << install.output;
  EXPECT_EQ(readFile("site/bin/libpython3.12.so.1.0"), "bytes of libpython3.12.so.1.0");
  EXPECT_EQ(process::run({(dir.path() / "site/bin/My.Project-x").string()}).output,
            "hello from demo\n");
}

// `python -m package` ends as `sys.exit(main())` would; without a main() it runs nothing more.
TEST(PackageMain, ExitsWithTheResultOfMain) {
  TempDir dir;
  const std::pair<const char*, std::pair<int, const char*>> cases[] = {
      {"def main():\n    print('ran')\n    return 3\n", {3, "ran\n"}},
      {"def main():\n    print('ran')\n", {0, "ran\n"}},
      {"def main():\n    return 'failed'\n", {1, "failed\n"}},
      {"print('imported')\n", {0, "imported\n"}}};
  int number = 0;
  for (const auto& [module, outcome] : cases) {
    const std::string package = "pkg" + std::to_string(++number);
    writeFile(package + "/__init__.py", "");
    writeFile(package + "/cli.py", module);
    writeFile(package + "/__main__.py", packageMain("cli"));
    const process::Result ran = process::run({QUORVEX_VENV "/bin/python", "-m", package});
    EXPECT_EQ(ran.exitCode, outcome.first) << module << ran.output;
    EXPECT_EQ(ran.output, outcome.second) << module;
  }
}

} // namespace
} // namespace quorvex::whl
