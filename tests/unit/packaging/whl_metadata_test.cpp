#include "packaging/whl_layout.hpp"
#include "packaging/whl_metadata.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

// The METADATA of a project file with `projectKeys` below its name and version.
std::string metadataOf(const std::string& projectKeys, const fs::path& file = "pyproject.toml") {
  writeFile(file, "[project]\nname = \"demo\"\nversion = \"1.0\"\n" + projectKeys);
  return metadataText(readProject(file, std::nullopt));
}

std::string metadataErrorOf(const std::string& projectKeys) {
  try {
    metadataOf(projectKeys);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "no error";
}

constexpr const char* head = "Metadata-Version: 2.1\nName: demo\nVersion: 1.0\n";

TEST(Metadata, EveryKeyInItsFixedOrderWhateverTheFileOrder) {
  TempDir dir;
  writeFile("README.md", "# Demo\r\nA line\rlast");
  std::string keys = R"(readme = "README.md"
classifiers = ["Programming Language :: Python", "Operating System :: POSIX"]
dependencies = ["requests>=2", "rich"]
authors = [
  {name = "Ada", email = "ada@example.org"},
  {email = "bob@example.org"},
  {name = "Cy"},
  {name = "", email = "dee@example.org"},
  {},
]
requires-python = ">=3.11"
description = "  A demo.\n"
[project.urls]
Homepage = "https://example.org"
Issues = "https://example.org/issues"
Docs = "https://example.org/docs"
)";
  EXPECT_EQ(metadataOf(keys), std::string(head) + R"(Summary: A demo.
Requires-Python: >=3.11
Author-Email: Ada <ada@example.org>
Author-Email: bob@example.org
Author: Cy
Author-Email: dee@example.org
Requires-Dist: requests>=2
Requires-Dist: rich
Classifier: Programming Language :: Python
Classifier: Operating System :: POSIX
Project-URL: Homepage, https://example.org
Project-URL: Issues, https://example.org/issues
Project-URL: Docs, https://example.org/docs
Description-Content-Type: text/markdown

# Demo
A line
last)");
}

TEST(Metadata, NoOrEmptyValuesAddNoLines) {
  TempDir dir;
  EXPECT_EQ(metadataOf(""), std::string(head) + "\n");
  EXPECT_EQ(metadataOf("description = \"\"\ndependencies = []\nclassifiers = []\nurls = {}\n"
                       "readme = \"\"\n"),
            std::string(head) + "Summary: \n\n");
}

TEST(Metadata, ReadmeContentTypeFollowsTheNameOrTheTable) {
  TempDir dir;
  writeFile("docs/intro.rst", "Intro");
  writeFile("README.MD", "\xEF\xBB\xBFupper");
  writeFile("notes.md", "notes");
  EXPECT_EQ(metadataOf("readme = \"docs/intro.rst\"\n"),
            std::string(head) + "Description-Content-Type: text/x-rst\n\nIntro");
  // The byte-order mark stays in the body.
  EXPECT_EQ(metadataOf("readme = \"README.MD\"\n"),
            std::string(head) + "Description-Content-Type: text/plain\n\n\xEF\xBB\xBFupper");
  EXPECT_EQ(metadataOf("readme = {file = \"notes.md\"}\n"),
            std::string(head) + "Description-Content-Type: text/plain\n\nnotes");
  EXPECT_EQ(metadataOf("readme = {file = \"notes.md\", content-type = \"text/x-custom\"}\n"),
            std::string(head) + "Description-Content-Type: text/x-custom\n\nnotes");
  // A readme that names no file, or a missing one, gives no body and no content type.
  EXPECT_EQ(metadataOf("readme = {text = \"inline\", content-type = \"text/plain\"}\n"),
            std::string(head) + "\n");
  EXPECT_EQ(metadataOf("readme = \"MISSING.md\"\n"), std::string(head) + "\n");
  // The readme is looked up beside the project file, not in the working directory.
  writeFile("proj/README.rst", "beside");
  writeFile("README.rst", "working directory");
  EXPECT_EQ(metadataOf("readme = \"README.rst\"\n", "proj/pyproject.toml"),
            std::string(head) + "Description-Content-Type: text/x-rst\n\nbeside");
}

TEST(Metadata, ValuesOfTheWrongKindAreReportedWithTheKey) {
  TempDir dir;
  EXPECT_EQ(metadataErrorOf("description = 3\n"),
            "pyproject.toml: 'project.description' must be a string");
  EXPECT_EQ(metadataErrorOf("authors = [\"Ada\"]\n"),
            "pyproject.toml: 'project.authors' must be an array of tables");
  EXPECT_EQ(metadataErrorOf("dependencies = \"rich\"\n"),
            "pyproject.toml: 'project.dependencies' must be an array");
  EXPECT_EQ(metadataErrorOf("urls = [\"https://example.org\"]\n"),
            "pyproject.toml: 'project.urls' must be a table");
  EXPECT_EQ(metadataErrorOf("readme = 1\n"),
            "pyproject.toml: 'project.readme' must be a string or a table");
  writeFile("BAD.md", "ok\xC3\x28");
  EXPECT_EQ(metadataErrorOf("readme = \"BAD.md\"\n"),
            "Cannot read 'BAD.md': not valid UTF-8 at byte 2");
  fs::create_directories("DIR.md");
  EXPECT_EQ(metadataErrorOf("readme = \"DIR.md\"\n"), "Cannot read 'DIR.md': Is a directory");
}

TEST(LibraryNames, SuffixComesFromTheExtensionSuffixFirst) {
  EXPECT_EQ(moduleSuffix(".cpython-312-x86_64-linux-gnu.so", "cli.dylib"), ".so");
  EXPECT_EQ(moduleSuffix(".cp312-win_amd64.pyd", "cli.so"), ".pyd");
  EXPECT_EQ(moduleSuffix(".so", "cli.pyd"), ".so"); // a lone leading dot is no suffix
  EXPECT_EQ(moduleSuffix("", "cli.pyd"), ".pyd");
  EXPECT_EQ(moduleSuffix("", "cli"), ".so");
  EXPECT_EQ(fileSuffix("name."), "");
}

TEST(LibraryNames, PackageOfTheModulesElseTheProjectAsAName) {
  auto expectNames = [](std::optional<std::string> top, std::optional<std::string> main,
                        const std::string& package, const std::string& importPath) {
    ModuleNames names = moduleNames("My.Lib-x", top, main);
    EXPECT_EQ(names.package, package);
    EXPECT_EQ(names.importPath, importPath);
    EXPECT_EQ(names.prefixed, !top);
  };
  expectNames("markdown", "markdown.core", "markdown", "core");
  expectNames("markdown", "markdown", "markdown", "");
  expectNames("markdown", std::nullopt, "markdown", "");
  expectNames(std::nullopt, "cli", "my_lib_x", "cli");
}

} // namespace
} // namespace quorvex::whl
