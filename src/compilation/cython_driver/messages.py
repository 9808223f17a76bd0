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
# - a NameError for a global, builtin or free variable had no `name`.
from Cython.Compiler import Code, Errors, ExprNodes, Naming, Nodes, StringEncoding

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
