#include "core/log.hpp"
#include "core/plugin.hpp"
#include "core/process.hpp"
#include "packaging/whl.hpp"
#include "packaging/whl_archive.hpp"
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

struct ZipEntry {
  std::string name;
  unsigned mode = 0;
  std::string data;
};

// Reads an archive back with libarchive, independent of the writer's bookkeeping.
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

std::vector<std::string> namesOf(const std::vector<ZipEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  return names;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
    result.push_back(text.substr(start, end - start));
  result.push_back(text.substr(start));
  return result;
}

// Every RECORD line but the last must describe the entry at the same place, byte for byte.
void expectRecordMatches(const std::vector<ZipEntry>& entries) {
  ASSERT_FALSE(entries.empty());
  const ZipEntry& record = entries.back();
  auto recordLines = lines(record.data);
  ASSERT_EQ(recordLines.size(), entries.size());
  for (std::size_t i = 0; i + 1 < entries.size(); ++i)
    EXPECT_EQ(recordLines[i], entries[i].name + ",sha256=" + recordHash(entries[i].data) + "," +
                                  std::to_string(entries[i].data.size()));
  EXPECT_EQ(recordLines.back(), record.name + ",,");
}

TEST(RecordHash, UnpaddedUrlSafeBase64OfSha256) {
  EXPECT_EQ(recordHash(""), "47DEQpj8HBSa-_TImW-5JCeuQeRkm5NMpJWZG3hSuFU");
  EXPECT_EQ(recordHash("abc"), "ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0");
  TempDir dir;
  writeFile("f", "abc");
  EXPECT_EQ(hash_file("f"),
            std::make_pair(std::string("sha256=ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0"),
                           std::uintmax_t(3)));
}

TEST(WheelArchive, EntriesAndRecordLinesInWriteOrder) {
  TempDir dir;
  {
    WheelArchive archive(dir.path() / "x.whl");
    archive.write_file("a/empty", "");
    archive.write_file("a/utf8,name", "\xC3\xA9t\xC3\xA9"); // size counts bytes, name unquoted
    archive.write_file("bin/tool", std::string(100000, 'x'), WheelArchive::programMode);
    EXPECT_EQ(archive.records().at(0),
              "a/empty,sha256=47DEQpj8HBSa-_TImW-5JCeuQeRkm5NMpJWZG3hSuFU,0");
    EXPECT_TRUE(archive.records().at(1).ends_with(",5"));
    EXPECT_FALSE(fs::exists(dir.path() / "x.whl")); // not before RECORD is written
    archive.commit("x-1.dist-info/RECORD");
  }
  auto entries = readZip(dir.path() / "x.whl");
  EXPECT_EQ(namesOf(entries), (std::vector<std::string>{"a/empty", "a/utf8,name", "bin/tool",
                                                        "x-1.dist-info/RECORD"}));
  EXPECT_EQ(entries[0].mode, 0600u);
  EXPECT_EQ(entries[2].mode, 0755u);
  EXPECT_EQ(entries[2].data.size(), 100000u);
  EXPECT_FALSE(entries[3].data.ends_with("\n"));
  expectRecordMatches(entries);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(WheelArchive, NamesThatLeaveTheRootAreRefusedAndNothingIsLeftBehind) {
  TempDir dir;
  for (std::string name : {"../evil", "a/../../evil", "/etc/passwd", "C:/x", "a\\b", "", "a/.."}) {
    WheelArchive archive(dir.path() / "x.whl");
    try {
      archive.write_file(name, "data");
      ADD_FAILURE() << "accepted " << name;
    } catch (const std::invalid_argument& error) {
      EXPECT_TRUE(std::string(error.what()).starts_with("Refusing wheel entry '" + name + "': "));
      if (name == "../evil") {
        EXPECT_STREQ(error.what(), "Refusing wheel entry '../evil': '..' leaves the wheel's root");
      }
    }
    EXPECT_TRUE(archive.records().empty());
  }
  checkEntryName("a..b/..c/d.."); // dots inside names are fine
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A platform that records the hooks it is asked and places the wheel by copying it.
class FakePlatform : public plugin::Plugin {
public:
  std::vector<std::string> calls;
  std::vector<std::string> runtimeLibraries{"libpython3.12.so.1.0"};
  bool failAudit = false;

  std::optional<std::string> fixPlatformName(const std::string& name) override {
    calls.push_back("fixPlatformName " + name);
    return name;
  }
  std::optional<plugin::CompileBasics> getCompileBasics() override {
    calls.push_back("getCompileBasics");
    return plugin::CompileBasics{};
  }
  std::optional<fs::path> getExePath(const fs::path& path, const std::string& name) override {
    calls.push_back("getExePath " + path.string() + " " + name);
    return path.parent_path() / name;
  }
  std::optional<std::vector<plugin::RuntimeLibrary>>
  getRuntimeLibraries(const std::string& name, const std::string& version,
                      const std::optional<fs::path>& runtime) override {
    calls.push_back("getRuntimeLibraries " + name + " " + version + " " + runtime->string());
    std::vector<plugin::RuntimeLibrary> records;
    std::string scripts = name + "-" + version + ".data/scripts/";
    for (const auto& library : runtimeLibraries)
      records.push_back({library.starts_with("../") ? library : scripts + library,
                         "bytes of " + library});
    return records;
  }
  void auditWheel(const std::optional<fs::path>& runtime, const fs::path& wheel,
                  const fs::path& output, const std::optional<std::string>& policy) override {
    calls.push_back("auditWheel " + runtime->string() + " " + wheel.string() + " " +
                    output.string() + " " + policy.value_or("None"));
    if (failAudit) throw std::runtime_error("Command failed: auditwheel");
    fs::copy_file(wheel, output / wheel.filename(), fs::copy_options::overwrite_existing);
  }
};

class CreateWheel : public ::testing::Test {
protected:
  CreateWheel() {
    auto owned = std::make_unique<FakePlatform>();
    platform = owned.get();
    std::vector<std::unique_ptr<plugin::Plugin>> plugins;
    plugins.push_back(std::move(owned));
    manager = std::make_unique<plugin::PluginManager>(std::move(plugins));
    values.major = 3;
    values.minor = 12;
    values.soabi = "cpython-312-x86_64-linux-gnu";
    values.gilDisabled = 0;
    values.platform = "linux-x86_64";
    values.extSuffix = ".cpython-312-x86_64-linux-gnu.so";
    writeFile("proj/pyproject.toml", "[project]\nname = \"demo\"\nversion = \"1.0\"\n"
                                     "description = \"Demo\"\nreadme = \"README.md\"\n"
                                     "dependencies = [\"rich>=13\"]\n"
                                     "authors = [{name = \"Ada\", email = \"ada@example.org\"}]\n"
                                     "[project.urls]\nHome = \"https://example.org\"\n");
    writeFile("proj/README.md", "# Demo\n");
    writeFile("build/demo", "#!/bin/sh\necho hello from demo\n");
    writeFile("build/cli.cpython-312-x86_64-linux-gnu.so", "\x7f" "ELF library");
    fs::create_directories("dist");
  }

  fs::path create(WheelOptions options) {
    options.sourcePath = dir.path() / "proj/src";
    fs::create_directories(*options.sourcePath);
    WheelEnvironment environment{*manager, values,
                                 [] { return fs::path("/rt/libpython3.12.so.1.0"); }};
    fs::path exe = options.library ? "build/cli.cpython-312-x86_64-linux-gnu.so" : "build/demo";
    return createWheel(exe, "dist", options, environment);
  }

  std::string errorOf(WheelOptions options) {
    try {
      create(std::move(options));
    } catch (const std::exception& error) {
      return error.what();
    }
    return "no error";
  }

  TempDir dir;
  FakePlatform* platform = nullptr;
  std::unique_ptr<plugin::PluginManager> manager;
  InterpreterValues values;
};

TEST_F(CreateWheel, LibraryWheelHoldsThePackageAndItsMetadata) {
  WheelOptions options;
  options.library = true;
  options.topPackage = "demo";
  options.mainModuleName = "demo.cli";
  options.policy = "manylinux_2_28";
  fs::path wheel = create(options);
  EXPECT_EQ(wheel, fs::path(".quorvex_build/wrk/demo-1.0-cp312-abi3-linux_x86_64.whl"));
  EXPECT_EQ(platform->calls,
            (std::vector<std::string>{"fixPlatformName linux_x86_64", "getCompileBasics",
                                      "getExePath . demo",
                                      "auditWheel /rt/libpython3.12.so.1.0 " + wheel.string() +
                                          " dist manylinux_2_28"}));
  auto entries = readZip(wheel);
  EXPECT_EQ(namesOf(entries),
            (std::vector<std::string>{"demo/demo.so", "demo/__init__.py", "demo/__main__.py",
                                      "demo-1.0.dist-info/top_level.txt",
                                      "demo-1.0.dist-info/METADATA", "demo-1.0.dist-info/WHEEL",
                                      "demo-1.0.dist-info/RECORD"}));
  EXPECT_EQ(entries[0].data, "\x7f" "ELF library");
  // The package's own compiled body is its namespace: no main module's names are re-exported.
  EXPECT_EQ(entries[1].data.find("import *"), std::string::npos);
  EXPECT_NE(entries[2].data.find("_importlib.import_module('.cli', __package__)"),
            std::string::npos);
  EXPECT_EQ(entries[3].data, "demo");
  EXPECT_EQ(entries[5].data, "Wheel-Version: 1.0\nGenerator: Quorvex-custom 0.00.0000\n"
                             "Root-Is-Purelib: false\nTag: cp312-abi3-linux_x86_64\n");
  expectRecordMatches(entries);
  EXPECT_EQ(readFile("dist/demo-1.0-cp312-abi3-linux_x86_64.whl"), readFile(wheel));
}

TEST_F(CreateWheel, ExecutableWheelCarriesTheProgramAndTheRuntimeLibraries) {
  platform->runtimeLibraries.push_back("libpython3.12.so");
  fs::path wheel = create({});
  EXPECT_EQ(wheel.filename(), "demo-1.0-cp312-cp312-linux_x86_64.whl");
  EXPECT_EQ(platform->calls[3], "getRuntimeLibraries demo 1.0 /rt/libpython3.12.so.1.0");
  EXPECT_TRUE(platform->calls[4].starts_with("auditWheel /rt/libpython3.12.so.1.0 "));
  auto entries = readZip(wheel);
  EXPECT_EQ(namesOf(entries),
            (std::vector<std::string>{"demo-1.0.data/scripts/demo",
                                      "demo-1.0.data/scripts/libpython3.12.so.1.0",
                                      "demo-1.0.data/scripts/libpython3.12.so",
                                      "demo-1.0.dist-info/METADATA", "demo-1.0.dist-info/WHEEL",
                                      "demo-1.0.dist-info/RECORD"}));
  EXPECT_EQ(entries[0].mode, 0755u);
  EXPECT_EQ(entries[1].data, "bytes of libpython3.12.so.1.0");
  EXPECT_TRUE(entries[3].data.starts_with("Metadata-Version: 2.1\nName: demo\n"));
  expectRecordMatches(entries);
}

TEST_F(CreateWheel, AFailureWhileWritingLeavesNoWheelAndSkipsTheHandOff) {
  platform->runtimeLibraries.push_back("../../escape.so");
  EXPECT_EQ(errorOf({}),
            "Refusing wheel entry '../../escape.so': '..' leaves the wheel's root");
  EXPECT_TRUE(fs::is_empty(".quorvex_build/wrk"));
  EXPECT_TRUE(fs::is_empty("dist"));
  EXPECT_EQ(platform->calls.back(), "getRuntimeLibraries demo 1.0 /rt/libpython3.12.so.1.0");
}

TEST_F(CreateWheel, AFailedHandOffKeepsTheCompleteWheel) {
  platform->failAudit = true;
  EXPECT_EQ(errorOf({}), "Command failed: auditwheel");
  auto entries = readZip(".quorvex_build/wrk/demo-1.0-cp312-cp312-linux_x86_64.whl");
  EXPECT_EQ(entries.size(), 5u);
  expectRecordMatches(entries);
}

TEST_F(CreateWheel, ProjectErrorsComeBeforeAnyHookOrFile) {
  fs::remove("proj/pyproject.toml");
  fs::create_directories("proj/.git");
  EXPECT_EQ(errorOf({}), "No pyproject.toml found at or above '" +
                             (dir.path() / "proj/src").string() + "'");
  writeFile("proj/pyproject.toml", "[project]\nname = \"demo\"\n");
  EXPECT_EQ(errorOf({}), (dir.path() / "proj/pyproject.toml").string() +
                             ": missing key 'version' in [project]");
  EXPECT_TRUE(platform->calls.empty());
  EXPECT_TRUE(fs::is_empty(".quorvex_build/wrk"));
  fs::remove("build/demo");
  WheelOptions versioned;
  versioned.version = "2.0";
  EXPECT_EQ(errorOf(versioned), "Cannot read 'build/demo': No such file or directory");
  EXPECT_TRUE(fs::is_empty(".quorvex_build/wrk"));
}

// Installers split a wheel's file name at its "-" separators: the project name is escaped there
// and in the directories inside the wheel, and nowhere else; the version is in its normal form.
TEST_F(CreateWheel, NameAndVersionAreEscapedWhereInstallersSplitThem) {
  writeFile("proj/pyproject.toml", "[project]\nname = \"My.Project-x\"\nversion = \"1.0-beta\"\n");
  fs::path wheel = create({});
  EXPECT_EQ(wheel.filename(), "my_project_x-1.0b0-cp312-cp312-linux_x86_64.whl");
  EXPECT_EQ(platform->calls[2], "getExePath . My.Project-x");
  EXPECT_EQ(platform->calls[3],
            "getRuntimeLibraries my_project_x 1.0b0 /rt/libpython3.12.so.1.0");
  auto entries = readZip(wheel);
  EXPECT_EQ(namesOf(entries),
            (std::vector<std::string>{"my_project_x-1.0b0.data/scripts/My.Project-x",
                                      "my_project_x-1.0b0.data/scripts/libpython3.12.so.1.0",
                                      "my_project_x-1.0b0.dist-info/METADATA",
                                      "my_project_x-1.0b0.dist-info/WHEEL",
                                      "my_project_x-1.0b0.dist-info/RECORD"}));
  EXPECT_EQ(entries[2].data, "Metadata-Version: 2.1\nName: My.Project-x\nVersion: 1.0b0\n\n");

  WheelOptions library;
  library.library = true;
  wheel = create(library);
  EXPECT_EQ(wheel.filename(), "my_project_x-1.0b0-cp312-abi3-linux_x86_64.whl");
  entries = readZip(wheel);
  // Without a package of its own, the library is imported under the project name made a name.
  EXPECT_EQ(entries.at(0).name, "my_project_x/my_project_x.so");
  EXPECT_EQ(entries.at(3).name, "my_project_x-1.0b0.dist-info/top_level.txt");
  EXPECT_EQ(entries.at(3).data, "my_project_x");
}

// Python's own tools read the wheel of a project whose name installers would misread
// unescaped: the metadata parses strictly, and pip installs the program with its executable
// bit and the runtime library beside it.
TEST_F(CreateWheel, PythonToolsAcceptTheWheel) {
  std::string project = readFile("proj/pyproject.toml");
  project.replace(project.find("\"demo\""), 6, "\"My.Project-x\"");
  writeFile("proj/pyproject.toml", project);
  fs::path wheel = create({});
  auto check = process::run({QUORVEX_VENV "/bin/python", "-c", R"(
import sys, zipfile
from packaging.metadata import Metadata
with zipfile.ZipFile(sys.argv[1]) as zf:
    meta = Metadata.from_email(zf.read('my_project_x-1.0.dist-info/METADATA'), validate=True)
assert (meta.name, str(meta.version), meta.summary) == ('My.Project-x', '1.0', 'Demo'), meta
assert [str(r) for r in meta.requires_dist] == ['rich>=13']
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
  auto run = process::run({(dir.path() / "site/bin/My.Project-x").string()});
  EXPECT_EQ(run.output, "hello from demo\n");
}

} // namespace
} // namespace quorvex::whl
