// Test tools on a compiled library's installed wheel: pytest in its default import mode loads the
// compiled conftest (its fixture and its hook) and the compiled test modules; with
// --doctest-modules it collects and runs the doctests of compiled modules; unittest's discovery
// loads compiled test_*.py and tests.py modules. Each gives, test by test, the outcomes that it
// gives on the sources, failures included. pytest comes from the set-up's .venv/test-packages.
#include "e2e/e2e_support.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

const std::map<std::string, std::string> shelfFiles = {
    {"pyproject.toml", "[project]\nname = \"shelfkit\"\nversion = \"1.0\"\n"},
    {"shelfkit/__init__.py", R"("""Counts what a shelf holds.

>>> from shelfkit import stock
>>> stock.total({'nuts': 2, 'bolts': 3})
5
"""
)"},
    {"shelfkit/conftest.py", R"(import pytest

from shelfkit import stock


@pytest.fixture
def shelf():
    return stock.Shelf({"nuts": 2, "bolts": 3})


def pytest_collection_modifyitems(items):
    for item in items:
        if "skipped_by_conftest" in item.name:
            item.add_marker(pytest.mark.skip(reason="the conftest's hook"))
)"},
    {"shelfkit/stock.py", R"("""What a shelf holds.

>>> Shelf({'a': 1}).count('a')
1
"""
import os


def total(counts):
    """The number of things.

    >>> total({'x': 4, 'y': 1})
    5
    >>> total({})
    0
    """
    return sum(counts.values())


def label(name):
    """A label; this example is wrong on purpose.

    >>> label('nuts')
    'NUTS!'
    """
    return name.upper()


def data_file():
    with open(os.path.join(os.path.dirname(__file__), "stock.txt")) as file:
        return file.read().strip()


class Shelf:
    """Things by name.

    >>> Shelf({'a': 2}).names()
    ['a']
    """

    def __init__(self, counts):
        self.counts = dict(counts)

    def names(self):
        return sorted(self.counts)

    def count(self, name):
        """
        >>> Shelf({'b': 3}).count('b') + 1
        4
        """
        return self.counts.get(name, 0)
)"},
    {"shelfkit/stock.txt", "shelf data\n"},
    {"shelfkit/tests/__init__.py", ""},
    {"shelfkit/tests/test_stock.py", R"(import os

import pytest

from shelfkit import stock


def test_fixture_from_conftest(shelf):
    assert shelf.names() == ["bolts", "nuts"]


@pytest.mark.parametrize("name, expected", [("nuts", 2), ("bolts", 3), ("gears", 0)])
def test_counts(shelf, name, expected):
    assert shelf.count(name) == expected


def test_files_beside_the_module():
    assert stock.data_file() == "shelf data"
    assert os.path.basename(__file__) == "test_stock.py"
    assert os.path.dirname(stock.__file__) == os.path.dirname(os.path.dirname(__file__))


def test_fails_on_purpose(shelf):
    assert shelf.count("nuts") == 7


def test_skipped_by_conftest():
    assert False


class TestShelf:
    def test_total(self):
        assert stock.total({"a": 1}) == 1

    def test_raises(self):
        with pytest.raises(AttributeError):
            stock.Shelf({}).missing
)"},
    {"shelfkit/tests/test_cases.py", R"(import unittest

from shelfkit import stock


class TotalTest(unittest.TestCase):
    def test_sum(self):
        self.assertEqual(stock.total({"a": 1, "b": 2}), 3)

    def test_fails_on_purpose(self):
        self.assertEqual(stock.total({}), 1)

    @unittest.skip("not today")
    def test_skipped(self):
        pass
)"},
    // Django's name for an app's tests.
    {"shelfkit/orders/__init__.py", ""},
    {"shelfkit/orders/tests.py", R"(import unittest

from shelfkit.stock import Shelf


class OrdersTest(unittest.TestCase):
    def test_names(self):
        self.assertEqual(Shelf({"z": 1, "a": 1}).names(), ["a", "z"])
)"},
};

// The lines of a run that give one test's outcome, the place of a failing doctest example and
// the closing count without the time it took: what pytest -v and unittest -v report, which the
// same tests give compiled or not.
std::string outcomes(const std::string& text) {
  std::istringstream lines(text);
  std::string line, kept;
  while (std::getline(lines, line)) {
    const bool pytestItem =
        line.find("::") != std::string::npos && line.find(" [") != std::string::npos;
    const bool unittestItem = line.find(" ... ") != std::string::npos;
    const bool count = line.starts_with("=") && line.find(" in ") != std::string::npos;
    const bool verdict = line.starts_with("FAILED (") || line == "OK";
    // Where a failing doctest example is, in the package.
    const bool example = line.ends_with(": DocTestFailure");
    if (example) line = line.substr(line.rfind("/shelfkit/") + 1);
    if (pytestItem) line = line.substr(0, line.rfind(" ["));
    if (count) line = line.substr(0, line.rfind(" in "));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (pytestItem || unittestItem || count || verdict || example) kept += line + "\n";
  }
  return kept;
}

TEST(TestTools, PytestAndUnittestRunACompiledLibrarysTestsAsTheSources) {
  const fs::path packages = buildPython().parent_path().parent_path() / "test-packages";
  ASSERT_TRUE(fs::exists(packages / "pytest")) << packages << " lacks pytest: run scripts/setup";
  Project project("shelfkit", shelfFiles);
  const Outcome build =
      project.build({"--library", "--wheel", "dist", "shelfkit", "shelfkit/**/*.py"});
  ASSERT_EQ(build.status, 0) << build.all();
  const fs::path python = pipInstall(freshVenv("shelfkit"), onlyWheel(project.dir() / "dist"));
  const Outcome purelib = run(
      {python.string(), "-c", "import sysconfig; print(sysconfig.get_paths()['purelib'])"}, "/");
  ASSERT_EQ(purelib.status, 0) << purelib.all();
  const fs::path site = lastLine(purelib.out);
  // The tests run the compiled modules: the files at their places are the wheel's small ones.
  std::ifstream installed(site / "shelfkit" / "tests" / "test_stock.py");
  const std::string loaderText{std::istreambuf_iterator<char>(installed), {}};
  ASSERT_FALSE(loaderText.empty());
  EXPECT_EQ(loaderText.find("def test_"), std::string::npos) << loaderText;

  const std::string path = "PYTHONPATH=" + packages.string();
  // Each command with a few of the outcomes that show what it found.
  const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> commands = {
      {{"-m", "pytest", "-p", "no:cacheprovider", "-v", "shelfkit"},
       {"test_stock.py::test_fixture_from_conftest PASSED",
        "test_stock.py::test_skipped_by_conftest SKIPPED",
        "test_cases.py::TotalTest::test_sum PASSED",
        "test_stock.py::test_fails_on_purpose FAILED"}},
      {{"-m", "pytest", "-p", "no:cacheprovider", "-v", "--doctest-modules", "shelfkit"},
       {"shelfkit/__init__.py::shelfkit PASSED", "stock.py::shelfkit.stock.Shelf.count PASSED",
        "stock.py::shelfkit.stock.label FAILED", "test_counts[gears-0] PASSED",
        "shelfkit/stock.py:23: DocTestFailure"}},
      {{"-m", "unittest", "discover", "-v", "-s", "shelfkit", "-t", "."},
       {"(shelfkit.orders.tests.OrdersTest.test_names) ... ok",
        "(shelfkit.tests.test_cases.TotalTest.test_fails_on_purpose) ... FAIL"}},
  };
  for (const auto& [command, shown] : commands) {
    SCOPED_TRACE(::testing::PrintToString(command));
    std::vector<std::string> sources = {"/usr/bin/env", path, buildPython().string()};
    std::vector<std::string> compiled = {"/usr/bin/env", path, python.string()};
    sources.insert(sources.end(), command.begin(), command.end());
    compiled.insert(compiled.end(), command.begin(), command.end());
    const Outcome expected = run(sources, project.dir());
    const Outcome actual = run(compiled, site);
    // Each run has a test that fails on purpose.
    EXPECT_EQ(expected.status, 1) << expected.all();
    EXPECT_EQ(actual.status, expected.status) << actual.all();
    const std::string found = outcomes(actual.out + actual.err);
    EXPECT_EQ(found, outcomes(expected.out + expected.err)) << actual.all();
    for (const std::string& line : shown) EXPECT_NE(found.find(line), std::string::npos) << line;
  }
}

} // namespace
} // namespace quorvex::e2e
