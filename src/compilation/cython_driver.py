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
#   ModuleNotFoundError (how a module is blocked): None now takes the importer's way;
# - a local variable in an expression was read where its value is used, not where Python reads
#   it: `(x, x := x + 1)` gave (11, 11), as did `(x, bump())` when bump() rebinds x as nonlocal;
# - a variable assigned an int in one place and a float in another (`v = int(s)`, else
#   `v = float(s)`), and `n if c else 0.5` or `max(n, 0.5)`, were typed C double: an int came
#   back as a float;
# - `@staticmethod` over another decorator was applied below it: over `@abstractmethod` the
#   module failed to load;
# - a compiled function called another without counting against the recursion limit, where a
#   Python function is a frame that counts: unbounded recursion overflowed the C stack and
#   killed the process (SIGSEGV). Each call, and each resumption of a generator's or coroutine's
#   body, now counts as a Python frame does, and one that finds its thread's stack nearly full
#   raises RecursionError as well; so does each generator of a chain of `yield from`
#   delegations that hands a value on, which Cython does without entering its body (such a
#   chain went on far past the limit, in time growing with the square of its length, and
#   overflowed a small stack);
# - a local variable that may be read before it is assigned (`if flag: w = 1`, then `return w`)
#   was typed C int or double, which holds no "unbound": it gave garbage where Python raises
#   UnboundLocalError; the message of that error (and of an unbound free variable) was that of
#   Python 3.10;
# - `chr(2**40)` truncated its constant argument to a C int: `chr(2**32 + 65)` gave "A";
# - a lambda's __name__ was Cython's internal "lambda", "lambda1", ... instead of "<lambda>", and
#   a generator expression's "genexpr" instead of "<genexpr>"; the functions inside a lambda keep
#   Cython's C names;
# - zero-argument super() in a comprehension or generator expression of a method
#   (`[v for v in super().split()]`) raised RuntimeError: it found no __class__ cell;
# - assigning __defaults__ or __kwdefaults__ warned (RuntimeWarning) and changed nothing that
#   calls used: calls now take the assigned defaults;
# - in a batch of modules, a compiler crash was reported with the chain of nodes that led to it
#   and Cython's traceback, thousands of lines for an expression of thousands of terms: without
#   `-v` only its position, phase and cause are shown;
# - a compiled function's code object held zeros for bytecode: running it (`exec(f.__code__)`)
#   crashed the process (SIGSEGV). It now raises TypeError naming the function;
# - an async generator dropped before it started warned that a coroutine was never awaited;
# - `from __future__ import annotations` bound no name `annotations`, where Python binds the
#   feature's object from the module __future__ (python-fire tests `member is absolute_import`);
# - a compiled function answered to Python 2's names of its attributes (`func_name`,
#   `func_code`, ...), which dir() listed and tools that list attributes showed;
# - compiled code never let the interpreter serve what waits for its bytecode loop's checks at
#   backward jumps and function starts: a thread waiting for the GIL starved, collections that
#   allocation scheduled never ran (cyclic garbage piled up), and Ctrl-C did not stop a loop.
#   Loop back-edges and compiled calls now count down to such a check;
# - an int compared with a one-character string literal was compared with the character's code
#   (`1 < "a"` gave True, `n == "a"` True for 97), and a display of one-byte literals iterated
#   as C chars, which came back as ints; the same name looped over both refused the module;
# - a division of C numbers by zero said "float division" for `1/0` of two ints, "integer division
#   or modulo by zero" for `1 % 0`, and divmod() "division by zero": Python names the operation
#   and the kind of number, in words that this Python gives;
# - a display that cannot unpack into its target (`a, b = [1, 2, 3]`) stopped the build; Python
#   raises ValueError when the line runs.
# quorvex writes this file to the build directory and runs it in place of "-m cython".
import ast
import os
import string
import sys
import time
import traceback

from Cython.Compiler import (Builtin, Code, Errors, ExprNodes, MatchCaseNodes, Nodes,
                             ParseTreeTransforms, Pipeline, PyrexTypes, StringEncoding, Symtab,
                             TypeInference)
from Cython.Compiler.CmdLine import parse_command_line
from Cython.Compiler.Main import compile as translate
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

_common_int_type = ExprNodes.CmpNode.find_common_int_type


def _character_literal(node):
    return node.is_string_literal and node.can_coerce_to_char_literal()


def _in_python_source(node):
    # Cython's own utility code is Cython, where a C char is a character.
    return node.pos[0].is_python_file()


def _find_common_character_type(node, env, op, operand1, operand2):
    # A one-character literal is compared as a C character only with what stands for a string
    # of one character too: `1 < "a"` and `n == "a"` compared the int with the character's code,
    # where Python compares an int with a string (False, or TypeError for an order). A C char
    # taken from bytes is an int in Python (`for c in b"ab": c == b"a"` is False).
    literal1, literal2 = _character_literal(operand1), _character_literal(operand2)
    if literal1 != literal2 and _in_python_source(node):
        literal, other = (operand1, operand2) if literal1 else (operand2, operand1)
        if other.type.is_int and not (literal.type.is_pystr_type and other.type.is_unicode_char):
            return None
    return _common_int_type(node, env, op, operand1, operand2)


ExprNodes.CmpNode.find_common_int_type = _find_common_character_type

_sequence_item_type = ExprNodes.infer_sequence_item_type


def _item_type_keeping_bytes(env, seq_node, index_node=None, seq_type=None):
    # Items of a display of one-byte literals were taken as C chars, which come back to Python
    # as ints: `for b in (b"a", b"b"): print(b)` printed 97. They stay bytes objects.
    item_type = _sequence_item_type(env, seq_node, index_node, seq_type)
    if item_type is PyrexTypes.c_uchar_type and _in_python_source(seq_node):
        return None
    return item_type


ExprNodes.infer_sequence_item_type = _item_type_keeping_bytes

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
        if operation is None or not _in_python_source(self):
            return cython_message(self)
        kinds = [1.0 if operand.type.is_float else 1 for operand in (self.operand1, self.operand2)]
        return _zero_division_words(operation, kinds[0], kinds[1] * 0) or cython_message(self)
    return message


for _division in (ExprNodes.DivNode, ExprNodes.ModNode):
    _division.zero_division_message = _zero_division_message(
        _division.zero_division_message)

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


class _ReadNow(ExprNodes.ExprNode):
    # A name read whose value is taken where Python takes it: a local variable is otherwise
    # read where its parent uses it, after the parent's later operands have run.
    subexprs = ["arg"]

    def infer_type(self, env):
        return self.arg.infer_type(env)

    def analyse_types(self, env):
        arg = self.arg.analyse_types(env)
        if arg.is_name and not (arg.type.is_error or arg.type.is_cfunction):
            return arg.coerce_to_temp(env)
        return arg


def _child_nodes(node, skip=()):
    for attr in node.child_attrs:
        if attr in skip:
            continue
        value = getattr(node, attr, None)
        for child in value if isinstance(value, list) else [value]:
            if isinstance(child, Nodes.Node):
                yield child


def _operation(node):
    return isinstance(node, (ExprNodes.ExprNode, ExprNodes.CascadedCmpNode))


def _read_children(node):
    # The children of a statement that it binds (loop, assignment and deletion targets, also
    # inside comprehensions and named expressions) are no reads.
    if _operation(node):
        return _child_nodes(node)
    return _child_nodes(node, ("target", "lhs", "lhs_list")
                        + (("args",) if isinstance(node, Nodes.DelStatNode) else ()))


def _subtree(root):
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(_child_nodes(node))


def _read_now(root, names):
    stack = [root]
    while stack:
        node = stack.pop()
        if _operation(node) and not isinstance(node, _ReadNow):
            for attr in node.child_attrs:
                value = getattr(node, attr, None)
                items = value if isinstance(value, list) else [value]
                for at, item in enumerate(items):
                    if isinstance(item, ExprNodes.NameNode) and item.name in names:
                        items[at] = _ReadNow(item.pos, arg=item)
                if not isinstance(value, list) and items[0] is not value:
                    setattr(node, attr, items[0])
        stack.extend(_read_children(node))


def _read_names_in_order(tree):
    # `(x, x := x + 1)` or `(x, bump())` where bump() rebinds x as nonlocal: the names that a
    # later operand of the same expression can rebind are read into temporaries when Python
    # reads them.
    nonlocal_names = {name for node in _subtree(tree) if isinstance(node, Nodes.NonlocalNode)
                      for name in node.names}
    stack = [tree]
    while stack:
        node = stack.pop()
        if not isinstance(node, ExprNodes.ExprNode):
            stack.extend(_read_children(node))
            continue
        names = nonlocal_names | {
            inner.target_name for inner in _subtree(node)
            if isinstance(inner, ExprNodes.AssignmentExpressionNode)}
        if names:
            _read_now(node, names)
    return tree


def _reading_in_order(create_pipeline):
    # The names are marked after the flow analysis, which keeps its facts on each name node,
    # and before the expressions are analysed, which makes the temporaries.
    def create(context, mode, exclude_classes=()):
        stages = create_pipeline(context, mode, exclude_classes)
        analysis = [at for at, stage in enumerate(stages)
                    if isinstance(stage, ParseTreeTransforms.AnalyseExpressionsTransform)]
        if mode != "pxd" and analysis:
            stages.insert(analysis[0], _read_names_in_order)
        return stages
    return create


if (hasattr(Pipeline, "create_pipeline")
        and hasattr(ExprNodes.AssignmentExpressionNode, "target_name")):
    Pipeline.create_pipeline = _reading_in_order(Pipeline.create_pipeline)


def _future_imports(source):
    # The module's `from __future__ import ...` statements as Python reads them. Cython's parser
    # takes their features and leaves nothing of them in the tree.
    filename = getattr(source, "filename", None)
    if not isinstance(filename, str) or not os.path.isfile(filename):
        return []  # a text of Cython's own, as the shared utility module is
    with open(filename, "rb") as file:
        text = file.read()
    if b"__future__" not in text:
        return []
    try:
        module = ast.parse(text)
    except (SyntaxError, ValueError, RecursionError, MemoryError):
        return []  # what Python cannot read, Cython judges on its own
    return [statement for statement in module.body
            if isinstance(statement, ast.ImportFrom) and statement.module == "__future__"
            and not statement.level]


def _bind_future_names(tree):
    # `from __future__ import annotations` also binds `annotations` to the feature's object,
    # as Python's import does: each such statement is also made an import of the module
    # __future__ at the head of the body, where nothing but other future statements and the
    # docstring can precede it. A module without one keeps its tree as it is.
    source = tree.pos[0]
    imports = []
    for statement in _future_imports(source):
        pos = (source, statement.lineno, statement.col_offset)
        aliases = [(StringEncoding.EncodedString(alias.name),
                    StringEncoding.EncodedString(alias.asname or alias.name),
                    (source, alias.lineno, alias.col_offset))
                   for alias in statement.names]
        module = ExprNodes.ImportNode(
            pos, module_name=ExprNodes.IdentifierStringNode(
                pos, value=StringEncoding.EncodedString("__future__")),
            is_import_as_name=False, level=0,
            imported_names=[ExprNodes.IdentifierStringNode(at, value=name)
                            for name, _, at in aliases])
        imports.append(Nodes.FromImportStatNode(
            pos, module=module,
            items=[(name, ExprNodes.NameNode(at, name=bound)) for name, bound, at in aliases]))
    if imports:
        tree.body = Nodes.StatListNode(imports[0].pos, stats=imports + [tree.body])
    return tree


def _unpacking_fails(target, value):
    # Whether unpacking the display `value` into the display `target` raises ValueError.
    if not target.is_sequence_constructor:
        return False
    if value.is_sequence_constructor:
        items = value.args
    elif isinstance(value, ExprNodes.UnicodeNode):
        items = value.value
    else:
        return False
    starred = sum(1 for item in target.args if item.is_starred)
    if starred > 1:
        return False
    if starred:
        return len(target.args) - 1 > len(items)
    return len(target.args) != len(items) or (value.is_sequence_constructor and any(
        _unpacking_fails(inner, item) for inner, item in zip(target.args, items)))


class _AsObject(ExprNodes.ProxyNode):
    # A value taken as a Python object whatever Cython knows of its type and length.
    def infer_type(self, env):
        return PyrexTypes.py_object_type

    def analyse_types(self, env):
        self.arg = self.arg.analyse_expressions(env).coerce_to_pyobject(env)
        self.update_type_and_entry()
        return self


def _unpack_when_running(tree):
    # `a, b = [1, 2, 3]` stopped the build with Cython's "too many values to unpack", where
    # Python compiles the module and raises ValueError when the line runs: such a value is
    # unpacked as an object, when the statement runs.
    for node in _subtree(tree):
        if isinstance(node, Nodes.SingleAssignmentNode):
            targets = [node.lhs]
        elif isinstance(node, Nodes.CascadedAssignmentNode):
            targets = node.lhs_list
        else:
            continue
        if any(_unpacking_fails(target, node.rhs) for target in targets):
            node.rhs = _AsObject(node.rhs)
    return tree


def _with_stages_after_parsing(create_pipeline):
    # Right after parsing: future names bound before the names are declared, and unpacking that
    # must fail left to run time before Cython matches the displays of both sides.
    def create(context, mode, exclude_classes=()):
        stages = create_pipeline(context, mode, exclude_classes)
        if mode != "pxd":
            stages[0:0] = [_bind_future_names, _unpack_when_running]
        return stages
    return create


if hasattr(Pipeline, "create_pipeline") and hasattr(ExprNodes, "ImportNode"):
    Pipeline.create_pipeline = _with_stages_after_parsing(Pipeline.create_pipeline)


def _number_kind(type_):
    if type_.is_int or type_.is_enum or type_ in (Builtin.int_type, Builtin.bool_type):
        return "int"
    if type_.is_float or type_ is Builtin.float_type:
        return "float"
    if type_.is_complex or type_ is Builtin.complex_type:
        return "complex"
    return None


def _mixes_number_kinds(*types):
    return len({_number_kind(type_) for type_ in types} - {None}) > 1


def _keeping_number_kinds(spanning):
    # A value that is an int or a float (`v = int(s)` or else `v = float(s)`, `n if c else
    # 0.5`, `max(n, 0.5)`) is a Python object: a C double would turn the int into a float.
    def span(type1, type2):
        if _mixes_number_kinds(type1, type2):
            return PyrexTypes.py_object_type
        return spanning(type1, type2)
    return span


def _reducing_keeping_number_kinds(reduce_spanning):
    # The items of `(1, 2.5)` likewise.
    def reduce(types):
        types = list(types)
        return PyrexTypes.py_object_type if _mixes_number_kinds(*types) else reduce_spanning(types)
    return reduce


for _module, _name, _keeping in (
        (TypeInference, "find_spanning_type", _keeping_number_kinds),
        (PyrexTypes, "independent_spanning_type", _keeping_number_kinds),
        (PyrexTypes, "reduce_spanning_types", _reducing_keeping_number_kinds)):
    if hasattr(_module, _name):
        setattr(_module, _name, _keeping(getattr(_module, _name)))


def _decorators_in_written_order(extract_directives):
    # staticmethod is both a directive and a decorator: it was moved below the decorators
    # written under it, so `@staticmethod` over `@abstractmethod` set __isabstractmethod__ on
    # a staticmethod object, which refuses it. The decorators kept apply in written order.
    def extract(self, node, scope_name):
        written = list(node.decorators or ())
        found = extract_directives(self, node, scope_name)
        kept = {id(decorator) for decorator in node.decorators or ()}
        if kept <= {id(decorator) for decorator in written}:
            node.decorators = [decorator for decorator in written if id(decorator) in kept]
        return found
    return extract


_directives = ParseTreeTransforms.InterpretCompilerDirectives
if hasattr(_directives, "_extract_directives"):
    _directives._extract_directives = _decorators_in_written_order(
        _directives._extract_directives)


def _reads_unbound(entry):
    # A read in the variable's own scope that the flow analysis found may come before any
    # assignment; reads from inner functions are left as they are (always "maybe").
    return any(reference.node.cf_maybe_null and not reference.node.allow_null
               and not reference.entry.from_closure
               for reference in entry.cf_references)


def _keeping_unbound_reads(infer_types):
    # Inferred as a Python object, such a variable is checked where it may be unbound, as
    # Python checks it. The scope is inferred again with those fixed, so that what was inferred
    # from their C types follows; a scope without them keeps its first inference.
    def infer(self, scope):
        open_entries = [entry for entry in scope.entries.values()
                        if entry.type is PyrexTypes.unspecified_type]
        infer_types(self, scope)
        # (Asked last: whether a type converts to an object declares its conversion code.)
        unbound = [entry for entry in open_entries
                   if not entry.type.is_pyobject and _reads_unbound(entry)
                   and entry.type.can_coerce_to_pyobject(scope)]
        if not unbound:
            return
        for entry in open_entries:
            for each in entry.all_entries():
                each.type = PyrexTypes.unspecified_type
            for reference in entry.cf_references:
                reference.node.inferred_type = None
        for entry in unbound:
            self.set_entry_type(entry, PyrexTypes.py_object_type, scope)
        infer_types(self, scope)
    return infer


_inferer = getattr(TypeInference, "SimpleAssignmentTypeInferer", None)
if (_inferer is not None and hasattr(_inferer, "set_entry_type")
        and hasattr(Symtab.Entry, "from_closure")
        and all(hasattr(ExprNodes.NameNode, flag) for flag in ("cf_maybe_null", "allow_null"))):
    _inferer.infer_types = _keeping_unbound_reads(_inferer.infer_types)


def _beyond_c_int(node):
    # C int is 32 bits wide on every platform the products target.
    value = getattr(node, "constant_result", None)
    return isinstance(value, int) and not -2**31 <= value < 2**31


def _calling_python_chr(analyse_call):
    # chr() is compiled to a C function of a C int, to which a constant argument is converted
    # as a C literal: `chr(2**40)` gave "\0". Such a call is left to Python's chr, which raises
    # what the running Python raises.
    def analyse(self, env):
        function = self.function
        if (not self.analysed and isinstance(function, ExprNodes.NameNode)
                and function.name == "chr" and len(self.args or ()) == 1
                and _beyond_c_int(self.args[0])):
            entry = function.entry or env.lookup(function.name)
            if entry is not None and entry.is_cfunction and entry.scope.is_builtin_scope:
                function.is_called = True
                self.function = function.analyse_types(env).coerce_to(
                    PyrexTypes.py_object_type, env)
        return analyse_call(self, env)
    return analyse


if hasattr(ExprNodes.SimpleCallNode, "analysed"):
    ExprNodes.SimpleCallNode.analyse_types = _calling_python_chr(
        ExprNodes.SimpleCallNode.analyse_types)


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


def _function_running(stack):
    # The place on the stack of the function whose code runs an expression: a list, set or dict
    # comprehension runs inline in its function (as in Python since 3.12), and the first
    # iterable of a comprehension or generator expression is evaluated in the enclosing scope.
    at = len(stack) - 1
    while at > 0:
        node, scope = stack[at]
        if isinstance(node, ExprNodes.IteratorNode):
            at = next((outer for outer in range(at - 1, -1, -1) if stack[outer][1] is scope), 0)
        elif isinstance(node, ExprNodes.ComprehensionNode):
            at -= 1
        else:
            return at
    return None


def _super_in_comprehensions(inject_super):
    # Zero-argument super() in a comprehension of a method (`[v for v in super().split()]`)
    # is the method's: it takes the method's class and first argument, as it does in the
    # method's own body. It found no __class__ cell where it ran.
    def inject(self, node, func_name):
        stack = self.env_stack
        if (node.args or self.current_env().lookup_here(func_name)
                or isinstance(self.current_scope_node(), Nodes.DefNode)):
            return inject_super(self, node, func_name)
        at = _function_running(stack)
        if at is None or not isinstance(stack[at][0], Nodes.DefNode):
            return inject_super(self, node, func_name)
        self.env_stack = stack[:at + 1]
        try:
            return inject_super(self, node, func_name)
        finally:
            self.env_stack = stack
    return inject


if (hasattr(ParseTreeTransforms.TransformBuiltinMethods, "_inject_super")
        and hasattr(ExprNodes, "IteratorNode") and hasattr(ExprNodes, "ComprehensionNode")):
    ParseTreeTransforms.TransformBuiltinMethods._inject_super = _super_in_comprehensions(
        ParseTreeTransforms.TransformBuiltinMethods._inject_super)


_read_utilities = Code.read_utilities_hook
# The C of the corrections to Cython's utility code lives in the files of the directory named
# like this one (written beside it in the build directory), each opening with a comment on
# where it goes.
_c_directory = os.path.splitext(os.path.abspath(__file__))[0]


def _c_text(name):
    # The file's C after its opening comment.
    with open(os.path.join(_c_directory, name), encoding="utf-8") as file:
        text = file.read()
    return text[text.index("*/\n") + len("*/\n"):]


def _c_template(name):
    # A file whose ${...} placeholders are filled where it is used.
    return string.Template(_c_text(name))


_module_lookup = '    PyObject *imported_module = PyImport_GetModule(qualname);\n'
_none_is_missing = _c_text("none_is_missing.c")

# Compiled code has the interpreter serve the work that waits for it (pending_work.c) where
# CPython's bytecode loop would: each compiled call (below) and each back-edge of a loop count a
# step towards that check.
_pending_work = _c_text("product_state.c") + _c_text("pending_work.c")
_pending_utility = Code.UtilityCode(name="QvxPendingWork", proto=_pending_work)


class _BackEdge(Nodes.StatNode):
    # A loop's body followed by the step counted where CPython jumps back to the loop's head,
    # which `continue` reaches too. A loop run without the GIL counts nothing.
    child_attrs = ["body"]

    def generate_execution_code(self, code):
        loop_continue = code.continue_label
        code.continue_label = code.new_label("continue")
        self.body.generate_execution_code(code)
        code.put_label(code.continue_label)
        code.continue_label = loop_continue
        if code.funcstate.gil_owned:
            code.globalstate.use_utility_code(_pending_utility)
            code.putln("if (unlikely(__Pyx_qvx_PENDING_CHECK() < 0)) %s"
                       % code.error_goto(self.loop_pos))


def _checking_back_edges(generate):
    def generate_loop(self, code):
        body = self.body
        self.body = _BackEdge(body.pos, body=body, loop_pos=self.pos)
        try:
            generate(self, code)
        finally:
            self.body = body
    return generate_loop


for _loop in (Nodes.WhileStatNode, Nodes._ForInStatNode, Nodes.ForFromStatNode):
    _loop.generate_execution_code = _checking_back_edges(_loop.generate_execution_code)

# A call of a compiled function counts as a Python frame does (call_guard.c): each entry of a
# compiled function, each resumption of a generator's or coroutine's body and each hand-over of
# a value to a `yield from` delegate is guarded.
_call_guard = _pending_work + _c_text("call_guard.c")
_guarded_call = _c_template("guarded_call.c")
_call_method = ('static PyObject * __Pyx_CyFunction_CallMethod(PyObject *func, PyObject *self, '
                'PyObject *arg, PyObject *kw) {\n')
_function_calls = [
    '    return meth(self, NULL);\n',
    '    return meth(self, args[0]);\n',
    '    return ((__Pyx_PyCFunctionFastWithKeywords)(void(*)(void))meth)'
    '(self, args, nargs, kwnames);\n',
    '    return ((__Pyx_PyCMethod)(void(*)(void))meth)(self, cls, args, nargs_value, kwnames);\n',
]


def _guard_function_calls(lines):
    # Every call of a compiled function's C body goes through the tp_call entry
    # (__Pyx_CyFunction_CallMethod) or one of the four vectorcall entries.
    if lines.count(_call_method) != 1 or any(lines.count(call) != 1 for call in _function_calls):
        return lines
    lines = list(lines)
    for call in _function_calls:
        at = lines.index(call)
        expression = call.strip()[len('return '):-len(';')]
        lines[at:at + 1] = _guarded_call.substitute(call=expression).splitlines(keepends=True)
    # The tp_call entry keeps its body under another name, called by a guarded entry.
    unguarded = _call_method.replace('CallMethod(', 'CallMethod_unguarded(')
    at = lines.index(_call_method)
    lines[at] = unguarded
    call = '__Pyx_CyFunction_CallMethod_unguarded(func, self, arg, kw)'
    entry = (_call_guard + unguarded.replace('{', ';') + _call_method
             + _guarded_call.substitute(call=call) + '}\n')
    lines[at:at] = entry.splitlines(keepends=True)
    return lines


_send = ('static\n', '__Pyx_PySendResult __Pyx_Coroutine_SendEx(__pyx_CoroutineObject *self, '
         'PyObject *value, PyObject **result, int closing) {\n')
_run_body = '    retval = self->body(self, tstate, value);\n'
_guarded_body = _c_text("guarded_body.c")
_delegate_send = '    delegate_result = gen_am_send(gen->yieldfrom, value, &ret);\n'
_guarded_delegate_send = _c_text("guarded_delegate_send.c")
# Delegates without an am_send slot (iterators, and every delegate before Python 3.10) are
# resumed in the `if (gen->yieldfrom)` branch of these two.
_delegating_entries = [
    'static PyObject *__Pyx_Generator_Next(PyObject *self) {\n',
    '__Pyx_Coroutine_AmSend(PyObject *self, PyObject *value, PyObject **retval) {\n',
]
_delegate_result = '        PyObject *ret;\n'
_delegate_resumed = '        if (likely(ret)) {\n'
_enter_delegate = _c_text("enter_delegate.c")
_leave_delegate = _c_text("leave_delegate.c")


def _guard_delegations(lines):
    places = []
    for entry in _delegating_entries:
        if lines.count(entry) != 1:
            return lines
        start = lines.index(entry)
        try:
            declared = lines.index(_delegate_result, start)
            resumed = lines.index(_delegate_resumed, declared)
        except ValueError:
            return lines
        if any(line.startswith('}') for line in lines[start:resumed]):
            return lines
        places.append((declared, resumed))
    if lines.count(_delegate_send) != 1:
        return lines
    lines = list(lines)
    # From the end, so that the places found stay where they are.
    for declared, resumed in sorted(places, reverse=True):
        lines[resumed:resumed] = _leave_delegate.splitlines(keepends=True)
        lines[declared + 1:declared + 1] = _enter_delegate.splitlines(keepends=True)
    at = lines.index(_delegate_send)
    lines[at:at + 1] = _guarded_delegate_send.splitlines(keepends=True)
    return lines


def _guard_generator_bodies(lines):
    # A generator's body runs on the C stack of whoever resumes it, as a Python frame would.
    starts = [at for at in range(len(lines) - 1) if (lines[at], lines[at + 1]) == _send]
    if len(starts) != 1 or lines.count(_run_body) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_run_body)
    lines[at:at + 1] = _guarded_body.splitlines(keepends=True)
    lines[starts[0]:starts[0]] = _call_guard.splitlines(keepends=True)
    return _guard_delegations(lines)


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

# Assigned __defaults__ and __kwdefaults__ were kept for reading only, with a RuntimeWarning:
# calls went on using the defaults compiled into the function's argument parsing. Cython's
# setters give way to ones after which calls take the assigned defaults (assigned_defaults.c).
_assigned_defaults_declarations = _c_text("assigned_defaults_declarations.c")
_assigned_defaults = _c_text("assigned_defaults.c")
_through_tp_call = _c_text("through_tp_call.c")
_cython_set_defaults = _c_template("cython_set_defaults.c")
_set_defaults = _c_template("set_defaults.c")
_set_defaults_kinds = [dict(kind="", check="PyTuple_Check", type="tuple", field="defaults_tuple"),
                       dict(kind="kw", check="PyDict_Check", type="dict",
                            field="defaults_kwdict")]
_call_as_method = ('static PyObject *__Pyx_CyFunction_CallAsMethod(PyObject *func, '
                   'PyObject *args, PyObject *kw) {\n'
                   '    PyObject *result;\n'
                   '    __pyx_CyFunctionObject *cyfunc = __Pyx_as_CyFunctionObject(func);\n')
_function_slots = 'static PyType_Slot __pyx_CyFunctionType_slots[] = {\n'


def _honour_assigned_defaults(lines):
    # Applied only where CythonFunction.c reads exactly as expected; else left as it is.
    text = "".join(lines)
    setters = [_cython_set_defaults.substitute(kind) for kind in _set_defaults_kinds]
    if any(text.count(part) != 1 for part in setters + [_call_as_method, _function_slots]):
        return lines
    for setter, kind in zip(setters, _set_defaults_kinds):
        text = text.replace(setter, _set_defaults.substitute(kind))
    first = text.index(setters[0].split("(")[0])
    text = text[:first] + _assigned_defaults_declarations + text[first:]
    # The bound call goes on as Cython's tp_call does, through a copy without the test: the
    # arguments it passes miss nothing.
    start = text.index(_call_as_method)
    body = text[start:text.index("\n}\n", start) + len("\n}\n")]
    bound = body.replace("__Pyx_CyFunction_CallAsMethod(", "__Pyx_qvx_CallAsMethod_Bound(", 1)
    text = text.replace(_call_as_method, bound + _call_as_method + _through_tp_call)
    text = text.replace(_function_slots, _assigned_defaults + _function_slots)
    return text.splitlines(keepends=True)


# A compiled function answered to Python 2's names of its attributes too (func_name,
# func_code, ...), which dir() lists and a Python function has not: the table of its
# attributes keeps only Python's own names.
_function_getsets = 'static PyGetSetDef __pyx_CyFunction_getsets[] = {\n'
_python2_getset = '    {"func_'


def _without_python2_attributes(lines):
    if lines.count(_function_getsets) != 1:
        return lines
    start = lines.index(_function_getsets)
    if '};\n' not in lines[start:]:
        return lines
    end = lines.index('};\n', start)
    return (lines[:start]
            + [line for line in lines[start:end] if not line.startswith(_python2_getset)]
            + lines[end:])


# Cython read ObjectHandling.c, ModuleSetupCode.c and Builtins.c while loading: dropped from its
# cache, they are read again through the hook.
for _read_early in ("ObjectHandling.c", "ModuleSetupCode.c", "Builtins.c"):
    getattr(Code.UtilityCodeBase, "_utility_cache", {}).pop(_read_early, None)


# A compiled function's code object opens with bytecode that raises (raising_code.c): Cython's
# constructor call goes through one that puts it in front.
_code_object_function = 'static PyObject* __Pyx_PyCode_New(\n'
_code_object_call = '    code_obj = (PyObject*) __Pyx__PyCode_New(\n'
_raising_code = _c_template("raising_code.c")


def _raising_head():
    # What this Python compiles for `raise ''`, for the programs built with it; none where it
    # loads anything but the one constant, which the class that raises replaces.
    compiled = compile("raise ''", "<compiled code>", "exec")
    if (compiled.co_consts != ("",) or compiled.co_names or compiled.co_varnames
            or compiled.co_freevars or compiled.co_cellvars
            or getattr(compiled, "co_exceptiontable", b"")):
        return dict(version="0", bytecode="0", stacksize="0")
    return dict(version="0x%02X%02X" % sys.version_info[:2],
                bytecode=", ".join(str(byte) for byte in compiled.co_code),
                stacksize=str(compiled.co_stacksize))


def _raising_code_objects(lines):
    # Applied only where ModuleSetupCode.c reads as expected: the constructor is declared, then
    # defined, and called once.
    if lines.count(_code_object_function) != 2 or lines.count(_code_object_call) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_code_object_call)
    lines[at] = '    code_obj = __Pyx_qvx_PyCode_New(\n'
    definition = [at for at, line in enumerate(lines) if line == _code_object_function][1]
    lines[definition:definition] = _raising_code.substitute(_raising_head()).splitlines(
        keepends=True)
    return lines


# CPython warns of a coroutine never awaited, not of an async generator never started.
_warned_kinds = '    if (!__Pyx_Generator_CheckExact(self))\n'
_async_generator_unwarned = _c_text("async_generator_unwarned.c")


def _async_generators_unwarned(lines):
    if lines.count(_warned_kinds) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_warned_kinds) + 2
    if lines[at - 1] != '#endif\n':
        return lines
    lines[at:at] = _async_generator_unwarned.splitlines(keepends=True)
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


def _read_utilities_fixed(path):
    lines = _read_utilities(path)
    if path == 'ImportExport.c' and _module_lookup in lines:
        at = lines.index(_module_lookup) + 1
        lines[at:at] = [_none_is_missing]
    if path == 'CythonFunction.c':
        lines = _without_python2_attributes(lines)
        lines = _honour_assigned_defaults(_guard_function_calls(lines))
    if path == 'Coroutine.c':
        lines = _async_generators_unwarned(_guard_generator_bodies(lines))
    if path == 'ModuleSetupCode.c':
        lines = _raising_code_objects(lines)
    if path == 'Builtins.c':
        lines = _divmod_worded_as_python(lines)
    if path == 'ObjectHandling.c':
        for old, new in _unbound_rewording.items():
            if old in lines:
                at = lines.index(old)
                lines[at:at + 1] = ['#if PY_VERSION_HEX >= 0x030B0000\n', new, '#else\n', old,
                                    '#endif\n']
    return lines


Code.read_utilities_hook = _read_utilities_fixed


def _brief_crash_reports(report):
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
        Errors.report_error = _brief_crash_reports(Errors.report_error)
    for begin, end in zip(starts, starts[1:]):
        options, sources = parse_command_line(common + own[begin:end])
        print("translating %s" % options.output_file, flush=True)
        start = time.monotonic()
        try:
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
