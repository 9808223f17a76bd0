#include "core/utils.hpp"

#include "support/tempdir.hpp"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using quorvex::testing::readFile;
using quorvex::testing::TempDir;
using quorvex::testing::writeFile;

namespace quorvex::utils {
namespace {

TEST(TemplateTest, ValuesDisplayAsPythonValues) {
  TempDir dir;
  template_(std::string("{{for m in packages}}<{{m}}>{{endfor}}|{{packages}}|{{features}}|"
                        "{{none}}|{{flag}}|{{if not none}}empty{{endif}}"),
            "out.txt",
            {{"packages", {"a", "b"}},
             {"features", {{"x", 1}, {"y", "z"}}},
             {"none", nullptr},
             {"flag", true}});
  EXPECT_EQ(readFile("out.txt"), "<a><b>|['a', 'b']|{'x': 1, 'y': 'z'}||True|empty");

  // Non-ASCII text arrives intact whatever encoding the interpreter reads its input with.
  withEnv encoding("PYTHONIOENCODING", "latin-1");
  template_(std::string("caf\u00e9 {{name}}"), "out.txt", {{"name", "\u00fc"}});
  EXPECT_EQ(readFile("out.txt"), "caf\u00e9 \u00fc");
}

TEST(TemplateTest, TextIsNeverReadAsAFileButAPathIs) {
  TempDir dir;
  writeFile("source.tmpl", "from file {{name}}");
  writeFile("out.txt", "old content that is longer");
  template_(std::string("source.tmpl"), "out.txt", nlohmann::json::object());
  EXPECT_EQ(readFile("out.txt"), "source.tmpl");
  template_(fs::path("source.tmpl"), "out.txt", {{"name", "x"}});
  EXPECT_EQ(readFile("out.txt"), "from file x");
}

TEST(TemplateTest, ATemplateErrorWritesNothing) {
  TempDir dir;
  try {
    template_(std::string("{{missing}}"), "out.txt", nlohmann::json::object());
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Template error while rendering 'out.txt': name 'missing' is not "
                           "defined at line 1 column 3");
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));

  writeFile("out.txt", "kept");
  EXPECT_THROW(template_(std::string("{{if}}"), "out.txt", nlohmann::json::object()),
               std::runtime_error);
  EXPECT_EQ(readFile("out.txt"), "kept");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(TemplateTest, AMissingTemplateOrTargetDirectoryIsNamed) {
  TempDir dir;
  try {
    template_(fs::path("absent.tmpl"), "out.txt", nlohmann::json::object());
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot read the template 'absent.tmpl': No such file or directory");
  }
  EXPECT_FALSE(fs::exists("out.txt"));
  try {
    template_(std::string("text"), "absent-dir/out.txt", nlohmann::json::object());
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Cannot write the rendered template to 'absent-dir/out.txt': No such "
                           "file or directory");
  }
}

} // namespace
} // namespace quorvex::utils
