// A project's requires-python judged against a Python's version as installers judge it.
#include "packaging/whl_specifier.hpp"
#include "support/thrown.hpp"

#include <gtest/gtest.h>

#include <tuple>

namespace quorvex::whl {
namespace {

TEST(RequiresPython, AdmitsTheVersionsThatPackagingAdmits) {
  // Each answer is packaging's SpecifierSet(set).contains(version, prereleases=True).
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"", "3.12.1", true},
      {">=3.9", "3.12.1", true},
      {"<3", "3.12.1", false},
      {">3.12.1", "3.12.1", false},
      {">3.12", "3.12.1", true},
      {"<=3.12", "3.12.1", false},
      {"<=3.12.1.0", "3.12.1", true},
      {"==3.12", "3.12.0", true},
      {"==3.12.1.0.0", "3.12.1", true},
      {"!=3.12.1.0", "3.12.1", false},
      {"==3.12.*", "3.12.1", true},
      {"==3.1.*", "3.12.1", false},
      {"!=3.12.*", "3.12.1", false},
      {"==3.12.0.*", "3.12", true},
      {"==3.12.0.*", "3.12.1", false},
      {"~=3.10", "3.12.1", true},
      {"~=3.12.2", "3.12.1", false},
      {"~=3.11.0", "3.12.1", false},
      {"~=3.12.1rc1", "3.12.1", true},
      {"~=3.12.post1", "3.12.1", true},
      {"<3.13.0a1", "3.12.1", true},
      {"<3.12.1a1", "3.12.1", false},
      {">=3.12.1.dev0", "3.12.1", true},
      {"<3.12.1.post1", "3.12.1", true},
      {">3.12.1.post1", "3.12.1", false},
      {"<=3.12.1-1", "3.12.1", true},
      {"==3.12.1+local", "3.12.1", false},
      {"!=3.12.1+local", "3.12.1", true},
      {">=1!1.0", "3.12.1", false},
      {"<1!0", "3.12.1", true},
      {"===3.12.1", "3.12.1", true},
      {"===3.12", "3.12.1", false},
      {" >= 3.8 , < 4 ,", "3.12.1", true},
      {">=3.8,,!=3.12.1", "3.12.1", false},
      {">=3.12.10", "3.12.9", false},
      {">=0003.012", "3.12.1", true},
      {"==v3.12.1", "3.12.1", true},
      {"<99999999999999999999999999.1", "3.12.1", true},
      {">99999999999999999999999998", "99999999999999999999999999.0.0", true}};
  for (const auto& [set, version, admitted] : cases) {
    ASSERT_EQ(specifierSetError(set), std::nullopt) << set;
    EXPECT_EQ(admits(set, version), admitted) << set << " " << version;
  }
}

TEST(RequiresPython, RefusalsNameTheFileTheKeyAndBothVersions) {
  for (const auto& [set, reason] : std::initializer_list<std::pair<const char*, const char*>>{
           {"3.12", "'3.12' is not a version specifier such as '>=3.9'"},
           {">=3.8 <4", "'>=3.8 <4' is not a version specifier such as '>=3.9'"},
           {">=3.x", "'>=3.x' is not a version specifier such as '>=3.9'"},
           {"<3.*", "'<3.*' is not a version specifier such as '>=3.9': only '==' and '!=' take "
                    "a '.*' prefix"},
           {">=3.8;python_version>'3'", "'>=3.8;python_version>'3'' is not a version "
                                        "specifier such as '>=3.9'"},
           {">=3.8; os_name == 'nt'", "'>=3.8; os_name == 'nt'' is not a version specifier "
                                      "such as '>=3.9'"}})
    EXPECT_EQ(specifierSetError(set), reason) << set;

  const auto message = [](const char* projectText) {
    const toml::table project = toml::parse(projectText);
    return testing::thrownMessage(
        [&] { checkRequiresPython("p.toml", project, "3.12.1", "the embedded directory"); });
  };
  EXPECT_EQ(message("requires-python = '>=3.13'"),
            "p.toml: 'project.requires-python' ('>=3.13') excludes Python 3.12.1, which the build uses "
            "and the embedded directory would carry; build with a Python that the project "
            "admits, or change 'requires-python'");
  EXPECT_EQ(message("requires-python = '>=3.x'"),
            "p.toml: 'project.requires-python', '>=3.x', is not a version specifier set: '>=3.x' is not "
            "a version specifier such as '>=3.9'");
  EXPECT_EQ(
      message("requires-python = 3"),
      "p.toml: 'project.requires-python' must be a string such as '>=3.9', not the integer 3");
  EXPECT_EQ(message("requires-python = '>=3.12, !=3.13.*'"), "no error");
  EXPECT_EQ(message("name = 'x'"), "no error");
}

} // namespace
} // namespace quorvex::whl
