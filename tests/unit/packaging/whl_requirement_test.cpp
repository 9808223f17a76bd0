// Dependency specifiers and requires-python judged as the packaging library judges them: each
// verdict below is that of packaging 26.4's Requirement or SpecifierSet under CPython 3.12.
#include "packaging/whl_metadata.hpp"
#include "packaging/whl_requirement.hpp"
#include "packaging/whl_specifier.hpp"
#include "support/tempdir.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <string>

namespace quorvex::whl {
namespace {

using testing::TempDir;
using testing::writeFile;

// The error of reading a project whose [project] table holds `line`.
std::string projectError(const std::string& line) {
  writeFile("p.toml", "[project]\nname = \"demo\"\nversion = \"1\"\n" + line + "\n");
  return testing::thrownMessage([] { readProject("p.toml", std::nullopt); });
}

TEST(CompatibleRelease, NeedsTwoReleasePartsWhateverLabelsFollow) {
  for (const char* refused : {"~=1", "~=1.post1", "~=1.dev0", "~=3-1", "~=1a1", "~=v1!2.post1"}) {
    EXPECT_NE(requirementError(std::string("foo") + refused), std::nullopt) << refused;
    EXPECT_EQ(specifierSetError(refused),
              "'" + std::string(refused) + "' is not a version specifier such as '>=3.9': '~=' "
              "needs a release of at least two parts, such as '~=1.0'");
  }
  for (const char* admitted : {"~=1.0", "~=1.0.post1", "~=1.0.dev0", "~=3.0-1", "~=1!2.0"})
    EXPECT_EQ(requirementError(std::string("foo") + admitted), std::nullopt) << admitted;

  TempDir dir;
  EXPECT_EQ(projectError("dependencies = [\"foo~=1.post1\"]"),
            "p.toml: entry 1 of 'project.dependencies', 'foo~=1.post1', is not a valid "
            "requirement: '~=1.post1' is not a valid version specifier at column 6: '~=' needs a "
            "release of at least two parts, such as '~=1.0'");
  EXPECT_EQ(projectError("optional-dependencies = {x = [\"foo (~=3-1)\"]}"),
            "p.toml: entry 1 of 'project.optional-dependencies.x', 'foo (~=3-1)', is not a valid "
            "requirement: '~=3-1' is not a valid version specifier at column 8: '~=' needs a "
            "release of at least two parts, such as '~=1.0'");
  EXPECT_EQ(projectError("requires-python = \"~=3.dev0\""),
            "p.toml: 'project.requires-python', '~=3.dev0', is not a version specifier set: '~=3.dev0' is "
            "not a version specifier such as '>=3.9': '~=' needs a release of at least two "
            "parts, such as '~=1.0'");
}

// Python's blanks (str.isspace, the \s of its patterns) end a URL and a "===" version; other
// characters, controls included, belong to them.
TEST(Blanks, EndURLsAndArbitraryVersionsWhereverUnicodeHasThem) {
  const char* blanks[] = {"\t", "\n", "\v", "\f", "\r", "\x1c", "\x1d", "\x1e", "\x1f", " ",
                          "\u0085", "\u00a0", "\u1680", "\u2000", "\u2005", "\u200a", "\u2028",
                          "\u2029", "\u202f", "\u205f", "\u3000"};
  for (const std::string blank : blanks) {
    EXPECT_NE(requirementError("foo @ https://x.org/a" + blank + "b"), std::nullopt) << blank;
    EXPECT_NE(requirementError("foo===1" + blank + "b"), std::nullopt) << blank;
    // Around a version in a set, and between an operator and its version, a blank is allowed.
    EXPECT_EQ(specifierSetError(blank + ">=" + blank + "3.8" + blank), std::nullopt) << blank;
  }
  for (const std::string kept : {"\x01", "\x7f", "\u200b", "\ufeff", "\u00e9"}) {
    EXPECT_EQ(requirementError("foo @ https://x.org/a" + kept + "b"), std::nullopt) << kept;
    EXPECT_EQ(requirementError("foo===1" + kept + "b"), std::nullopt) << kept;
  }
  EXPECT_EQ(requirementError("foo @ https://x.org/a\u00a0b"),
            "the URL ends at a blank at column 22 (U+00A0): installers read a URL up to the "
            "first blank, and only a space or a tab may follow it");
  EXPECT_EQ(requirementError("foo===1\u3000"),
            "the version ends at a blank at column 8 (U+3000): only a space or a tab may follow "
            "it");
  EXPECT_EQ(requirementError("foo @ https://x.org/a \t; os_name == 'nt'"), std::nullopt);
  EXPECT_EQ(requirementError("foo>=\u00a01.0"), std::nullopt);
  EXPECT_EQ(specifierSetError("===1\u00a0b"),
            "'===1\\xa0b' is not a version specifier such as '>=3.9': U+00A0, a blank, ends a "
            "version");

  TempDir dir;
  EXPECT_EQ(projectError("optional-dependencies = {net = [\"foo @ https://x.org/\\u001f\"]}"),
            "p.toml: entry 1 of 'project.optional-dependencies.net', 'foo @ https://x.org/\\x1f', "
            "is not a valid requirement: the URL ends at a blank at column 21 (U+001F): "
            "installers read a URL up to the first blank, and only a space or a tab may follow "
            "it");
}

// The packaging library reads printable ASCII up to ";", ")" or the end as one specifier set
// first, else one specifier at a time, where a "===" version takes in commas.
TEST(Specifiers, AreReadAlongBothOfThePackagingLibrarysPaths) {
  const std::pair<const char*, bool> cases[] = {
      {"foo>=1,<2", true},         {"foo>=1,", true},           {"foo>=1 , ", true},
      {"foo>=1,,<2", false},       {"foo(>=1,,)", false},       {"foo===a,b", false},
      {"foo===1,2", false},        {"foo===a,,>=1", true},     {"foo===1\u00e9,,>=1", true},
      {"foo===1\u00e9,2", false},  {"foo>=1.0a.", true},        {"foo>=1.0.", false},
      {"foo==1.0+ABC", true},      {"foo>=1.0+abc", false},     {"foo!=1.0.*", true},
      {"foo==1.0a1.*", false},     {"foo~=1.0.*", false},       {"foo>=V1!2.0RC1", true},
      {"f_>=1", true},             {"f_.-", false},             {"foo[a_ , b-c]", true},
      {"foo[a-]", false},          {"foo (===x)", true},        {"foo===x)", false}};
  for (const auto& [text, valid] : cases)
    EXPECT_EQ(requirementError(text) == std::nullopt, valid) << text << ": "
                                                             << requirementError(text).value_or("");
  EXPECT_EQ(requirementError("foo===1,2"),
            "'2' is not a version specifier such as '>=3.9' at column 4");
  EXPECT_EQ(requirementError("foo>=1.0+abc"),
            "'>=1.0+abc' is not a valid version specifier at column 6: only '==' and '!=' take a "
            "local version label");
  // A set, unlike the grammar of a requirement, skips empty pieces.
  EXPECT_EQ(specifierSetError(" >=3.8,, <4 ,"), std::nullopt);
}

// The packaging library hands a quoted string with a backslash or an unprintable character to
// ast.literal_eval, which must read it as a Python string literal.
TEST(MarkerStrings, AreReadAsPythonReadsStringLiterals) {
  const std::pair<std::string, bool> cases[] = {
      {R"(foo; os_name == '\x41\u00e9\U0001F600\777\d\\')", true},
      {"foo; os_name == 'a\\\nb'", true},
      {"foo; os_name == 'a\\\r\nb'", true},
      {"foo; os_name == 'a\x01\x0b\u2028'", true},
      {"foo; os_name == \"'\"", true},
      {R"(foo; os_name == 'a\')", false},
      {R"(foo; os_name == '\x4')", false},
      {R"(foo; os_name == '\u12g4')", false},
      {R"(foo; os_name == '\U00110000')", false},
      {"foo; os_name == 'a\nb'", false},
      {"foo; os_name == 'a\rb'", false},
      {std::string("foo; os_name == '\\\0'", 20), false}};
  for (const auto& [text, valid] : cases)
    EXPECT_EQ(requirementError(text) == std::nullopt, valid) << text;
  EXPECT_EQ(requirementError(std::string("foo; os_name == '\\\0'", 20)),
            "a quoted string may not hold a NUL character at column 19 (U+0000)");
  EXPECT_EQ(requirementError(R"(foo; os_name == 'a\')"),
            "the backslash escapes the quote that should close the string at column 19");
  EXPECT_EQ(requirementError(R"(foo; 'x' in '\x4')"),
            "a \\x escape needs 2 hexadecimal digits at column 14");
  // Python knows the names; this reader does not, and refuses them all rather than guess.
  EXPECT_EQ(requirementError(R"(foo; os_name == '\N{LATIN SMALL LETTER A}')"),
            "a \\N{...} escape is not read here: write the character itself at column 18");
}

// Every project's requires-python is read as a SpecifierSet reads it, a wheel's too.
TEST(RequiresPython, SyntaxIsCheckedForEveryProjectAndAdmissionOnlyWhenAsked) {
  TempDir dir;
  EXPECT_EQ(projectError("requires-python = \"python 3 please\""),
            "p.toml: 'project.requires-python', 'python 3 please', is not a version specifier set: "
            "'python 3 please' is not a version specifier such as '>=3.9'");
  EXPECT_EQ(projectError("requires-python = \"3.8\""),
            "p.toml: 'project.requires-python', '3.8', is not a version specifier set: '3.8' is not a "
            "version specifier such as '>=3.9'");
  EXPECT_EQ(projectError("requires-python = [\">=3\"]"),
            "p.toml: 'project.requires-python' must be a string, not the array [\">=3\"]");
  EXPECT_EQ(projectError("requires-python = \">=3.8\\u00a0, <4\\t\""), "no error");
  // A wheel may serve later Pythons than the build's: installers judge that themselves.
  EXPECT_EQ(projectError("requires-python = \">=3.13\""), "no error");
}

} // namespace
} // namespace quorvex::whl
