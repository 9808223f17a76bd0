#!/usr/bin/env python3
"""Build speed and start-up time of quorvex on this machine.

Builds a real package (a pinned Markdown sdist from PyPI, 36 modules with its `extensions`
package, taken from pip's cache when it is there) or, with --generated or without PyPI, a
generated package of about 40 modules of a few hundred lines; builds it twice (the first run
installs the private Python; the second, which rebuilds everything, is the one measured) and
prints a small table: the full build's wall time, the parallel floor measured in the same run
(the shared module's translation, then the slowest chain of one file's Cython run and C compile,
then the link) and their ratio, the translation step against one plain Cython process over the
same files (run right after the build, with the build's Cython options), the product's size, and
start-up times against CPython. With --small the generated package has N three-line modules
instead, which measures what each module costs beyond its code.

It also times call-heavy code, fib(31) and tak(24, 16, 8), built as a program and as a plain
Cython extension of the same file (no corrections, compiled and linked with CPython's own flags
as setuptools would), both built in the same run: the median of interleaved runs of each, and
their ratio. --calls-only times that alone.
"""
import argparse
import os
import re
import shlex
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent


def module_text(index, count, functions):
    lines = [f'"""Generated module {index}."""', "import math", ""]
    if index:
        lines += [f"from . import m{index - 1:02d} as previous", ""]
    lines += [f"SCALE = {index + 1}", ""]
    for k in range(functions):
        lines += [
            f"def f{k}(n, step=2):",
            "    total = 0",
            "    for i in range(n):",
            "        if i % 3 == 0:",
            "            total += i * step * SCALE",
            "        elif i % 3 == 1:",
            "            total -= len(str(i))",
            "        else:",
            "            total ^= int(math.sqrt(i))",
            "    return total",
            "",
            f"class C{k}:",
            "    def __init__(self, n):",
            "        self.items = {str(i): i * i for i in range(n)}",
            "    def render(self, sep=','):",
            "        return sep.join(k.upper() + '=' + str(v) for k, v in self.items.items() if v % 2)",
            "",
        ]
    lines += ["def value():", f"    return f0(10) + {'previous.value()' if index else '0'}", ""]
    return "\n".join(lines) + "\n"


def generate_small(root, count):
    pkg = root / "benchapp"
    pkg.mkdir(parents=True)
    (pkg / "__init__.py").write_text("")
    for i in range(count):
        (pkg / f"m{i:03d}.py").write_text(f"import os\n\ndef value():\n    return {i} + len(os.sep)\n")
    imports = "\n".join(f"from . import m{i:03d}" for i in range(count))
    (pkg / "main.py").write_text(
        f"{imports}\n\ndef main():\n    print(sum(module.value() for name, module in "
        "globals().items() if name[0] == 'm' and name[1:].isdigit()))\n")
    hello = root / "hello"
    hello.mkdir()
    (hello / "hello.py").write_text("def main():\n    print('hello')\n")


def generate(root, count):
    pkg = root / "benchapp"
    pkg.mkdir(parents=True)
    (pkg / "__init__.py").write_text("")
    for i in range(count):
        # Sizes vary as in a real package: most modules small, a few large.
        functions = 8 + (i * 7) % 17 + (24 if i == count // 2 else 0)
        (pkg / f"m{i:02d}.py").write_text(module_text(i, count, functions))
    imports = "\n".join(f"from . import m{i:02d}" for i in range(count))
    (pkg / "main.py").write_text(f"{imports}\n\ndef main():\n    print(m{count - 1:02d}.value())\n")
    hello = root / "hello"
    hello.mkdir()
    (hello / "hello.py").write_text("def main():\n    print('hello')\n")


MARKDOWN = "markdown==3.11.4"


def fetch_markdown(root):
    """Unpacks the pinned Markdown sdist into root/markdown with a program that converts its
    README; returns the build's (main module, patterns), or None when pip cannot get it."""
    where = root / "sdist"
    got = subprocess.run([sys.executable, "-m", "pip", "download", "-q", "--no-deps",
                          "--no-binary", ":all:", "-d", str(where), MARKDOWN],
                         capture_output=True, text=True)
    if got.returncode != 0:
        return None
    archive = next(where.glob("*.tar.gz"))
    shutil.unpack_archive(archive, where)
    source = next(p for p in where.iterdir() if p.is_dir())
    (root / "markdown").mkdir(exist_ok=True)
    shutil.copytree(source / "markdown", root / "markdown" / "markdown")
    (root / "markdown" / "md.py").write_text(
        "import sys\nimport markdown\n\n\ndef main():\n"
        "    print(markdown.markdown(sys.stdin.read(), extensions=['markdown.extensions.tables',"
        " 'markdown.extensions.toc', 'markdown.extensions.fenced_code']))\n")
    shutil.copy(source / "README.md", root / "markdown" / "sample.md")
    return "md", ["md.py", "markdown/**/*.py"]


def build(tool, cwd, main, patterns, exe, env):
    start = time.monotonic()
    run = subprocess.run([str(tool), "--verbose", "build", "--exe", exe, main, *patterns],
                         cwd=cwd, env=env, capture_output=True, text=True)
    wall = time.monotonic() - start
    if run.returncode != 0:
        sys.exit(f"build in {cwd} failed:\n{run.stdout}{run.stderr}")
    return wall, run.stdout + run.stderr


def floor(log):
    """The parallel floor of one build from its DEBUG lines."""
    times = lambda verb: {m[0]: float(m[1]) for m in re.findall(rf"{verb} (\S+) in ([\d.]+) s", log)}
    translated, compiled, linked = times("translated"), times("compiled"), times("linked")
    shared = sum(t for name, t in translated.items() if name.endswith("_qvx_shared.c"))
    chains = [translated.get(name, 0) + t for name, t in compiled.items()
              if not name.endswith("_qvx_shared.c")]
    chains.append(shared + compiled.get(next((n for n in compiled if n.endswith("_qvx_shared.c")), ""), 0))
    if not compiled or not linked:
        sys.exit("the build log holds no per-file times: is the tool too old?")
    return shared + max(chains) + sum(linked.values())


def translation(log):
    """The translation step of one build from its DEBUG lines: its wall time, the number of
    Cython runs (with the shared module's) and the summed time of the project's modules."""
    modules = sum(float(t) for name, t in re.findall(r"translated (\S+) in ([\d.]+) s", log)
                  if not name.endswith(("_qvx_shared.c", "_qvx_bootstrap.c")))
    step = re.search(r"translation: (\d+) modules in (\d+) Cython runs, ([\d.]+) s", log)
    if not step:  # a tool that ran one interpreter per module
        return None, None, modules
    return float(step[3]), int(step[2]) + 1, modules


def plain_cython(tool, project, patterns):
    """Seconds of one `cython` process over the project's files, with the build's options."""
    python = Path(tool).parent / "python"
    files = sorted({str(p) for pattern in patterns for p in project.glob(pattern)
                    if p.suffix == ".py"})
    with tempfile.TemporaryDirectory() as out:
        start = time.monotonic()
        subprocess.run([str(python), "-m", "cython", "-3", "--lenient", "-X",
                        "annotation_typing=False", "-X", "autotestdict=False", "--shared",
                        "_qvx_shared", "-I", str(project),
                        "-o", out, *files], cwd=project, check=True, capture_output=True)
        return time.monotonic() - start, len(files)


CALLS = """\
import sys
import time


def fib(n):
    return n if n < 2 else fib(n - 1) + fib(n - 2)


def tak(x, y, z):
    if y < x:
        return tak(tak(x - 1, y, z), tak(y - 1, z, x), tak(z - 1, x, y))
    return z


def main():
    start = time.perf_counter()
    fib(31) if sys.argv[1] == "fib" else tak(24, 16, 8)
    print(time.perf_counter() - start)
"""


def plain_extension(python, where):
    """Builds where/calls.py as a plain Cython extension with `python`'s Cython, compiled and
    linked with that interpreter's own flags."""
    subprocess.run([str(python), "-m", "cython", "-3", "calls.py", "-o", "calls.c"], cwd=where,
                   check=True, capture_output=True)
    names = ["CC", "CFLAGS", "CCSHARED", "LDSHARED", "EXT_SUFFIX", "INCLUDEPY"]
    config = subprocess.run(
        [str(python), "-c", "import sys, sysconfig\nfor name in sys.argv[1:]: "
         "print(sysconfig.get_config_var(name))", *names],
        check=True, capture_output=True, text=True).stdout.splitlines()
    cc, cflags, ccshared, ldshared, suffix, include = config
    subprocess.run([*shlex.split(cc), *shlex.split(cflags), *shlex.split(ccshared), "-I", include,
                    "-c", "calls.c", "-o", "calls.o"], cwd=where, check=True, capture_output=True)
    subprocess.run([*shlex.split(ldshared), "calls.o", "-o", "calls" + suffix], cwd=where,
                   check=True, capture_output=True)


def timed(argv, cwd):
    """The seconds that a call-heavy run reports of its own work, start-up left out."""
    out = subprocess.run(argv, cwd=cwd, check=True, capture_output=True, text=True).stdout
    return float(out.split()[-1])


def call_rows(tool, root, env, runs):
    """fib and tak as a program and as a plain Cython extension, `runs` interleaved runs each."""
    program_dir, plain_dir = root / "calls", root / "calls-plain"
    for where in (program_dir, plain_dir):
        where.mkdir()
        (where / "calls.py").write_text(CALLS)
    build(tool, program_dir, "calls", ["calls.py"], "calls", env)
    plain_extension(Path(tool).parent / "python", plain_dir)
    program = program_dir / ".quorvex_build" / "calls"
    python = pristine_python(program_dir)
    rows = []
    for case, label in (("fib", "fib(31)"), ("tak", "tak(24, 16, 8)")):
        compiled, extension = [], []
        for _ in range(runs):
            compiled.append(timed([str(program), case], program_dir))
            extension.append(timed([str(python), "-E", "-s", "-c", "import sys; sys.argv[1:] = "
                                    f"['{case}']; import calls; calls.main()"], plain_dir))
        ours, theirs = statistics.median(compiled), statistics.median(extension)
        rows += [(f"{label}, program", f"{ours * 1e3:.1f} ms"),
                 (f"{label}, plain Cython extension", f"{theirs * 1e3:.1f} ms"),
                 (f"{label}, program / extension", f"{ours / theirs:.2f}")]
    return rows


def pristine_python(project):
    return next(p for p in (project / ".quorvex_build" / "python").rglob("bin/python3")
                if p.is_file())


def print_table(title, rows):
    width = max(len(name) for name, _ in rows)
    print(title)
    for name, value in rows:
        print(f"  {name:<{width}}  {value:>10}")


def median_start(argv, cwd, runs, text=""):
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(argv, cwd=cwd, input=text, text=True, stdout=subprocess.DEVNULL, check=True)
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", default=str(REPO / ".venv" / "bin" / "quorvex"))
    parser.add_argument("--modules", type=int, default=40)
    parser.add_argument("--runs", type=int, default=40, help="start-up runs per program")
    parser.add_argument("--compare-debug", action="store_true",
                        help="also build with QUORVEX_DEBUG_INFO=1 and compare the sizes")
    parser.add_argument("--keep", action="store_true", help="keep the generated directory")
    parser.add_argument("--generated", action="store_true",
                        help="build the generated package even when the Markdown sdist is at hand")
    parser.add_argument("--small", action="store_true",
                        help="generate --modules three-line modules (implies --generated)")
    parser.add_argument("--call-runs", type=int, default=5, help="runs of each call-heavy case")
    parser.add_argument("--calls-only", action="store_true",
                        help="time the call-heavy code alone")
    args = parser.parse_args()
    args.tool = os.path.abspath(args.tool)  # the builds run in the project's directory

    root = Path(tempfile.mkdtemp(prefix="quorvex-bench-"))
    env = dict(os.environ)
    env.pop("QUORVEX_DEBUG_INFO", None)
    try:
        if args.calls_only:
            print_table(f"quorvex benchmark: call-heavy code, {os.cpu_count()} cores",
                        call_rows(args.tool, root, env, args.call_runs))
            return
        (generate_small if args.small else generate)(root, args.modules)
        real = None if args.generated or args.small else fetch_markdown(root)
        if real:
            project, (main_module, patterns) = root / "markdown", real
            what = f"{MARKDOWN} ({len(list(project.rglob('*.py'))) - 1} modules)"
        else:
            project, main_module, patterns = root, "benchapp.main", ["benchapp/*.py"]
            what = f"a generated package of {args.modules} {'small ' if args.small else ''}modules"
        build(args.tool, project, main_module, patterns, "benchapp", env)  # installs the Python
        wall, log = build(args.tool, project, main_module, patterns, "benchapp", env)
        the_floor = floor(log)
        step, runs, summed = translation(log)
        plain, files = plain_cython(args.tool, project, patterns)
        product = project / ".quorvex_build" / "benchapp"
        size = product.stat().st_size
        print(f"build {wall:.1f} s, floor {the_floor:.1f} s", flush=True)
        rows = [("full build (every module rebuilt)", f"{wall:.1f} s"),
                ("parallel floor, same run", f"{the_floor:.1f} s"),
                ("build / floor", f"{wall / the_floor:.2f}"),
                *([(f"translation step ({runs} Cython runs)", f"{step:.1f} s")] if step else []),
                ("  summed over the project's modules", f"{summed:.1f} s"),
                (f"one plain cython process, {files} files", f"{plain:.1f} s"),
                *([("translation step / plain cython", f"{step / plain:.2f}")] if step else []),
                ("summed / plain cython", f"{summed / plain:.2f}"),
                ("product size", f"{size / 1e6:.1f} MB")]
        if args.compare_debug:
            debug_env = dict(env, QUORVEX_DEBUG_INFO="1")
            build(args.tool, project, main_module, patterns, "benchapp", debug_env)
            debug_size = product.stat().st_size
            rows.append(("size with debug information", f"{debug_size / 1e6:.1f} MB"))
            build(args.tool, project, main_module, patterns, "benchapp", env)

        python = pristine_python(project)
        # CPython running the same sources, its bytecode cache warm.
        # (-E -s rather than -I, which would leave the working directory off the path.)
        # (The Markdown program converts a one-line document.)
        main_call = f"import {main_module} as m; m.main()"
        source_run = [str(python), "-E", "-s", "-c", main_call]
        line = "Some *text* here.\n"
        subprocess.run(source_run, cwd=project, input=line, text=True, check=True,
                       stdout=subprocess.DEVNULL)
        compiled = median_start([str(product)], project, args.runs, line)
        from_source = median_start(source_run, project, args.runs, line)
        rows += [("start-up, compiled package", f"{compiled * 1e3:.1f} ms"),
                 ("start-up, CPython on its sources", f"{from_source * 1e3:.1f} ms"),
                 ("compiled / CPython", f"{compiled / from_source:.2f}")]

        hello_dir = root / "hello"
        build(args.tool, hello_dir, "hello", ["hello.py"], "hello", env)
        # The standard modules that a program's start-up imports: its template's top-level
        # imports before the first template directive (what follows may be a library's alone).
        template = REPO / "src" / "bootstrap" / "templates" / "bootstrap.pyx.in"
        head = template.read_text().split("{{", 1)[0]
        modules = ", ".join(re.findall(r"^import (\S+)$", head, re.M))
        hello = median_start([str(hello_dir / ".quorvex_build" / "hello")], hello_dir, args.runs)
        bare = median_start([str(python), "-I", "-c", f"import {modules}"], hello_dir, args.runs)
        rows += [("start-up, hello program", f"{hello * 1e3:.1f} ms"),
                 (f"python -I -c 'import {modules}'", f"{bare * 1e3:.1f} ms"),
                 ("hello / interpreter", f"{hello / bare:.2f}")]
        rows += call_rows(args.tool, root, env, args.call_runs)
        print_table(f"quorvex benchmark: {what}, {os.cpu_count()} cores, "
                    f"QUORVEX_JOBS={env.get('QUORVEX_JOBS', 'unset')}", rows)
    finally:
        if args.keep:
            print(f"kept {root}")
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
