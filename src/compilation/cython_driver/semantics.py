# Corrections of Cython where compiled code computes other results than Python's:
# - `x ** n` with both operands C integers (as `len(s)` is) is computed in C, a float
#   (`2 ** len(s) == 8.0`) or a wrapped-around integer, where Python gives an exact int: it
#   becomes a Python operation unless the module asks for C semantics (the cpow directive);
#   so does `n << k` of two C integers, which C truncates to 64 bits;
# - an int compared with a one-character string literal was compared with the character's code
#   (`1 < "a"` gave True, `n == "a"` True for 97), and a display of one-byte literals iterated
#   as C chars, which came back as ints; the same name looped over both refused the module;
# - a value case after a general one (`case str(): out = m` then `case None: out = ""`) took
#   the names bound in the general case's body for bound: rebinding them freed a NULL;
# - `items.extend(iterable)` on a list is called as a method: the limited API's stand-in takes
#   the whole iterable before adding anything, where Python keeps the items before an error;
# - a local variable in an expression was read where its value is used, not where Python reads
#   it: `(x, x := x + 1)` gave (11, 11), as did `(x, bump())` when bump() rebinds x as nonlocal
#   (the names that locals() lists, which may be unbound, stay as they are);
# - `from __future__ import annotations` bound no name `annotations`, where Python binds the
#   feature's object from the module __future__ (python-fire tests `member is absolute_import`);
# - a variable assigned an int in one place and a float in another (`v = int(s)`, else
#   `v = float(s)`), and `n if c else 0.5` or `max(n, 0.5)`, were typed C double: an int came
#   back as a float;
# - `@staticmethod` over another decorator was applied below it: over `@abstractmethod` the
#   module failed to load;
# - a local variable that may be read before it is assigned (`if flag: w = 1`, then `return w`)
#   was typed C int or double, which holds no "unbound": it gave garbage where Python raises
#   UnboundLocalError;
# - `chr(2**40)` truncated its constant argument to a C int: `chr(2**32 + 65)` gave "A";
# - zero-argument super() in a comprehension or generator expression of a method
#   (`[v for v in super().split()]`) raised RuntimeError: it found no __class__ cell;
# - an import found None in sys.modules and gave it back, where Python raises
#   ModuleNotFoundError (how a module is blocked): None now takes the importer's way.
import ast
import os

from Cython.Compiler import (Builtin, ExprNodes, MatchCaseNodes, Nodes, ParseTreeTransforms,
                             PyrexTypes, StringEncoding, Symtab, TypeInference)

from .common import (c_text, child_nodes, fix_utility, in_python_source, stages_after_parsing,
                     stages_before_analysis, subtree)


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


def _find_common_character_type(node, env, op, operand1, operand2):
    # A one-character literal is compared as a C character only with what stands for a string
    # of one character too: `1 < "a"` and `n == "a"` compared the int with the character's code,
    # where Python compares an int with a string (False, or TypeError for an order). A C char
    # taken from bytes is an int in Python (`for c in b"ab": c == b"a"` is False).
    literal1, literal2 = _character_literal(operand1), _character_literal(operand2)
    if literal1 != literal2 and in_python_source(node):
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
    if item_type is PyrexTypes.c_uchar_type and in_python_source(seq_node):
        return None
    return item_type


ExprNodes.infer_sequence_item_type = _item_type_keeping_bytes


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


def _operation(node):
    return isinstance(node, (ExprNodes.ExprNode, ExprNodes.CascadedCmpNode))


def _read_children(node):
    # The children of a statement that it binds (loop, assignment and deletion targets, also
    # inside comprehensions and named expressions) are no reads.
    if _operation(node):
        return child_nodes(node)
    return child_nodes(node, ("target", "lhs", "lhs_list")
                       + (("args",) if isinstance(node, Nodes.DelStatNode) else ()))


def _read_now(root, names):
    stack = [root]
    while stack:
        node = stack.pop()
        if _operation(node) and not isinstance(node, _ReadNow):
            for attr in node.child_attrs:
                value = getattr(node, attr, None)
                items = value if isinstance(value, list) else [value]
                for at, item in enumerate(items):
                    # The names that locals() lists may be unbound (NULL): its dict is made
                    # at once, so they stay as they are.
                    if (isinstance(item, ExprNodes.NameNode) and item.name in names
                            and not getattr(item, "allow_null", False)):
                        items[at] = _ReadNow(item.pos, arg=item)
                if not isinstance(value, list) and items[0] is not value:
                    setattr(node, attr, items[0])
        stack.extend(_read_children(node))


def _read_names_in_order(tree):
    # `(x, x := x + 1)` or `(x, bump())` where bump() rebinds x as nonlocal: the names that a
    # later operand of the same expression can rebind are read into temporaries when Python
    # reads them.
    nonlocal_names = {name for node in subtree(tree) if isinstance(node, Nodes.NonlocalNode)
                      for name in node.names}
    stack = [tree]
    while stack:
        node = stack.pop()
        if not isinstance(node, ExprNodes.ExprNode):
            stack.extend(_read_children(node))
            continue
        names = nonlocal_names | {
            inner.target_name for inner in subtree(node)
            if isinstance(inner, ExprNodes.AssignmentExpressionNode)}
        if names:
            _read_now(node, names)
    return tree


if hasattr(ExprNodes.AssignmentExpressionNode, "target_name"):
    stages_before_analysis.append(_read_names_in_order)


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


if hasattr(ExprNodes, "ImportNode"):
    stages_after_parsing.append(_bind_future_names)


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


# An import that finds None in sys.modules takes the importer's way (none_is_missing.c).
_module_lookup = '    PyObject *imported_module = PyImport_GetModule(qualname);\n'
_none_is_missing = c_text("none_is_missing.c")


def _none_taken_for_missing(lines):
    if _module_lookup in lines:
        at = lines.index(_module_lookup) + 1
        lines[at:at] = [_none_is_missing]
    return lines


fix_utility("ImportExport.c", _none_taken_for_missing)
