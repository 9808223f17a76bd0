# Corrections of the names and messages that compiled code shows where Python shows its own:
# - a lambda's __name__ was Cython's internal "lambda", "lambda1", ... instead of "<lambda>", and
#   a generator expression's "genexpr" instead of "<genexpr>"; the functions inside a lambda keep
#   Cython's C names;
# - a division of C numbers by zero said "float division" for `1/0` of two ints (of int literals
#   too, which Cython turns into C doubles), "integer division or modulo by zero" for `1 % 0`, and
#   divmod() "division by zero": Python names the operation and the kind of number, in words
#   that this Python gives;
# - the message of reading an unbound local or free variable was that of Python 3.10;
# - a traceback entry took the name of another function that raised on the same line (`in
#   genexpr` for both `total` and its generator expression), and named a lambda `lambda1` and a
#   generator expression `genexpr`: in modules that hold either, each function keys its own
#   entries (`own_traceback.c`), named `<lambda>` and `<genexpr>`;
# - in a batch of modules, a compiler crash was reported with the chain of nodes that led to it
#   and Cython's traceback, thousands of lines for an expression of thousands of terms: without
#   `-v` only its position, phase and cause are shown (`brief_crash_reports`, which the driver
#   applies);
# - a set changed while a loop went over it raised "set changed size during iteration", where
#   Python writes "Set";
# - an object that `async with` or `async for` could not await was named in the words of a plain
#   `await` ("object int can't be used in 'await' expression"), and an `__await__` that returned
#   a coroutine was said to return a non-iterator: CPython names the method that gave the object
#   (`__aenter__`, `__aexit__`, `__anext__`, an `__aiter__` result without `__anext__`); a
#   coroutine's repr named Cython's type, not the coroutine, and Python's own messages named
#   the type with its module ("'_cython_3_3_2.coroutine' object is not iterable");
# - a StopIteration leaving a coroutine became "RuntimeError: generator raised StopIteration",
#   where Python says "coroutine";
# - a NameError for a global, builtin or free variable had no `name`.
# - a compiled function's repr named Cython's type ("<cyfunction f at 0x...>") where Python's
#   says "<function f at 0x...>".
from Cython.Compiler import (Code, Errors, ExprNodes, Naming, Nodes, ParseTreeTransforms,
                             StringEncoding)

from .common import c_template, c_text, fix_utility, in_python_source, stages_after_parsing, subtree


_division_operations = {"/": lambda a, b: a / b, "//": lambda a, b: a // b,
                        "%": lambda a, b: a % b}


def _zero_division_words(operation, *operands):
    # What the running Python says when `operation` divides operands of these kinds by zero.
    try:
        operation(*operands)
    except ZeroDivisionError as error:
        return str(error)
    return None


def _zero_division_message(cython_message):
    # A C division worded a zero divisor in Cython's words ("float division" for `1/0` of two
    # ints, "integer division or modulo by zero" for `%`): a Python source gets Python's.
    def message(self):
        operation = _division_operations.get(self.operator)
        if operation is None or not in_python_source(self):
            return cython_message(self)
        kinds = getattr(self, "_qvx_operand_kinds", None) or [
            1.0 if operand.type.is_float else 1 for operand in (self.operand1, self.operand2)]
        return _zero_division_words(operation, kinds[0], kinds[1] * 0) or cython_message(self)
    return message


def _operand_kinds_kept(analyse_operation):
    # The analysis turns int literals of a true division into C doubles (`1 / 0` into
    # `1.0 / 0.0`): the kinds of number that Python divides are taken before.
    def analyse(self, env):
        self._qvx_operand_kinds = [1.0 if operand.type.is_float else 1
                                   for operand in (self.operand1, self.operand2)]
        return analyse_operation(self, env)
    return analyse


for _division in (ExprNodes.DivNode, ExprNodes.ModNode):
    _division.zero_division_message = _zero_division_message(
        _division.zero_division_message)
ExprNodes.DivNode.analyse_operation = _operand_kinds_kept(ExprNodes.DivNode.analyse_operation)


_declare_lambda = Nodes.DefNode.declare_lambda_function


def _declare_lambda_named(self, env):
    # A lambda's entry keeps Cython's unique name ("lambda1") for the C names made from it; its
    # Python name, which __name__, argument errors and tracebacks show, is Python's "<lambda>".
    _declare_lambda(self, env)
    entry = self.entry
    if entry is not None and entry.name == self.lambda_name and entry.func_cname:
        entry.name = StringEncoding.EncodedString("<lambda>")


_local_scope = Nodes.DefNode.create_local_scope


def _local_scope_of_lambda(self, env):
    # The scope's name prefixes the C names of the functions inside it: a lambda's scope is
    # named as Cython names the lambda, not by its Python name, which is no C identifier.
    entry = getattr(self, "entry", None)
    if entry is None or not self.lambda_name or entry.name == self.lambda_name:
        return _local_scope(self, env)
    name, entry.name = entry.name, self.lambda_name
    try:
        return _local_scope(self, env)
    finally:
        entry.name = name


if hasattr(Nodes.DefNode, "lambda_name"):
    Nodes.DefNode.declare_lambda_function = _declare_lambda_named
    Nodes.DefNode.create_local_scope = _local_scope_of_lambda


_generator_body = Nodes.GeneratorDefNode.generate_function_body


def _generator_body_named(self, env, code):
    # A generator expression's __name__ is Python's "<genexpr>", not Cython's "genexpr".
    if not (getattr(self, "is_generator_expression", False) and self.name == "genexpr"):
        return _generator_body(self, env, code)
    name, qualname = self.name, self.qualname
    self.name = StringEncoding.EncodedString("<genexpr>")
    if qualname.endswith("genexpr"):
        self.qualname = StringEncoding.EncodedString(qualname[:-len("genexpr")] + "<genexpr>")
    try:
        return _generator_body(self, env, code)
    finally:
        self.name, self.qualname = name, qualname


Nodes.GeneratorDefNode.generate_function_body = _generator_body_named


# Python 3.11 reworded the errors of reading an unbound local or free variable.
_raise_unbound = '    PyErr_Format(PyExc_{}, "{} variable \'%s\' {}", varname);\n'
_unbound_rewording = {
    _raise_unbound.format("UnboundLocalError", "local", "referenced before assignment"):
        _raise_unbound.format("UnboundLocalError", "cannot access local",
                              "where it is not associated with a value"),
    _raise_unbound.format("NameError", "free",
                          "referenced before assignment in enclosing scope"):
        _raise_unbound.format("NameError", "cannot access free",
                              "where it is not associated with a value in enclosing scope"),
}


def _unbound_worded_as_python(lines):
    for old, new in _unbound_rewording.items():
        if old in lines:
            at = lines.index(old)
            lines[at:at + 1] = ['#if PY_VERSION_HEX >= 0x030B0000\n', new, '#else\n', old,
                                '#endif\n']
    return lines


# divmod() of C numbers said "division by zero" where Python names the kind of number.
_divmod_zero = '        PyErr_SetString(PyExc_ZeroDivisionError, "division by zero");\n'


def _divmod_worded_as_python(lines):
    lines = list(lines)
    for section, zero in (("divmod_int", 0), ("divmod_float", 0.0)):
        header = "//////////////////// %s //////////////////\n" % section
        words = _zero_division_words(divmod, 1, zero)
        if header not in lines or _divmod_zero not in lines[lines.index(header):] or not words:
            continue
        at = lines.index(_divmod_zero, lines.index(header))
        lines[at] = _divmod_zero.replace("division by zero", words)
    return lines


fix_utility("Builtins.c", _divmod_worded_as_python)
fix_utility("ObjectHandling.c", _unbound_worded_as_python)

_set_changed = '            "set changed size during iteration");\n'


def _set_changed_worded_as_python(lines):
    return ['            "Set changed size during iteration");\n' if line == _set_changed else line
            for line in lines]


fix_utility("Optimize.c", _set_changed_worded_as_python)


def brief_crash_reports(report):
    # A compiler crash is reported with the chain of nodes that led to it and Cython's own
    # traceback: thousands of lines for an expression of thousands of terms. Its position, the
    # phase and the cause say what happened; the whole report is for `-v`.
    def report_error(err, use_stack=True):
        if isinstance(err, Errors.CompilerCrash) and len(err.args) == 5:
            brief = getattr(err, "_qvx_brief", None)
            if brief is None:
                position, phase, _, cause, _ = err.args
                text = Errors.format_position(position) + "Compiler crash"
                text += " in %s" % phase if phase else ""
                text += ": %s: %s" % (type(cause).__name__, cause) if cause else ""
                brief = err._qvx_brief = Errors.CompileError(None, text)
            err = brief
        return report(err, use_stack)
    return report_error


# Where functions can share a line, each keeps its own traceback entries (own_traceback.c). The
# module being translated is looked at once after parsing: its functions are then numbered as
# their entries are written.
_own_traceback = Code.UtilityCode(
    name="QvxOwnTraceback", impl=c_text("own_traceback.c"), requires=[Nodes.traceback_utility_code],
    proto="static void __Pyx_qvx_AddTraceback(const char *funcname, int function, int c_line,"
          " int py_line, const char *filename);\n")
_traceback_functions = {}
_anonymous_functions = []


def _numbering_traceback_functions(tree):
    # Cython's utility code written in Cython goes through the stages too, while a module is
    # being analysed: only a module's own tree counts.
    if not in_python_source(tree):
        return tree
    _traceback_functions.clear()
    _anonymous_functions[:] = [
        node for node in subtree(tree)
        if isinstance(node, (ExprNodes.LambdaNode, ExprNodes.GeneratorExpressionNode))]
    if _anonymous_functions:
        _traceback_functions[None] = None  # the names, made once analysed
    return tree


stages_after_parsing.append(_numbering_traceback_functions)
_add_traceback = Code.CCodeWriter.put_add_traceback


def _python_entry_names():
    # The names Cython gives the functions of the module's lambdas ("helper.lambda1") and
    # generator expressions ("total.genexpr", and "genexpr" for the body), mapped to Python's.
    names = {}
    for node in _anonymous_functions:
        function = getattr(node, "def_node", None)
        if isinstance(node, ExprNodes.GeneratorExpressionNode):
            functions = [function, getattr(function, "gbody", None)]
            cython_name, python_name = "genexpr", "<genexpr>"
        else:
            # A lambda in code that was never analysed (unreachable) has no name.
            cython_name = getattr(node, "lambda_name", None)
            functions, python_name = [function], "<lambda>"
        for made in functions:
            entry = getattr(made, "entry", None)
            name = str(getattr(entry, "qualified_name", "") or "")
            if cython_name and name.endswith(cython_name):
                names[name] = name[:-len(cython_name)] + python_name
    return names


def _put_own_traceback(self, qualified_name, include_cline=True):
    if not _traceback_functions:
        return _add_traceback(self, qualified_name, include_cline)
    if _traceback_functions[None] is None:
        _traceback_functions[None] = _python_entry_names()
    name = str(qualified_name)
    name = StringEncoding.EncodedString(_traceback_functions[None].get(name, name))
    number = _traceback_functions.setdefault(name, len(_traceback_functions))
    self.globalstate.use_utility_code(_own_traceback)
    if self.funcstate.has_except_star:
        self.putln("if (!%s) {" % Naming.skip_add_traceback_cname)
    self.funcstate.uses_error_indicator = True
    self.putln("__Pyx_qvx_AddTraceback(%s, %d, %s, %s, %s);" % (
        name.as_c_string_literal(), number, Naming.clineno_cname if include_cline else 0,
        Naming.lineno_cname, Naming.filename_cname))
    if self.funcstate.has_except_star:
        self.putln("}")


Code.CCodeWriter.put_add_traceback = _put_own_traceback


# Where `async with` awaits what __aenter__ and __aexit__ returned and `async for` what
# __anext__ returned, what cannot be awaited is named with that method (awaited_by_protocol.c).
_yield_from_protocol = {"__aenter__": "__Pyx_qvx_Coroutine_Yield_From_Aenter",
                        "__aexit__": "__Pyx_qvx_Coroutine_Yield_From_Aexit",
                        "__anext__": "__Pyx_qvx_Coroutine_Yield_From_Anext"}
_protocol_utility = []


def _awaited_by_protocol():
    if not _protocol_utility:
        proto = ("static __Pyx_PySendResult __Pyx_qvx_Coroutine_Yield_From_Protocol("
                 "__pyx_CoroutineObject *gen, PyObject *source, PyObject **retval,"
                 " const char *method);\n")
        for method, name in _yield_from_protocol.items():
            proto += ("#define %s(gen, source, retval) __Pyx_qvx_Coroutine_Yield_From_Protocol("
                      "gen, source, retval, \"%s\")\n" % (name, method))
        _protocol_utility.append(Code.UtilityCode(
            name="QvxYieldFromProtocol", proto=proto, impl=c_text("awaited_by_protocol.c"),
            requires=[Code.UtilityCode.load_cached("CoroutineYieldFrom", "Coroutine.c"),
                      Code.UtilityCode.load_cached("RaiseErrorWithObjectType1",
                                                   "ObjectHandling.c")]))
    return _protocol_utility[0]


_yield_from = ExprNodes.AwaitExprNode.yield_from_func


def _yield_from_naming_method(self, code):
    method = getattr(self, "_qvx_awaited_from", None)
    if method is None:
        return _yield_from(self, code)
    code.globalstate.use_utility_code(_awaited_by_protocol())
    return _yield_from_protocol[method]


def _mark_exit_awaits(node):
    # The two calls of __aexit__ that WithTransform made: on leaving the body and on an error.
    try:
        exits = [node.body.finally_clause.expr,
                 node.body.body.except_clauses[0].body.if_clauses[0].condition.operand]
    except (AttributeError, IndexError):
        return
    for exit_call in exits:
        if (isinstance(exit_call, ExprNodes.WithExitCallNode) and exit_call.with_stat is node
                and isinstance(exit_call.await_expr, ExprNodes.AwaitExprNode)):
            exit_call.await_expr._qvx_awaited_from = "__aexit__"


def _with_awaits_named(visit):
    def visit_with(self, node):
        node = visit(self, node)
        if getattr(node, "is_async", False):
            if isinstance(node.enter_call, ExprNodes.AwaitExprNode):
                node.enter_call._qvx_awaited_from = "__aenter__"
            _mark_exit_awaits(node)
        return node
    return visit_with


ExprNodes.AwaitExprNode.yield_from_func = _yield_from_naming_method
ExprNodes.AwaitIterNextExprNode._qvx_awaited_from = "__anext__"
ParseTreeTransforms.WithTransform.visit_WithStatNode = _with_awaits_named(
    ParseTreeTransforms.WithTransform.visit_WithStatNode)

_anext_missing = ("        \"'async for' requires an object with __anext__ method, got \" "
                  "__Pyx_FMT_TYPENAME, obj);\n")
_anext_missing_as_python = ("        \"'async for' received an object from __aiter__ that does not"
                            " implement __anext__: \" __Pyx_FMT_TYPENAME, obj);\n")
_await_iterator_check = "    if (unlikely(!PyIter_Check(res))) {\n"
_await_iter_function = "static PyObject *__Pyx__Coroutine_GetAwaitableIter(PyObject *obj) {\n"
_coroutine_check = """#ifdef __Pyx_Coroutine_USED
#define __Pyx_qvx_IS_COROUTINE(o) (__Pyx_Coroutine_Check(o) || __Pyx_PyCoro_CheckExact(o))
#else
#define __Pyx_qvx_IS_COROUTINE(o) __Pyx_PyCoro_CheckExact(o)
#endif
"""
_coroutine_slots = "static PyType_Slot __pyx_CoroutineType_slots[] = {\n"
_coroutine_type_name = '    __PYX_TYPE_MODULE_PREFIX "coroutine",\n'


def _await_protocols_worded_as_python(lines):
    # A coroutine is no iterator: the test that __await__ returned none comes after the one
    # that it returned a coroutine, whose message CPython gives.
    if (lines.count(_anext_missing) != 1 or lines.count(_await_iterator_check) != 1
            or lines.count(_await_iter_function) != 1 or lines.count(_coroutine_slots) != 1):
        return lines
    lines = [_anext_missing_as_python if line == _anext_missing else line for line in lines]
    lines[lines.index(_await_iterator_check)] = (
        "    if (unlikely(!PyIter_Check(res) && !__Pyx_qvx_IS_COROUTINE(res))) {\n")
    at = lines.index(_await_iter_function)
    lines[at:at] = _coroutine_check.splitlines(keepends=True)
    at = lines.index(_coroutine_slots)
    lines[at + 1:at + 1] = ["    {Py_tp_repr, (void *)__Pyx_qvx_Coroutine_repr},\n"]
    lines[at:at] = c_text("coroutine_repr.c").splitlines(keepends=True)
    # Python's messages name a type by its C name: the type's module comes from the metaclass
    # of Cython's types, and its members hold a "__module__", so the name needs no module.
    if lines.count(_coroutine_type_name) == 1:
        lines[lines.index(_coroutine_type_name)] = '    "coroutine",\n'
    return lines


fix_utility("Coroutine.c", _await_protocols_worded_as_python)


# A coroutine's body words the RuntimeError that replaces a StopIteration for a coroutine
# (coroutine_stop_iteration.c): while a coroutine's body is written, the line of Cython's
# replacement is written as a call of the correction.
_replace_stop_iteration = "__Pyx_Generator_Replace_StopIteration(0);"
_coroutine_stop_iteration = []
_putln = Code.CCodeWriter.putln


def _coroutine_stop_iteration_utility():
    if not _coroutine_stop_iteration:
        _coroutine_stop_iteration.append(Code.UtilityCode(
            name="QvxCoroutineStopIteration",
            proto="static void __Pyx_qvx_Coroutine_Replace_StopIteration(void);\n",
            impl=c_text("coroutine_stop_iteration.c"),
            requires=[Code.UtilityCode.load_cached("pep479", "Coroutine.c"),
                      Code.UtilityCode.load_cached("PyErrExceptionMatches", "Exceptions.c"),
                      Code.UtilityCode.load_cached("PyErrFetchRestore", "Exceptions.c")]))
    return _coroutine_stop_iteration[0]


def _putln_in_coroutine(self, code="", safe=False):
    if code == _replace_stop_iteration:
        self.globalstate.use_utility_code(_coroutine_stop_iteration_utility())
        code = "__Pyx_qvx_Coroutine_Replace_StopIteration();"
    return _putln(self, code, safe)


def _coroutine_body_worded(generate):
    # The bodies of generators nested in a coroutine are written while its own is: each body
    # writes with its own kind's writer and gives the one before back.
    def generate_function_definitions(self, env, code):
        coroutine = (self.is_coroutine_body and not self.is_async_gen_body
                     and in_python_source(self))
        before = Code.CCodeWriter.putln
        Code.CCodeWriter.putln = _putln_in_coroutine if coroutine else _putln
        try:
            return generate(self, env, code)
        finally:
            Code.CCodeWriter.putln = before
    return generate_function_definitions


Nodes.GeneratorBodyDefNode.generate_function_definitions = _coroutine_body_worded(
    Nodes.GeneratorBodyDefNode.generate_function_definitions)


# A NameError that compiled code raised for a global or builtin name, or for an unbound free
# variable, had no `name`, which Python sets (tools that suggest a name read it).
_name_error_of = {
    ('        PyErr_Format(PyExc_NameError,\n',
     '            "name \'%U\' is not defined", name);\n'): (
        "name", '"name \'%U\' is not defined"', ""),
    (_unbound_rewording[_raise_unbound.format(
        "NameError", "free", "referenced before assignment in enclosing scope")],): (
        "PyUnicode_FromString(varname)",
        '"cannot access free variable \'%U\' where it is not associated with a value in '
        'enclosing scope"', " Py_XDECREF(qvx_name);"),
}


def _name_errors_named(lines):
    lines = list(lines)
    for raising, (name, message, release_name) in _name_error_of.items():
        at = next((at for at, line in enumerate(lines)
                   if lines[at:at + len(raising)] == list(raising)), None)
        if at is None:
            continue
        # On as many lines as it replaces: Cython keeps the file's line numbers in the text of
        # each part, and parts it made before the correction must still read the same.
        raising_with_name = c_template("name_error_name.c").substitute(
            name=name, message=message, release_name=release_name)
        lines[at:at + len(raising)] = ([" ".join(raising_with_name.split()) + "\n"]
                                       + ["\n"] * (len(raising) - 1))
    return lines


fix_utility("ObjectHandling.c", _name_errors_named)
# Cython made the builtin look-up's utility code while loading, before any correction: its text
# is corrected in place.
_builtin_lookup = Code.UtilityCode.load_cached("GetBuiltinName", "ObjectHandling.c")
if isinstance(getattr(_builtin_lookup, "impl", None), str):
    _builtin_lookup.impl = "".join(_name_errors_named(_builtin_lookup.impl.splitlines(True)))


# A compiled function's repr named Cython's type, which reprlib, singledispatch's messages and
# doctests show: Python's reads "<function K.f at 0x...>". The type lives in the shared module,
# so only its C changes.
_cython_function_repr = '    repr = PyUnicode_FromFormat("<cyfunction %U at %p>",\n'


def _function_repr_as_python(lines):
    return [line.replace("<cyfunction ", "<function ") if line == _cython_function_repr else line
            for line in lines]


fix_utility("CythonFunction.c", _function_repr_as_python)
