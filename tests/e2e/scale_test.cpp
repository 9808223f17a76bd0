// Builds whose cost grows with the project: many small modules go through a few Cython
// interpreters, with a progress line for each module translated and each file compiled, and
// still behave as under CPython, a module that fails to translate among them
// is named and leaves no C file, and a module holding a literal table of a thousand computed
// entries compiles in moments.
#include "e2e/e2e_support.hpp"
#include "support/tempdir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>

namespace fs = std::filesystem;

namespace quorvex::e2e {
namespace {

constexpr int smallModules = 40;

std::string moduleName(int index) {
  return "m" + std::string(index < 10 ? "0" : "") + std::to_string(index);
}

// A thousand triples whose third part is looked up when the module runs, as generated Unicode
// tables have them: each stays a live temporary of the module body until the tuple is built.
std::string tableModule() {
  std::string text = "from enum import IntEnum\n\n\nclass Kind(IntEnum):\n    A = 0\n    B = 1\n"
                     "    C = 2\n\n\nRANGES = (\n";
  for (int i = 0; i < 1000; ++i)
    text += "    (" + std::to_string(3 * i) + ", " + std::to_string(3 * i + 1) + ", Kind." +
            "ABC"[i % 3] + "),\n";
  return text + R"()


def kind(code):
    lo, hi = 0, len(RANGES) - 1
    while lo <= hi:
        mid = (lo + hi) // 2
        first, last, value = RANGES[mid]
        if code < first:
            hi = mid - 1
        elif code > last:
            lo = mid + 1
        else:
            return value
    return None
)";
}

std::map<std::string, std::string> manyModules() {
  std::map<std::string, std::string> files = {
      {"pkg/__init__.py", "LOADED = []\n"},
      {"pkg/table.py", tableModule()},
      {"app.py", R"(import importlib
import sys

from pkg import table


def main():
    modules = [importlib.import_module(f"pkg.m{i:02d}") for i in range(40)]
    print(modules[-1].total(), [m.WHO for m in modules[:2]], modules[-1].WHO)
    print(sys.modules["pkg"].LOADED[:3], len(sys.modules["pkg"].LOADED))
    print(len(table.RANGES), [table.kind(c) for c in (0, 1, 2, 1500, 2997, 2998, 2999, -1)])


if __name__ == "__main__":
    main()
)"}};
  for (int i = 0; i < smallModules; ++i)
    files["pkg/" + moduleName(i) + ".py"] =
        (i ? "from . import " + moduleName(i - 1) + " as previous\n" : std::string()) +
        "from . import LOADED\nLOADED.append(__name__)\nWHO = (__name__, __package__)\n\n\n"
        "def total():\n    return " +
        std::to_string(i) + (i ? " + previous.total()\n" : "\n");
  return files;
}

// A copy of the tool beside a `python` that counts the starts of the Cython driver before it
// runs the build interpreter (and beside uv, which installs the pristine Python).
fs::path countingTool(const fs::path& dir, const fs::path& counter) {
  fs::create_directories(dir);
  fs::copy_file(tool(), dir / "quorvex");
  fs::create_symlink(buildPython().parent_path() / "uv", dir / "uv");
  testing::writeFile(dir / "python", "#!/bin/sh\ncase \"$*\" in *_qvx_cython.py*) echo >>'" +
                                         counter.string() + "';; esac\nexec '" +
                                         buildPython().string() + "' \"$@\"\n");
  fs::permissions(dir / "python", fs::perms::owner_exec, fs::perm_options::add);
  return dir / "quorvex";
}

// The numbers of the log's progress lines "[n/N] <verb> ..." in their order, with N, and the
// place of each in the log.
struct Progress {
  std::vector<std::size_t> counts;
  std::vector<std::size_t> places;
  std::size_t total = 0;
  std::vector<int> percents; // the compile lines' "(x% of the C code)"
};

Progress progressOf(const std::string& log, const std::string& verb) {
  Progress progress;
  const std::regex line("\\[(\\d+)/(\\d+)\\] " + verb +
                        " [^ \\n]+( \\((\\d+)% of the C code\\))?\\n");
  for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
       ++it) {
    progress.counts.push_back(std::stoul((*it)[1]));
    progress.total = std::stoul((*it)[2]);
    progress.places.push_back(static_cast<std::size_t>(it->position()));
    if ((*it)[4].matched) progress.percents.push_back(std::stoi((*it)[4]));
  }
  return progress;
}

std::size_t lines(const fs::path& file) {
  if (!fs::exists(file)) return 0;
  const std::string text = testing::readFile(file);
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ManyModules, FewInterpretersTheSameBehaviourAndAFailedModuleNamed) {
  Project project("many", manyModules());
  const fs::path counter = scratch("counter") / "starts";
  const fs::path counting = countingTool(scratch("counting"), counter);
  const std::vector<std::string> build = {counting.string(), "--verbose", "build",
                                          "app",             "app.py",    "pkg/*.py"};

  const auto start = std::chrono::steady_clock::now();
  const Outcome built = run(build, project.dir());
  const auto seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(built.status, 0) << built.all();
  // The shared module, the bootstrap and at most one batch per core, however many modules.
  EXPECT_LE(lines(counter), 10u) << built.all();
  // Before, the table's module body alone kept the C compiler busy for many minutes.
  EXPECT_LT(seconds, 240) << built.all();
  for (int i = 0; i < smallModules; ++i)
    EXPECT_NE(built.all().find("translated .quorvex_build/pkg." + moduleName(i) + ".c in "),
              std::string::npos)
        << moduleName(i);
  // Progress shows through the whole build: a line for each translated module, all before the
  // first compile ends, then a line for each compiled file with the share of the C code done,
  // which only grows and is 100 at the last.
  const std::size_t moduleCount = smallModules + 3; // pkg, pkg.table and app
  const Progress translated = progressOf(built.out, "translated");
  const Progress compiled = progressOf(built.out, "compiled");
  ASSERT_EQ(translated.counts.size(), moduleCount) << built.out;
  ASSERT_EQ(compiled.counts.size(), moduleCount + 2) << "with the shared module and bootstrap";
  for (std::size_t i = 0; i < moduleCount; ++i) EXPECT_EQ(translated.counts[i], i + 1);
  EXPECT_EQ(translated.total, moduleCount);
  EXPECT_LT(translated.places.back(), compiled.places.front());
  EXPECT_TRUE(std::is_sorted(compiled.percents.begin(), compiled.percents.end()));
  EXPECT_EQ(compiled.percents.back(), 100);
  EXPECT_GT(compiled.percents.front(), 0) << built.out;
  expectSameAsPython((project.buildDir() / "app").string(), "app.py", {}, project.dir());

  // One module among the others no longer translates: the error names it, no C file of it
  // stands for it (the earlier one is gone), and the others are translated whole.
  const fs::path broken = project.buildDir() / "pkg.m07.c";
  ASSERT_TRUE(fs::exists(broken));
  testing::writeFile(project.dir() / "pkg" / "m07.py", "def total(:\n    return 7\n");
  const Outcome failed = project.build({"app", "app.py", "pkg/*.py"});
  EXPECT_EQ(failed.status, 1) << failed.all();
  EXPECT_NE(failed.err.find("Cython could not translate module pkg.m07 (pkg/m07.py)\nlog: "),
            std::string::npos)
      << failed.all();
  // CPython's own verdict on the source, where it refuses it too.
  EXPECT_NE(failed.err.find("CPython cannot compile it: pkg/m07.py:1:11: SyntaxError: invalid "
                            "syntax\n"),
            std::string::npos)
      << failed.all();
  EXPECT_FALSE(fs::exists(broken));
  for (int i = 0; i < smallModules; ++i) {
    if (i == 7) continue;
    const fs::path cFile = project.buildDir() / ("pkg." + moduleName(i) + ".c");
    EXPECT_TRUE(fs::exists(cFile) &&
                testing::readFile(cFile).ends_with("#endif /* Py_PYTHON_H */\n"))
        << cFile;
  }
  EXPECT_FALSE(fs::exists(project.buildDir() / "app"));
}

} // namespace
} // namespace quorvex::e2e
