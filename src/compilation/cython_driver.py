# Runs Cython with corrections where it departs from Python or stops on valid code:
# - `x ** n` with both operands C integers (as `len(s)` is) is computed in C, a float
#   (`2 ** len(s) == 8.0`) or a wrapped-around integer, where Python gives an exact int: it
#   becomes a Python operation unless the module asks for C semantics (the cpow directive);
#   so does `n << k` of two C integers, which C truncates to 64 bits;
# - unpacking a slice with a computed start (`a, b = s[i - 2:i]`) crashed type inference;
# - `locals()`, `vars()` or `dir()` as the first iterable of a comprehension in a class body
#   (`class C: names = [n for n in locals()]`) crashed the compiler;
# - a variable inferred to hold a range was checked with PyRange_CheckExact, which no Python
#   defines: the module then fails to load;
# - a value case after a general one (`case str(): out = m` then `case None: out = ""`) took
#   the names bound in the general case's body for bound: rebinding them freed a NULL;
# - `items.extend(iterable)` on a list is called as a method: the limited API's stand-in takes
#   the whole iterable before adding anything, where Python keeps the items before an error;
# - an import found None in sys.modules and gave it back, where Python raises
#   ModuleNotFoundError (how a module is blocked): None now takes the importer's way.
# quorvex writes this file to the build directory and runs it in place of "-m cython".
from Cython.Compiler import (Builtin, Code, ExprNodes, MatchCaseNodes, ParseTreeTransforms,
                             PyrexTypes)
from Cython.Compiler.Main import main

_c_operation = ExprNodes.PowNode.is_py_operation_types


def _is_py_operation_types(node, type1, type2):
    return _c_operation(node, type1, type2) or (
        not node.is_cpow and type1.is_int and type2.is_int)


ExprNodes.PowNode.is_py_operation_types = _is_py_operation_types

_int_operation = ExprNodes.IntBinopNode.is_py_operation_types


def _is_py_shift(node, type1, type2):
    return _int_operation(node, type1, type2) or (
        node.operator == "<<" and type1.is_int and type2.is_int)


ExprNodes.IntBinopNode.is_py_operation_types = _is_py_shift

_item_node = ExprNodes.ExprNode.inferable_item_node


class _AnyItem(ExprNodes.ExprNode):
    # An item at a place not known when compiling: nothing is known of its type.
    subexprs = []
    type = PyrexTypes.py_object_type

    def may_be_none(self):
        return True


def _inferable_item_node(node, index=0):
    if not isinstance(index, int):
        return _AnyItem(node.pos)
    return _item_node(node, index)


ExprNodes.ExprNode.inferable_item_node = _inferable_item_node

_scope_node = ParseTreeTransforms.TransformBuiltinMethods.current_scope_node


def _class_scope_node(self):
    # A comprehension's first iterable is evaluated in the enclosing class body: there
    # locals(), vars() and dir() are the class's namespace, held by the class's node.
    node, env = self.env_stack[-1]
    if (env.is_py_class_scope and isinstance(node, ExprNodes.IteratorNode)
            and len(self.env_stack) > 2
            and isinstance(self.env_stack[-2][0], ExprNodes.ComprehensionNode)
            and self.env_stack[-3][1] is env):
        return self.env_stack[-3][0]
    return _scope_node(self)


ParseTreeTransforms.TransformBuiltinMethods.current_scope_node = _class_scope_node
# The loop over such a namespace asks its type: any mapping a metaclass prepared.
ExprNodes.PyClassLocalsExprNode.infer_type = lambda node, env: PyrexTypes.py_object_type

_type_check = PyrexTypes.BuiltinObjectType.type_check_function


def _type_check_function(self, exact=True):
    # range cannot be subclassed: PyRange_Check is exact, and there is no PyRange_CheckExact.
    return _type_check(self, exact and self.name != "range")


PyrexTypes.BuiltinObjectType.type_check_function = _type_check_function

_refactor_cases = MatchCaseNodes.MatchNode.refactor_cases


def _refactor_leading_cases(node):
    # Only the leading value cases become an if statement: the flow analysis would enter one
    # after a general case from that case's body, taking its names for bound.
    cases = node.cases
    general = [i for i, case in enumerate(cases) if case and not case.is_simple_value_comparison()]
    lead = general[0] if general else len(cases)
    node.cases = cases[:lead]
    _refactor_cases(node)
    node.cases += [case for case in cases[lead:] if case is not None]


MatchCaseNodes.MatchNode.refactor_cases = _refactor_leading_cases

del Builtin.builtin_scope.lookup("list").type.scope.entries["extend"]

_read_utilities = Code.read_utilities_hook
_module_lookup = '    PyObject *imported_module = PyImport_GetModule(qualname);\n'
_none_is_missing = ('    if (imported_module == Py_None) { Py_DECREF(imported_module); '
                    'imported_module = NULL; }\n')


def _read_utilities_fixed(path):
    lines = _read_utilities(path)
    if path == 'ImportExport.c' and _module_lookup in lines:
        at = lines.index(_module_lookup) + 1
        lines[at:at] = [_none_is_missing]
    return lines


Code.read_utilities_hook = _read_utilities_fixed


import os  # noqa: E402 (the batch handling below keeps apart from the corrections)
import sys  # noqa: E402
import time  # noqa: E402
import traceback  # noqa: E402

from Cython.Compiler import Errors  # noqa: E402
from Cython.Compiler.CmdLine import parse_command_line  # noqa: E402
from Cython.Compiler.Main import compile as translate  # noqa: E402


def _translate_modules(args):
    # "--modules" splits the command line: the options before it hold for every module, and
    # after it each module's own options begin at its "--module-name" (name, C file, source).
    # The modules are translated one after the other, each as `cython` translates each of
    # several files (options parsed anew, a fresh context, the error count reset), so one
    # interpreter start serves many modules. A module that fails leaves no C file and does not
    # stop the others; one line per module on standard output gives its time.
    at = args.index("--modules")
    common, own = args[:at], args[at + 1:]
    starts = [i for i, word in enumerate(own) if word == "--module-name"] + [len(own)]
    failures = 0
    for begin, end in zip(starts, starts[1:]):
        options, sources = parse_command_line(common + own[begin:end])
        start = time.monotonic()
        try:
            failed = translate(sources, options).num_errors > 0
        except Exception as error:  # Cython's own faults stop this module only
            Errors.close_listing_file()
            message = str(error) if isinstance(error, (OSError, Errors.PyrexError)) else (
                traceback.format_exc())
            sys.stderr.write(message.rstrip("\n") + "\n")
            failed = True
        if failed:
            failures += 1
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
    sys.exit(_translate_modules(sys.argv[1:]))
main(command_line=1)
