# Runs Cython with corrections where it departs from Python or stops on valid code. Each kind of
# correction is a module of the package beside this file (_qvx_cython/), whose header lists them:
#
# semantics.py    results that differ from Python's: C arithmetic on ints (`**`, `<<`), ints
#                 compared with one-character literals, one-byte literals taken as C chars, a
#                 value case after a general one, `list.extend`, the order in which names are
#                 read, future names, int-or-float variables typed C double, `@staticmethod`
#                 over another decorator, variables that may be unbound typed as C numbers,
#                 `chr()` of a large constant, `super()` in comprehensions, None in sys.modules,
#                 a replaced `builtins.__import__`, the class cell while a class is made, `with`
#                 without the protocol, `exec()` in functions, `vars()` in class bodies,
#                 `list.sort()`, dicts changed in loops, lambdas of class-body comprehensions,
#                 or-patterns in class patterns, relative imports in a package's `__init__`,
#                 `super()` in nested functions, deleted arguments, names bound in code that
#                 never runs, exceptions raised by `__await__`, lambdas that yield, dir() in
#                 functions, the metaclass that prepares a class, the exception a generator's
#                 try statement restores, assert, inner functions run early, handlers' unbound
#                 names, `except` types, constant tuples with signed zeros, `x[False]`, builtins
#                 replaced after import, float `//`, a used result of `list.extend`, `format()`
#                 with a format that is no str, builtin types' methods called unbound, operators'
#                 methods called by name
# functions.py    compiled calls, generators and loops at run time: the recursion limit and
#                 the C stack, the interpreter's pending work at loop back-edges and calls,
#                 assigned `__defaults__`, Python 2 attribute names, code objects that run,
#                 async generators never started, isinstance() against Python's types,
#                 generators dropped unfinished in libraries, nested functions called directly,
#                 `return` in a `try` whose `finally` leaves the loop, coroutines never awaited,
#                 generators thrown into, sent to and finished, compiled predicates of exception
#                 groups, the states inspect reads of generators, the locals of finished
#                 generators, assigned `__code__`, `__kwdefaults__` changed in place, private
#                 names of parameters in class bodies, copies of functions made from their code
# refusals.py     valid code that Cython refused or crashed on: slices with computed starts,
#                 `locals()` in a class body's comprehension, displays that cannot unpack,
#                 generator expressions in class decorators, tabs beside spaces, `del` of a
#                 variable a nested function uses, a builtin type's unbound method called with
#                 other arguments, expressions nested as deep as CPython compiles, `.pxd` files
#                 not the module's, `nonlocal __class__`, bare assignment expressions in
#                 subscripts, asynchronous generator expressions outside `async def`, `%`,
#                 `//` and `<` of complex numbers, tuples that hold their own variable,
#                 module names that are no identifiers (`0001_initial`), starred subscripts,
#                 starred C numbers, starred annotations, builtins called with keywords, `divmod`
#                 as a value
# generated_c.py  C that names what no Python defines (PyRange_CheckExact) or that gcc refuses:
#                 C tuples truth-tested in `and`/`or`, `float(x=2)`, `l.append == l.append`,
#                 numbers for a class's bases, complex parts in the stable ABI (PyComplexObject),
#                 infinite imaginary literals, bytearrays extended in programs
# messages.py     names and messages: `<lambda>` and `<genexpr>`, traceback entries of functions
#                 that share a line, division by zero, unbound variables, brief reports of
#                 Cython's own crashes, sets changed in loops, what `async with` and `async
#                 for` cannot await, coroutines' repr and type name, StopIteration leaving a
#                 coroutine, NameError's name, functions' repr
# type_params.py  the type parameter syntax (`def f[T](x)`, `class Box[T]:`, `type Alias = ...`),
#                 which Cython's parser refuses, lowered as CPython lowers it; `__type_params__`
#                 of every compiled function
# common.py       what they share: tree walks, added pipeline stages, the C files of this
#                 directory and the corrections of Cython's utility code
#
# quorvex writes this file and that directory to the build directory and runs this file in place
# of "-m cython".
import importlib.util
import os
import sys
import time
import traceback

from Cython.Compiler import Errors
from Cython.Compiler.CmdLine import parse_command_line
from Cython.Compiler.Main import compile as translate
from Cython.Compiler.Main import main


def _load_corrections():
    # The driver runs with the working directory and its own off the module search path (a
    # module named like one of Cython's must not replace it): the package is loaded from its
    # place by name.
    directory = os.path.splitext(os.path.abspath(__file__))[0]
    spec = importlib.util.spec_from_file_location(
        "_qvx_cython", os.path.join(directory, "__init__.py"),
        submodule_search_locations=[directory])
    package = importlib.util.module_from_spec(spec)
    sys.modules[spec.name] = package
    spec.loader.exec_module(package)


_load_corrections()
from _qvx_cython import semantics, functions, refusals, generated_c, messages, type_params  # noqa


def _translate_modules(args):
    # "--modules" splits the command line: the options before it hold for every module, and
    # after it each module's own options begin at its "--module-name" (name, C file, source).
    # The modules are translated one after the other, each as `cython` translates each of
    # several files (options parsed anew, a fresh context, the error count reset), so one
    # interpreter start serves many modules. A module that fails leaves no C file and does not
    # stop the others; a line on standard output before each module names its C file, one after
    # it gives its time, so that a crash of the interpreter itself can be laid at the module's
    # door.
    at = args.index("--modules")
    common, own = args[:at], args[at + 1:]
    starts = [i for i, word in enumerate(own) if word == "--module-name"] + [len(own)]
    failures = 0
    verbose = len(starts) > 1 and parse_command_line(common + own[:starts[1]])[0].verbose
    if not verbose and hasattr(Errors, "CompilerCrash") and hasattr(Errors, "report_error"):
        Errors.report_error = messages.brief_crash_reports(Errors.report_error)
    for begin, end in zip(starts, starts[1:]):
        options, sources = parse_command_line(common + own[begin:end])
        print("translating %s" % options.output_file, flush=True)
        start = time.monotonic()
        refusal = refusals.cpython_refusal(sources[0]) if len(sources) == 1 else None
        try:
            if refusal:
                sys.stderr.write("CPython cannot compile it: %s\n" % refusal)
                failed = True
            else:
                failed = translate(sources, options).num_errors > 0
        except Exception as error:  # Cython's own faults stop this module only
            Errors.close_listing_file()
            if isinstance(error, (OSError, Errors.PyrexError)):
                message = str(error)
            elif verbose:
                message = traceback.format_exc()
            else:
                message = "%s: %s" % (type(error).__name__, error)
            sys.stderr.write(message.rstrip("\n") + "\n")
            failed = True
        if failed:
            failures += 1
            applied = refusals.applied_declarations.get(options.module_name)
            if applied:
                sys.stderr.write("%s was applied to it, as it declares only what the module "
                                 "defines; move it away to build the module without it\n"
                                 % applied)
            sys.stderr.write("failed to translate module %s\n" % options.module_name)
            try:
                os.remove(options.output_file)
            except OSError:
                pass
        else:
            print("translated %s in %.3f s" % (options.output_file, time.monotonic() - start),
                  flush=True)
    return 1 if failures else 0


if "--modules" in sys.argv:
    sys.exit(refusals.deep_translation(lambda: _translate_modules(sys.argv[1:])))
refusals.deep_translation(lambda: main(command_line=1))
