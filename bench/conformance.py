#!/usr/bin/env python3
"""CPython's own language tests, compiled: how many still pass.

Builds each of a list of CPython's test modules (from the build interpreter's `Lib/test`),
unchanged, as a library wheel of its own with the installed quorvex, installs it into a
directory of its own, and runs it with unittest under the build interpreter's base CPython,
with the pure `test` package for its support code; then runs the same file as source under the
same CPython. Each test's outcome is recorded as it ends, so that a run that dies (by a signal,
or by the time-out) is started again after the test it died in, which is counted as such.

Prints a table: per module, the tests CPython passes, those the compiled module passes, and the
tests CPython passes that the compiled one does not, by cause: the build refused by Cython or
by the C compiler, the run ended by a signal or by the time-out, a failure, an error, or other
(skipped or not run). With --details, the tests lost and the build's first error lines.

    . scripts/pristine-env && .venv/bin/python bench/conformance.py [--modules a,b] [--jobs N]
"""
import argparse
import concurrent.futures
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import sysconfig
import textwrap
import time
from pathlib import Path

DEFAULT_MODULES = [
    "test_grammar", "test_scope", "test_exceptions", "test_generators", "test_super",
    "test_descr", "test_enum", "test_dict", "test_with", "test_contextlib", "test_coroutines",
    "test_listcomps", "test_class", "test_patma", "test_augassign", "test_dictcomps",
    "test_string_literals", "test_list", "test_int",
    "test_keywordonlyarg", "test_positional_only_arg", "test_funcattrs", "test_named_expressions",
    "test_opcodes", "test_compare", "test_bool", "test_raise", "test_yield_from", "test_property",
    "test_decorators", "test_global", "test_exception_group", "test_except_star", "test_set",
    "test_tuple", "test_slice", "test_fstring", "test_types", "test_asyncgen", "test_richcmp",
    "test_iter", "test_isinstance", "test_baseexception", "test_contextlib_async", "test_unpack",
    "test_genexps", "test_setcomps", "test_string", "test_userdict", "test_userlist", "test_sort",
    "test_long", "test_float", "test_complex", "test_binop", "test_unary", "test_pow",
    "test_genericalias", "test_type_params", "test_type_aliases", "test_typing", "test_functools",
    "test_builtin", "test_reprlib",
]

CAUSES = ["cython", "gcc", "signal", "timeout", "fail", "error", "other"]

# Runs in the child: imports the module named, runs its tests (load_tests honoured) but those
# already recorded, and appends a line to the record file when each test starts and ends.
RUNNER = r'''
import importlib, json, sys, traceback, unittest

name, record_path, skip_path = sys.argv[1:4]
with open(skip_path) as f:
    skip = set(json.load(f))
record = open(record_path, "a", buffering=1)


def write(**entry):
    record.write(json.dumps(entry) + "\n")
    record.flush()


try:
    module = importlib.import_module(name)
except BaseException:
    write(import_error=traceback.format_exc())
    sys.exit(3)


def flat(suite):
    for test in suite:
        if isinstance(test, unittest.TestSuite):
            yield from flat(test)
        else:
            yield test


class Result(unittest.TextTestResult):
    # The worst outcome of the test running: a skipped test is stopped without being started.
    worst = None

    def startTest(self, test):
        write(start=test.id())
        super().startTest(test)

    def note(self, test, outcome):
        if not isinstance(test, unittest.TestCase):
            # An error outside any test: a class's or a module's fixture.
            write(id=test.id(), outcome=outcome)
        elif self.worst not in ("fail", "error"):
            self.worst = outcome

    def addSuccess(self, test):
        super().addSuccess(test)
        self.note(test, "pass")

    def addExpectedFailure(self, test, err):
        super().addExpectedFailure(test, err)
        self.note(test, "pass")

    def addFailure(self, test, err):
        super().addFailure(test, err)
        self.note(test, "fail")

    def addError(self, test, err):
        super().addError(test, err)
        self.note(test, "error")

    def addUnexpectedSuccess(self, test):
        super().addUnexpectedSuccess(test)
        self.note(test, "fail")

    def addSkip(self, test, reason):
        super().addSkip(test, reason)
        self.note(test, "skip")

    def addSubTest(self, test, subtest, err):
        super().addSubTest(test, subtest, err)
        if err is not None:
            self.worst = "fail" if issubclass(err[0], test.failureException) else "error"

    def stopTest(self, test):
        super().stopTest(test)
        write(id=test.id(), outcome=self.worst or "error")
        self.worst = None


suite = unittest.defaultTestLoader.loadTestsFromModule(module)
tests = [test for test in flat(suite) if test.id() not in skip]
unittest.TextTestRunner(verbosity=2, resultclass=Result).run(unittest.TestSuite(tests))
'''


def base_python():
    """The CPython the build interpreter's environment was made from: it has the `test` package."""
    version = f"{sys.version_info.major}.{sys.version_info.minor}"
    for name in (f"python{version}", "python3"):
        candidate = Path(sys.base_prefix) / "bin" / name
        if candidate.exists():
            return candidate
    sys.exit(f"conformance: no python{version} in {sys.base_prefix}/bin")


def run_tests(python, module, path_dir, work, timeout):
    """Runs the module's tests, starting again after a test that ends the run; returns
    ({test id: outcome}, note)."""
    work.mkdir(parents=True, exist_ok=True)
    runner = work / "runner" / "qvx_conformance_runner.py"
    runner.parent.mkdir(exist_ok=True)
    runner.write_text(RUNNER)
    record, skip_file = work / "record.jsonl", work / "skip.json"
    record.unlink(missing_ok=True)
    outcomes, note = {}, ""
    env = dict(os.environ, PYTHONPATH=str(path_dir), PYTHONDONTWRITEBYTECODE="1")
    for attempt in range(10000):
        skip_file.write_text(json.dumps(sorted(outcomes)))
        cwd = work / f"cwd{attempt}"
        cwd.mkdir(exist_ok=True)
        with open(work / f"log{attempt}.txt", "wb") as log:
            child = subprocess.Popen([str(python), "-s", str(runner), module, str(record),
                                      str(skip_file)], cwd=cwd, env=env, stdout=log,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     start_new_session=True)
            try:
                status = child.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(child.pid, signal.SIGKILL)
                child.wait()
                status = None
        pending = None
        for line in record.read_text().splitlines():
            entry = json.loads(line)
            if "start" in entry:
                pending = entry["start"]
            elif "id" in entry:
                outcomes[entry["id"]] = entry["outcome"]
                pending = None
            elif "import_error" in entry:
                last = entry["import_error"].strip().splitlines()[-1]
                return outcomes, f"import failed: {last}"
        record.unlink(missing_ok=True)
        if status == 0 or (status is not None and status > 0):
            return outcomes, note
        ended = "time-out" if status is None else f"signal {signal.Signals(-status).name}"
        if pending is None:
            # Nothing was running: the end came outside any test, and there is no test to skip.
            return outcomes, f"ended by {ended} outside a test"
        outcomes[pending] = "timeout" if status is None else "signal"
    return outcomes, "gave up starting again"


def build_cause(output):
    """What refused a build: Cython, the C compiler, or something else."""
    if re.search(r"Error compiling Cython file|\.pyx?:\d+:\d+: ", output):
        return "cython"
    if re.search(r"\.[ch]:\d+(:\d+)?: (fatal )?error:|command '\S*(gcc|cc|clang)\b.*' failed",
                 output):
        return "gcc"
    return "build"


def first_errors(output, cause, count=6):
    pattern = {"cython": r"\.py:\d+:\d+: |Error compiling", "gcc": r"error:"}.get(cause, r".")
    lines = [line for line in output.splitlines() if re.search(pattern, line)]
    return lines[:count] or output.splitlines()[-count:]


def build(tool, source, module, work, shared_python, timeout):
    """Builds the module as a library wheel and installs it; returns (install dir, None) or
    (None, (cause, lines))."""
    project = work / "project"
    shutil.rmtree(project, ignore_errors=True)
    project.mkdir(parents=True)
    shutil.copy2(source, project / f"{module}.py")
    (project / "pyproject.toml").write_text(
        f'[project]\nname = "conformance-{module.replace("_", "-")}"\nversion = "0"\n')
    if shared_python is not None:
        (project / ".quorvex_build").mkdir()
        subprocess.run(["cp", "-al", str(shared_python), str(project / ".quorvex_build" / "python")],
                       check=True)
    env = dict(os.environ, QUORVEX_JOBS=os.environ.get("QUORVEX_JOBS", "1"))
    try:
        made = subprocess.run([str(tool), "--verbose", "build", "--library", "--wheel", "dist", module,
                               f"{module}.py"], cwd=project, env=env, capture_output=True,
                              text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return None, ("build", [f"build took more than {timeout} s"])
    output = made.stdout + made.stderr
    (work / "build.log").write_text(output)
    if made.returncode != 0:
        cause = build_cause(output)
        return None, (cause, first_errors(output, cause))
    wheels = list((project / "dist").glob("*.whl"))
    if len(wheels) != 1:
        return None, ("build", [f"expected one wheel in {project / 'dist'}, found {len(wheels)}"])
    target = work / "installed"
    shutil.rmtree(target, ignore_errors=True)
    installed = subprocess.run([sys.executable, "-m", "pip", "install", "-q", "--no-deps",
                                "--no-index", "--target", str(target), str(wheels[0])],
                               capture_output=True, text=True)
    if installed.returncode != 0:
        return None, ("build", ["pip install failed:", *installed.stderr.splitlines()[-4:]])
    return target, None


def prime_python(tool, work):
    """Installs the private Python once, by building a one-line library, for every build to share."""
    shared = work / "python"
    if shared.is_dir() and any(shared.iterdir()):
        return shared
    project = work / "prime"
    shutil.rmtree(project, ignore_errors=True)
    project.mkdir(parents=True)
    (project / "conformance_prime.py").write_text("VALUE = 1\n")
    made = subprocess.run([str(tool), "build", "--library", "conformance_prime",
                           "conformance_prime.py"], cwd=project, capture_output=True, text=True)
    if made.returncode != 0:
        sys.exit("conformance: cannot build a one-line library (after `. scripts/pristine-env`?):\n"
                 + made.stdout + made.stderr)
    shutil.move(str(project / ".quorvex_build" / "python"), str(shared))
    shutil.rmtree(project, ignore_errors=True)
    return shared


def measure(args, module, shared_python, python):
    source = args.tests_dir / f"{module}.py"
    work = args.work / module
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    started = time.monotonic()
    reference, ref_note = run_tests(python, module, source.parent if args.in_place else
                                    _source_copy(source, work), work / "cpython", args.timeout)
    passed = {test for test, outcome in reference.items() if outcome == "pass"}
    row = {"module": module, "cpython": len(passed), "compiled": 0,
           **{cause: 0 for cause in CAUSES}, "lost": {}, "notes": []}
    if ref_note:
        row["notes"].append(f"CPython: {ref_note}")
    installed, refused = build(args.tool, source, module, work, shared_python, args.build_timeout)
    if refused is not None:
        cause, lines = refused
        row[cause if cause in CAUSES else "other"] = len(passed)
        row["notes"].append(f"refused ({cause}):")
        row["notes"].extend("  " + line for line in lines)
    else:
        compiled, note = run_tests(python, module, installed, work / "compiled", args.timeout)
        if note:
            row["notes"].append(f"compiled: {note}")
        row["compiled"] = sum(outcome == "pass" for outcome in compiled.values())
        for test in sorted(passed):
            outcome = compiled.get(test, "other")
            if outcome != "pass":
                cause = outcome if outcome in CAUSES else "other"
                row[cause] += 1
                row["lost"][test] = cause
    row["seconds"] = round(time.monotonic() - started)
    return row


def _source_copy(source, work):
    # The source alone in a directory, as the compiled module is alone in its install directory.
    where = work / "source"
    where.mkdir(parents=True, exist_ok=True)
    shutil.copy2(source, where / source.name)
    return where


def print_table(rows):
    headers = ["module", "cpython", "compiled", *CAUSES]
    table = [[str(row[h]) for h in headers] for row in rows]
    totals = ["total"] + [str(sum(row[h] for row in rows)) for h in headers[1:]]
    widths = [max(len(line[i]) for line in [headers, totals, *table]) for i in range(len(headers))]

    def show(cells):
        print("  ".join(cell.ljust(widths[0]) if i == 0 else cell.rjust(widths[i])
                        for i, cell in enumerate(cells)))
    show(headers)
    for line in table:
        show(line)
    show(totals)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--modules", help="comma-separated test modules (default: %(default)s)",
                        default=",".join(DEFAULT_MODULES))
    parser.add_argument("--jobs", type=int, default=2, help="modules measured at once")
    parser.add_argument("--timeout", type=int, default=300,
                        help="seconds a test run may take before it is ended (and started again)")
    parser.add_argument("--build-timeout", type=int, default=1800, help="seconds a build may take")
    parser.add_argument("--tool", type=Path, default=Path(sys.executable).parent / "quorvex")
    parser.add_argument("--tests-dir", type=Path,
                        default=Path(sysconfig.get_paths()["stdlib"]) / "test",
                        help="where the test modules are (default: %(default)s)")
    parser.add_argument("--work", type=Path, default=Path(".quorvex_conformance"),
                        help="scratch directory, kept for inspection (default: %(default)s)")
    parser.add_argument("--in-place", action="store_true",
                        help="run CPython on the tests directory itself, not on a copy")
    parser.add_argument("--details", action="store_true",
                        help="list the tests lost and the build errors under the table")
    parser.add_argument("--json", type=Path, help="also write the rows to this file")
    args = parser.parse_args()
    args.work = args.work.resolve()
    modules = [name.strip().removesuffix(".py") for name in args.modules.split(",") if name.strip()]
    missing = [name for name in modules if not (args.tests_dir / f"{name}.py").is_file()]
    if missing:
        sys.exit(f"conformance: no {', '.join(missing)} in {args.tests_dir}")
    if not args.tool.exists():
        sys.exit(f"conformance: no tool at {args.tool}")
    python = base_python()
    args.work.mkdir(parents=True, exist_ok=True)
    shared_python = prime_python(args.tool, args.work)

    rows = {}
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, args.jobs)) as pool:
        futures = {pool.submit(measure, args, module, shared_python, python): module
                   for module in modules}
        for future in concurrent.futures.as_completed(futures):
            row = future.result()
            rows[row["module"]] = row
            lost = ", ".join(f"{cause} {row[cause]}" for cause in CAUSES if row[cause])
            print(f"[{len(rows)}/{len(modules)}] {row['module']}: {row['compiled']} of "
                  f"{row['cpython']} ({row['seconds']} s){'; ' + lost if lost else ''}",
                  file=sys.stderr, flush=True)
    ordered = [rows[module] for module in modules]
    print_table(ordered)
    if args.details:
        for row in ordered:
            if row["notes"] or row["lost"]:
                print(f"\n{row['module']}:")
                for line in row["notes"]:
                    print(textwrap.indent(line, "  "))
                for test, cause in row["lost"].items():
                    print(f"  {cause:8} {test}")
    if args.json:
        args.json.write_text(json.dumps(ordered, indent=1))


if __name__ == "__main__":
    main()
