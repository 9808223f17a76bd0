// The [project] values that METADATA carries: refused, naming the key and the value, as the
// packaging standards and METADATA readers judge them, or written so that readers read them as
// the project file gives them.
#include "packaging/whl_address.hpp"
#include "packaging/whl_metadata.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace fs = std::filesystem;

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

const std::string head = "[project]\nname = \"demo\"\nversion = \"1\"\n";

std::string errorOf(const std::string& text) {
  writeFile("p.toml", text);
  return testing::thrownMessage([] { readProject("p.toml", std::nullopt); });
}

TEST(CoreMetadata, ValuesOfTheWrongKindAreRefusedNamingTheKeyAndTheValue) {
  TempDir dir;
  const std::pair<std::string, const char*> cases[] = {
      {"[project]\nname = 1\nversion = \"1\"\n", "'project.name' must be a string, not the "
                                                 "integer 1"},
      {"[project]\nname = \"demo\"\nversion = 1.5\n", "'project.version' must be a string, not "
                                                      "the number 1.5"},
      {head + "description = 1", "'project.description' must be a string, not the integer 1"},
      {head + "requires-python = [\">=3\"]",
       "'project.requires-python' must be a string, not the array [\">=3\"]"},
      {head + "classifiers = \"x\"", "'project.classifiers' must be an array of strings, not the "
                                     "string 'x'"},
      {head + "classifiers = [\"a\", 1]", "entry 2 of 'project.classifiers' must be a string, "
                                          "not the integer 1"},
      {head + "keywords = [true]", "entry 1 of 'project.keywords' must be a string, not the "
                                   "boolean true"},
      {head + "urls = \"x\"", "'project.urls' must be a table of strings, not the string 'x'"},
      {head + "urls = {Home = [\"a\", \"b\"]}",
       "'project.urls' at 'Home' must be a string, not the array [\"a\", \"b\"]"},
      {head + "authors = \"me\"", "'project.authors' must be an array of tables, not the string "
                                  "'me'"},
      {head + "authors = [\"x\"]", "entry 1 of 'project.authors' must be a table with a name, an "
                                   "email or both, not the string 'x'"},
      {head + "authors = [{name = 1}]", "the name of entry 1 of 'project.authors' must be a "
                                        "string, not the integer 1"},
      {head + "maintainers = [{name = \"a\"}, {email = 2023-01-01}]",
       "the email of entry 2 of 'project.maintainers' must be a string, not the date 2023-01-01"},
      {head + "license = 1", "'project.license' must be a string or a table, not the integer 1"},
      {head + "license = {text = 1}", "'project.license.text' must be a string, not the integer "
                                      "1"},
      {head + "readme = 1", "'project.readme' must be a string or a table, not the integer 1"},
      {head + "readme = {file = 1, content-type = \"text/plain\"}",
       "'project.readme.file' must be a string, not the integer 1"},
      {head + "readme = {text = \"x\", content-type = 1}",
       "'project.readme.content-type' must be a string, not the integer 1"},
  };
  for (const auto& [text, message] : cases)
    EXPECT_EQ(errorOf(text), "p.toml: " + std::string(message)) << text;
  // The value is shown as written, cut, with its control characters escaped; a number as
  // written, not as the nearest double prints.
  EXPECT_EQ(errorOf(head + "description = [\n\"\t" + std::string(150, 'x') + "\"]"),
            "p.toml: 'project.description' must be a string, not the array [\\n\"\\t" +
                std::string(94, 'x') + "... (156 bytes in all)");
  for (const char* value : {"number 1_000.5", "integer 0x1F", "array [3.90, +inf]"})
    EXPECT_EQ(errorOf(head + "requires-python = " + (std::strchr(value, ' ') + 1)),
              "p.toml: 'project.requires-python' must be a string, not the " + std::string(value));
}

// Author-Email is read with email.utils.getaddresses, one address per person; Keywords and a
// Project-URL's label end at a ",".
TEST(CoreMetadata, PeopleKeywordsAndUrlLabelsThatReadersWouldReadOtherwiseAreRefused) {
  TempDir dir;
  for (const char* good : {"j@x.org", "a+b.c@x-y.org", "\"a b\"@x.org", "\"a\\\"b\"@x.org",
                           "j@ü.org", "j@[1.2.3.4]", "j@x", "'j'@x.org"})
    EXPECT_TRUE(isAddressSpec(good)) << good;
  for (const char* bad : {"j", "@x.org", "j@", "a b@x.org", "a,b@x.org", "j.@x.org", ".j@x.org",
                          "j..k@x.org", "ü@x.org", "j@x..org", "j@x.org.", "a@b@c", "j @ x.org",
                          "<j@x.org>", "j@x.org>", "(c)j@x.org", "\"a\"b\"@x.org", "j@[a]b]"})
    EXPECT_FALSE(isAddressSpec(bad)) << bad;

  const std::pair<std::string, const char*> cases[] = {
      {"authors = [{name = \"a\"}, {}]", "entry 2 of 'project.authors' gives neither a name nor "
                                         "an email"},
      {"maintainers = [{name = \"\", email = \"\"}]",
       "entry 1 of 'project.maintainers' gives neither a name nor an email"},
      {"authors = [{name = \"Doe\", email = \"doe, j@x.org\"}]",
       "the email of entry 1 of 'project.authors' is 'doe, j@x.org', not an email address such "
       "as 'name@example.org'"},
      {"keywords = [\"a\", \"b,c\"]", "entry 2 of 'project.keywords' is 'b,c', which holds a ',', "
                                      "where readers of METADATA split the keywords"},
      {"urls = {\"Home, page\" = \"https://h\"}",
       "the label 'Home, page' in 'project.urls' holds a ',', where readers of METADATA end the "
       "label"},
      {"urls = {Home = \"https://h\", \" Home \" = \"https://i\"}",
       "the labels 'Home' and ' Home ' in 'project.urls' are the same to readers of METADATA, "
       "which ignore blanks around a label"},
  };
  for (const auto& [line, message] : cases)
    EXPECT_EQ(errorOf(head + line + "\n"), "p.toml: " + std::string(message)) << line;
}

// As packaging.metadata judges Description-Content-Type (its email parser's stranger forms,
// comments and RFC 2231 parameters, are refused too).
TEST(CoreMetadata, ReadmeContentTypesAsMetadataReadersAcceptThem) {
  for (const char* good :
       {"text/plain", "TEXT/Markdown", "text/x-RST", " text/plain ", "text/plain;",
        "text/markdown; charset=UTF-8", "text/markdown;charset=utf-8", "text/plain; CHARSET=Utf-8",
        "text/plain ; charset = \"UTF-8\"", "text/markdown; variant=GFM",
        "text/markdown; Variant=\"CommonMark\"", "text/plain; variant=x", "text/plain; foo=bar",
        "text/plain;charset=utf-8;variant=GFM"})
    EXPECT_EQ(contentTypeError(good), std::nullopt) << good;
  const std::string form =
      "not a content type such as 'text/markdown' or 'text/x-rst; charset=UTF-8'";
  const std::pair<const char*, std::string> bad[] = {
      {"", form},
      {"text / plain", form},
      {"text/plain x", form},
      {"text/plain/x", form},
      {"text/plain; foo", form},
      {"text/plain;; charset=UTF-8", form},
      {"text/plain; charset=", form},
      {"text/plain; a=b=c", form},
      {"text/plain; a=\"b", form},
      {"text/plain (comment)", form},
      {"foo/bar", "not text/plain, text/x-rst or text/markdown"},
      {"text/plainx", "not text/plain, text/x-rst or text/markdown"},
      {"text/markdown; charset=latin-1", "its charset is 'latin-1', but METADATA is UTF-8"},
      {"text/plain; charset=UTF8", "its charset is 'UTF8', but METADATA is UTF-8"},
      {"text/markdown; variant=gfm", "its Markdown variant 'gfm' is neither GFM nor CommonMark"},
      {"text/plain; charset=UTF-8; CharSet=latin-1", "its parameter 'charset' is given twice"}};
  for (const auto& [type, reason] : bad) EXPECT_EQ(contentTypeError(type), reason) << type;

  TempDir dir;
  EXPECT_EQ(errorOf(head + "readme = {text = \"x\", content-type = \"\"}\n"),
            "p.toml: 'project.readme.content-type' is '', " + form);
}

// A readme or licence file must exist and be UTF-8 text; a readme's suffix tells its content
// type; a table gives one of 'text' and 'file'.
TEST(CoreMetadata, ReadmeAndLicenceFilesAndTablesAreCheckedWhenTheProjectIsRead) {
  TempDir dir;
  fs::create_directories("docs");
  writeFile("latin1.md", "caf\xe9\n");
  const std::pair<const char*, const char*> cases[] = {
      {"readme = \"NOTHERE.md\"", "'project.readme' is 'NOTHERE.md', which does not exist"},
      {"readme = \"docs\"", "'project.readme' is 'docs', whose suffix tells no content type (.md, "
                            ".rst or .txt); give it as a table with 'file' and 'content-type'"},
      {"readme = \"\"", "'project.readme' is '', whose suffix tells no content type (.md, .rst "
                        "or .txt); give it as a table with 'file' and 'content-type'"},
      {"readme = {file = \"docs\", content-type = \"text/plain\"}",
       "'project.readme.file' is 'docs', which is no file"},
      {"readme = \"latin1.md\"", "'project.readme' is 'latin1.md', which is not UTF-8 text (an "
                                 "invalid byte at offset 3)"},
      {"readme = {file = \"R.md\"}", "'project.readme' gives no 'content-type'"},
      {"readme = {content-type = \"text/plain\"}",
       "'project.readme' gives neither 'text' nor 'file'"},
      {"readme = {text = \"x\", file = \"R.md\", content-type = \"text/plain\"}",
       "'project.readme' gives both 'text' and 'file': keep one"},
      {"license = {}", "'project.license' gives neither 'text' nor 'file'"},
      {"license = {file = \"LICENSE\"}", "'project.license.file' is 'LICENSE', which does not "
                                         "exist"},
      {"license = {file = \"latin1.md\"}", "'project.license.file' is 'latin1.md', which is not "
                                           "UTF-8 text (an invalid byte at offset 3)"}};
  for (const auto& [line, message] : cases)
    EXPECT_EQ(errorOf(head + line + "\n"), "p.toml: " + std::string(message)) << line;

  // A link that leaves the project's directory is refused, one that stays in it followed (an
  // absolute path and ".." are in the end-to-end tests).
  fs::create_directories("in");
  writeFile("in/R.md", "readme");
  fs::create_symlink("../latin1.md", "in/out.md");
  fs::create_symlink("R.md", "in/link.md");
  writeFile("in/p.toml", head + "license = {file = \"out.md\"}\n");
  EXPECT_NE(testing::thrownMessage([] { readProject("in/p.toml", std::nullopt); })
                .find("is 'out.md', which, links followed, lies outside '" +
                      fs::canonical("in").string() + "', the project's directory"),
            std::string::npos);
  writeFile("in/p.toml", head + "readme = \"link.md\"\n");
  EXPECT_EQ(readProject("in/p.toml", std::nullopt).metadata.description, "readme");
}

// Every value as METADATA readers read it back: a name with address specials quoted, a licence
// of several lines folded, keywords joined, the readme's text as the body.
TEST(CoreMetadata, EveryValueIsWrittenAsTheProjectGivesIt) {
  TempDir dir;
  writeFile("LICENSE", "Line one\r\n\r\n  indented\nlast\n\n");
  writeFile("README.MD", "# Title\r\n");
  writeFile("p.toml", head + R"(description = "Demo"
requires-python = ">=3.9"
authors = [{name = "Doe, John", email = "j@x.org"}, {name = "Ada"},
           {name = "Q. \"Quote\" \\ Back", email = "q@x.org"}, {email = "team@x.org"},
           {name = "Ünïcode Name", email = "u@x.org"}]
maintainers = [{name = "Grace", email = "g@x.org"}, {name = "Alan"}]
license = {file = "LICENSE"}
keywords = ["fast", "native code"]
classifiers = ["Environment :: Console"]
readme = "README.MD"
[project.urls]
Home = "https://x.org"
)");
  const Project project = readProject("p.toml", std::nullopt);
  EXPECT_EQ(metadataText(project),
            "Metadata-Version: 2.1\nName: demo\nVersion: 1\nSummary: Demo\n"
            "Requires-Python: >=3.9\nAuthor: Ada\n"
            "Author-Email: \"Doe, John\" <j@x.org>, \"Q. \\\"Quote\\\" \\\\ Back\" <q@x.org>, "
            "team@x.org, Ünïcode Name <u@x.org>\n"
            "Maintainer: Alan\nMaintainer-Email: Grace <g@x.org>\n"
            "License: Line one\n        \n          indented\n        last\n"
            "Keywords: fast,native code\nClassifier: Environment :: Console\n"
            "Project-URL: Home, https://x.org\nDescription-Content-Type: text/markdown\n\n"
            "# Title\n");

  writeFile("p.toml", head + "license = \"MIT\"\nreadme = {text = \"Hi\\r\\nthere\", "
                             "content-type = \"text/x-rst; charset=UTF-8\"}\n");
  EXPECT_EQ(metadataText(readProject("p.toml", std::nullopt)),
            "Metadata-Version: 2.1\nName: demo\nVersion: 1\nLicense: MIT\n"
            "Description-Content-Type: text/x-rst; charset=UTF-8\n\nHi\nthere");
  EXPECT_EQ(mailbox("", "a@b"), "a@b");
}

} // namespace
} // namespace quorvex::whl
