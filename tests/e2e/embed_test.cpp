// Embedded directories: a private Python with the project's dependency from PyPI and the
// program or the library's package, usable without the project and after being moved.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <regex>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const fs::path projectSource = QUORVEX_SOURCE_DIR "/tests/e2e/projects/embedapp";

// The JSON the project's describe() prints: six's version, the real path of its module file
// and sys.prefix.
nlohmann::json described(const Outcome& outcome) {
  EXPECT_EQ(outcome.status, 0) << outcome.all();
  return outcome.status == 0 ? nlohmann::json::parse(outcome.out) : nlohmann::json::object();
}

void expectSixFrom(const nlohmann::json& report, const fs::path& embedded) {
  ASSERT_TRUE(report.contains("six_file")) << report;
  const std::string six = report["six_file"];
  const std::string root = fs::canonical(embedded).string() + "/";
  EXPECT_TRUE(six.starts_with(root)) << six << " is not inside " << root;
  EXPECT_NE(six.find("/site-packages/six.py"), std::string::npos) << six;
  EXPECT_EQ(report["six"], "1.17.0");
}

TEST(EmbeddedExecutable, RefusesTheProjectThenRunsWithItsDependencyAndSurvivesAMove) {
  auto project = std::make_unique<Project>(Project::copyOf("embed-exe", projectSource));
  {
    SCOPED_TRACE("a target that would delete the project");
    const Outcome refused = project->build({"--embed", ".", "app", "*.py"});
    EXPECT_EQ(refused.status, 1) << refused.all();
    EXPECT_NE(
        refused.err.find("Refusing to embed into .: it is or contains the working directory "),
        std::string::npos)
        << refused.all();
    EXPECT_TRUE(fs::exists(project->dir() / "app.py"));
    EXPECT_TRUE(fs::exists(project->dir() / "uv.lock"));
  }
  // A blank and a quote in the path: uv must still get each path as one argument.
  const fs::path embedded = scratch("embedded dir") / "app's";
  const auto before = sourceTree(project->dir());
  const Outcome build = project->build({"--embed", embedded.string(), "app", "*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  // The project's lock fits its project file: exported as it is, nothing in the project written.
  EXPECT_EQ(sourceTree(project->dir()), before);
  EXPECT_EQ((build.out + build.err).find("out of date"), std::string::npos) << build.all();

  EXPECT_TRUE(fs::exists(embedded / ".quorvex-embedded"));
  const std::string requirements =
      quorvex::testing::readFile(project->buildDir() / "requirements.txt");
  EXPECT_NE(requirements.find("six==1.17.0"), std::string::npos) << requirements;
  EXPECT_EQ(requirements.find("-e ."), std::string::npos)
      << "the project itself is no dependency:\n" << requirements;

  const fs::path program = embedded / "bin" / "app";
  ASSERT_TRUE(fs::is_regular_file(program));
  EXPECT_NE(fs::status(program).permissions() & fs::perms::owner_exec, fs::perms::none);
  expectSixFrom(described(runClean({program.string()}, scratch("elsewhere"))), embedded);
  // Its own runtime, not the build directory's, which is still there.
  EXPECT_NE(libpythonOf(program).find(embedded.string()), std::string::npos);

  // On a user's machine: the project and its build directory are gone, the directory moved.
  const fs::path moved = scratch("moved") / "app-dist";
  fs::rename(embedded, moved);
  const fs::path projectDir = project->dir();
  project.reset();
  fs::remove_all(projectDir);
  const nlohmann::json report = described(runClean({(moved / "bin" / "app").string()}, moved));
  expectSixFrom(report, moved);
}

// Without --wheel, the build makes a wheel in the build directory for the embedded directory;
// its one module is imported by its own name, as pip would install it. The project without a
// lock, then with one that no longer fits its project file, is left as it was.
TEST(EmbeddedLibrary, InstallsTheTemporaryWheelAndWritesNoLock) {
  Project project = Project::copyOf("embed-lib", projectSource);
  fs::remove(project.dir() / "uv.lock");
  // A dependency that uv finds by a path relative to the project, also from elsewhere.
  const Project local("localdep", {{"pyproject.toml", "[project]\nname = \"localdep\"\n"
                                                      "version = \"1.0\"\n[build-system]\n"
                                                      "requires = [\"hatchling\"]\n"
                                                      "build-backend = \"hatchling.build\"\n"},
                                   {"localdep/__init__.py", "WORD = 'local'\n"}});
  const std::string projectFile = quorvex::testing::readFile(project.dir() / "pyproject.toml");
  quorvex::testing::writeFile(
      project.dir() / "pyproject.toml",
      std::regex_replace(projectFile, std::regex("\"six>=1.16\""), "\"six>=1.16\", \"localdep\"") +
          "\n[tool.uv.sources]\nlocaldep = { path = \"../localdep\" }\n");
  const fs::path embedded = scratch("embedded") / "lib";
  const std::vector<std::string> args = {"--library", "--embed", embedded.string(), "app", "*.py"};
  auto before = sourceTree(project.dir());
  const Outcome build = project.build(args);
  ASSERT_EQ(build.status, 0) << build.all();
  EXPECT_NE((build.out + build.err).find("Creating temp wheel at .quorvex_build"),
            std::string::npos)
      << build.all();
  EXPECT_EQ(sourceTree(project.dir()), before) << "no uv.lock is made in the project";
  const std::string useIt = "import json, app; print(json.dumps(app.describe()))";
  const nlohmann::json report =
      described(runClean({(embedded / "bin" / "python").string(), "-c", useIt}, embedded));
  expectSixFrom(report, embedded);
  EXPECT_EQ(fs::canonical(report.value("prefix", "/nowhere")), fs::canonical(embedded));
  EXPECT_FALSE(fs::exists(embedded / "bin" / "app")) << "a library build copies no program";
  const Outcome localWord = runClean(
      {(embedded / "bin" / "python").string(), "-c", "import localdep; print(localdep.WORD)"},
      embedded);
  EXPECT_EQ(localWord.out, "local\n") << localWord.all();

  SCOPED_TRACE("a stale lock");
  fs::copy_file(projectSource / "uv.lock", project.dir() / "uv.lock");
  before = sourceTree(project.dir());
  const Outcome stale = project.build(args);
  ASSERT_EQ(stale.status, 0) << stale.all();
  EXPECT_EQ(sourceTree(project.dir()), before) << "the stale lock is left as it is";
  const std::string warning = "WARNING embed: The project's uv.lock is out of date with " +
                              (project.dir() / "pyproject.toml").string();
  EXPECT_NE((stale.out + stale.err).find(warning), std::string::npos) << stale.all();
  expectSixFrom(described(runClean({(embedded / "bin" / "python").string(), "-c", useIt},
                                   embedded)),
                embedded);
}

} // namespace
} // namespace quorvex::e2e
