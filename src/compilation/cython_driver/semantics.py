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
#   UnboundLocalError, and locals() listed it; one compared by identity (`z is x`) was a new
#   object at each read;
# - `chr(2**40)` truncated its constant argument to a C int: `chr(2**32 + 65)` gave "A";
# - zero-argument super() in a comprehension or generator expression of a method
#   (`[v for v in super().split()]`) raised RuntimeError: it found no __class__ cell;
# - an import found None in sys.modules and gave it back, where Python raises
#   ModuleNotFoundError (how a module is blocked): None now takes the importer's way;
# - an `import` statement went to the import machinery directly, where Python's calls
#   builtins.__import__: a replaced one (mock.patch, PySide6's __feature__) was not asked;
# - zero-argument super() and __class__ while the class was made (an Enum's own __new__, a
#   __set_name__ or __init_subclass__ calling such a method) raised "super(): empty __class__
#   cell": the namespace the metaclass gets now carries "__classcell__", which type.__new__ fills;
#   a metaclass that returned another class, or left the cell out of what it passed to
#   type.__new__, got no error, and one that returned no class left the methods' `__class__`
#   None;
# - a with or async with statement on an object without the protocol raised AttributeError
#   naming the exit method, where Python raises TypeError;
# - exec() of a text alone in a function or class body did not see its locals;
# - a class body that wrote its namespace through vars() or locals() (the enum `_ignore_` idiom)
#   did not read those names back;
# - a list.sort() called on what is no list raised SystemError;
# - a loop over a dict's keys, values or items whose body deleted a key and added another went
#   on where Python raises RuntimeError;
# - a class body's comprehension of lambdas (`[(lambda: i) for i in range(5)]`) raised
#   UnboundLocalError when the lambdas ran; in a class made in a function, gcc refused it;
# - a class pattern whose sub-pattern is an or-pattern of values (`case Attribute(attrname="nan"
#   | "NaN")`) took its other checks' C truth values for objects: a subject of another class
#   ended the process (a NULL truth-tested) where Python goes on to the next case;
# - a relative import in a package's `__init__` (`from .retry import X` in `pkg/sub/__init__.py`)
#   was looked up in sys.modules as one from the parent package: it took `pkg.retry` when that
#   was loaded;
# - zero-argument super() in a function nested in a method took its class and first argument
#   from the frame of the Python code that ran last, and where CPython finds none (no
#   positional argument, no class around) raised whatever that frame gave;
# - a read of an argument after `del` of it (or after an `except ... as` of its name) took NULL
#   and ended the process, and `del` of a variable deleted already did nothing, where Python
#   raises UnboundLocalError;
# - a name bound only in code that never runs (`if False:`, after `return`) was no variable of
#   its function: reads took a global of that name;
# - an exception that an object's `__await__` raised was replaced, in every `await`, by the
#   TypeError that CPython raises only in `async for` ("'async for' received an invalid object
#   from __anext__");
# - a lambda that yields (`lambda: (yield 1)`) returned None from its generator, where Python
#   returns the lambda's value (the value of StopIteration);
# - dir() without arguments in a function listed every local name the function has, bound
#   or not, where Python lists those bound (`sorted(locals())`);
# - a class given a metaclass and bases whose metaclass derives from it (`class C(B,
#   metaclass=type)`) was made with the namespace of the given metaclass's `__prepare__`, not of
#   the most derived one's, which makes the class;
# - a try statement of a generator that held a yield restored, when it ended, the exception its
#   caller handled when it began, not the one the caller resuming it handles: `sys.exception()`
#   after an `except` block or a `with` block of a generator resumed by another caller;
# - an assert raised whatever the module bound as AssertionError (`AssertionError = TypeError`);
#   a variable that an inner function reads, run before the variable was bound, gave 0 when
#   typed a C number; a local variable read alone as a statement (after `except ... as e`) was
#   dropped, raising nothing; locals() left out the free variables; a function's class body
#   took its own class name for bound and raised UnboundLocalError for the function's
#   variables where Python raises NameError; an `except` type that is no exception class
#   (`except 42:`) let the exception pass where Python raises TypeError; a class body's
#   annotations replaced the "__annotations__" that a metaclass's __prepare__ provided;
# - constant tuples that differ only in the sign of a zero (`f(0.0, 1.0)` beside `f(-0.0, 1.0)`)
#   were made one: both calls passed the first one's;
# - `x[False]` and `x[True]` indexed with the ints 0 and 1 (`typing.Literal[False]` was
#   `Literal[0]`);
# - builtins were looked up once, when the module loaded, and many calls of them were C: a
#   module global that shadows one later (`mod.len = ...`, mock.patch("pkg.mod.open")) or a
#   replaced builtin (mock.patch("builtins.print")) was not seen;
# - `a // b` of C doubles was floor(a / b): `1.0 // 0.1` gave 10.0 where Python gives 9.0;
# - `r = items.extend([x])` took the C status of an append for the object: a NULL;
# - `format(value, None)` raised SystemError where Python raises TypeError;
# - a builtin type's method called unbound on an instance of a subclass (`dict.setdefault(self,
#   ...)`) ran the subclass's override in libraries, where the stable ABI has no C function for
#   it; an operator's method called by name (`x.__add__(y)`, `int.__add__(n, m)`) became the
#   operator, which tries the other operand and never gives NotImplemented.
import ast
import copy
import os

from Cython.Compiler import (Builtin, Code, ExprNodes, MatchCaseNodes, Naming, Nodes, Optimize,
                             ParseTreeTransforms, PyrexTypes, StringEncoding, Symtab,
                             TypeInference, UtilNodes, Visitor)

from .common import (AsObject, c_text, child_nodes, fix_utility, in_python_source,
                     stages_after_parsing, stages_before_analysis,
                     stages_before_builtin_calls, subtree)


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


def _bound_for_inner_read(entry, reference):
    # An inner function's read sees the variable bound when its one assignment is a statement
    # of the function's body itself (run once, in order) that ends before the read's place.
    assignments = getattr(entry, "cf_assignments", ())
    after = getattr(assignments[0].lhs, "bound_after", None) if len(assignments) == 1 else None
    return after is not None and reference.node.pos[1:] >= after[1:]


def _reads_unbound(entry):
    # A read in the variable's own scope that the flow analysis found may come before any
    # assignment, locals() among them, or a read from an inner function, which may run before
    # it (the flow analysis takes those for "maybe" always: `def inner(): return y`, `inner()`,
    # then `y = 1` gave 0 where Python raises NameError) unless the variable is bound before
    # the inner function is made. A variable compared by identity (`z is x`) is an object too:
    # a C number made a new object for each read.
    return any((reference.node.cf_maybe_null
                and ((reference.entry.from_closure
                      and not _bound_for_inner_read(entry, reference))
                     or (not reference.entry.from_closure
                         and (not reference.node.allow_null
                              or getattr(reference.node, "read_by_locals", False)))))
               or getattr(reference.node, "compared_by_identity", False)
               for reference in entry.cf_references)


def _assigned_names(statement):
    if isinstance(statement, Nodes.ParallelAssignmentNode):
        for each in statement.stats:
            yield from _assigned_names(each)
    elif isinstance(statement, Nodes.SingleAssignmentNode):
        yield from _names_in_target(statement.lhs)
    elif isinstance(statement, Nodes.CascadedAssignmentNode):
        for target in statement.lhs_list:
            yield from _names_in_target(target)


def _names_in_target(target):
    if isinstance(target, ExprNodes.NameNode):
        yield target
    elif isinstance(target, (ExprNodes.TupleNode, ExprNodes.ListNode)):
        for item in target.args:
            yield from _names_in_target(item)


def _mark_bound_in_order(tree):
    # The assignments that are statements of a function's body, with the place where the next
    # statement begins (after which they are bound).
    for node in subtree(tree):
        body = getattr(node, "body", None) if isinstance(node, Nodes.FuncDefNode) else None
        stats = getattr(body, "stats", None)
        if not isinstance(body, Nodes.StatListNode) or not stats:
            continue
        for statement, following in zip(stats, stats[1:]):
            for name in _assigned_names(statement):
                name.bound_after = following.pos
    return tree


stages_before_analysis.append(_mark_bound_in_order)


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


def _mark_identity_operands(tree):
    for node in subtree(tree):
        if (isinstance(node, (ExprNodes.PrimaryCmpNode, ExprNodes.CascadedCmpNode))
                and node.operator in ("is", "is_not")):
            for operand in (getattr(node, "operand1", None), node.operand2):
                if isinstance(operand, ExprNodes.NameNode):
                    operand.compared_by_identity = True
    return tree


stages_before_analysis.append(_mark_identity_operands)


def _marking_locals_reads(make_locals):
    # The names that locals() reads, which leaves out those unbound.
    def make(self, pos, env):
        make_locals(self, pos, env)
        for item in self.key_value_pairs:
            item.value.read_by_locals = True
    return make


if hasattr(ExprNodes, "FuncLocalsExprNode"):
    ExprNodes.FuncLocalsExprNode.__init__ = _marking_locals_reads(
        ExprNodes.FuncLocalsExprNode.__init__)

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


# An `import` statement calls builtins.__import__ when it is not the interpreter's own
# (replaced_import.c), before the look-up in sys.modules that would answer without it.
_import_statement = ('static PyObject *__Pyx_Import(PyObject *name, '
                     'PyObject *const *imported_names, Py_ssize_t len_imported_names, '
                     'PyObject *qualname, int level) {\n')
_replaced_import = c_text("replaced_import.c")


def _asking_replaced_import(lines):
    if lines.count(_import_statement) == 1:
        at = lines.index(_import_statement) + 1
        lines[at:at] = _replaced_import.splitlines(keepends=True)
    return lines


fix_utility("ImportExport.c", _asking_replaced_import)


# Zero-argument super() and __class__ while the class is made (class_cell.c): the namespace
# given to the metaclass carries "__classcell__", which type.__new__ fills before
# __set_name__, __init_subclass__ and an Enum's members run; the methods read that cell until
# the class is made, and keep reading it if what the metaclass made is no class. Cython set
# their class only after the metaclass had returned, to whatever it returned.
def _utility(name, impl, proto, *requires):
    # Made where it is used: Cython's utility files are read only once every correction of
    # them is registered.
    return Code.UtilityCode(
        name=name, proto=proto, impl=impl,
        requires=[Code.UtilityCode.load_cached(*required) for required in requires])


def _class_cell_utility():
    return _utility(
        "QvxClassCell", c_text("class_cell.c"),
        "static int __Pyx_qvx_OfferClassCell(PyObject *namespace, PyObject *methods);\n"
        "static PyObject *__Pyx_qvx_ClassOfCell(PyObject *held);\n"
        "static int __Pyx_qvx_SettleClassCell(PyObject *methods, PyObject *classobj,"
        " PyObject *name);\n",
        ("CyFunctionClassCell", "CythonFunction.c"))


def _offering_class_cell(generate_result_code):
    def generate(self, code):
        cell = self.class_def_node.class_cell
        if cell is not None and cell.is_active:
            code.globalstate.use_utility_code(_class_cell_utility())
            code.put_error_if_neg(self.pos, "__Pyx_qvx_OfferClassCell(%s, %s)" % (
                self.class_def_node.dict.py_result(), cell.result()))
            cell.offered_for = self.name
        generate_result_code(self, code)
    return generate


def _settling_class_cell(generate_injection_code):
    # The class the metaclass made is checked against the offered cell before the methods
    # take it.
    def generate(self, code, classobj_cname):
        name = getattr(self, "offered_for", None)
        if name is None:
            return generate_injection_code(self, code, classobj_cname)
        code.put_error_if_neg(self.pos, "__Pyx_qvx_SettleClassCell(%s, %s, %s)" % (
            self.result(), classobj_cname, code.intern_identifier(name)))
    return generate


def _class_cell_read(self, code):
    # As Cython reads it, through the cell while the class is being made.
    code.globalstate.use_utility_code(_class_cell_utility())
    held = ("%s->classobj" % Naming.generator_cname if self.is_generator
            else "__Pyx_CyFunction_GetClassObj(%s)" % Naming.self_cname)
    code.putln("%s = __Pyx_qvx_ClassOfCell(%s);" % (self.result(), held))
    code.putln('if (!%s) { if (!PyErr_Occurred()) PyErr_SetString(PyExc_RuntimeError, '
               '"super(): empty __class__ cell"); %s }'
               % (self.result(), code.error_goto(self.pos)))
    code.put_incref(self.result(), PyrexTypes.py_object_type)


if all(hasattr(ExprNodes, name) for name in ("ClassCellNode", "ClassCellInjectorNode",
                                             "Py3ClassNode")):
    ExprNodes.Py3ClassNode.generate_result_code = _offering_class_cell(
        ExprNodes.Py3ClassNode.generate_result_code)
    ExprNodes.ClassCellNode.generate_result_code = _class_cell_read
    ExprNodes.ClassCellInjectorNode.generate_injection_code = _settling_class_cell(
        ExprNodes.ClassCellInjectorNode.generate_injection_code)


# A with-statement's manager without the protocol raised AttributeError naming the exit
# method; CPython raises TypeError, the entry method looked up first (context_protocol.c).
# The manager is checked once evaluated, before Cython looks its methods up.
def _checking_context_protocol(analyse_expressions):
    def analyse(self, env):
        node = analyse_expressions(self, env)
        if (isinstance(node, Nodes.WithStatNode) and isinstance(node.manager, ExprNodes.ProxyNode)
                and node.manager.type.is_pyobject and in_python_source(node)):
            node.manager.context_protocol = bool(getattr(node, "is_async", False))
        return node
    return analyse


def _evaluating_checked_manager(generate_evaluation_code):
    def generate(self, code):
        generate_evaluation_code(self, code)
        is_async = getattr(self, "context_protocol", None)
        if is_async is None:
            return
        code.globalstate.use_utility_code(_utility(
            "QvxContextProtocol", c_text("context_protocol.c"),
            "static int __Pyx_qvx_CheckContextProtocol(PyObject *manager, PyObject *enter_name,\n"
            "                                          PyObject *exit_name, int is_async);\n",
            ("PyObjectGetAttrStrNoError", "ObjectHandling.c")))
        names = [code.intern_identifier(StringEncoding.EncodedString(name)) for name in (
            ("__aenter__", "__aexit__") if is_async else ("__enter__", "__exit__"))]
        code.put_error_if_neg(self.pos, "__Pyx_qvx_CheckContextProtocol(%s, %s, %s, %d)" % (
            self.py_result(), names[0], names[1], is_async))
    return generate


if hasattr(Nodes, "WithStatNode") and hasattr(ExprNodes, "ProxyNode"):
    Nodes.WithStatNode.analyse_expressions = _checking_context_protocol(
        Nodes.WithStatNode.analyse_expressions)
    ExprNodes.ProxyNode.generate_evaluation_code = _evaluating_checked_manager(
        ExprNodes.ProxyNode.generate_evaluation_code)


def _exec_with_locals(visit_call):
    # exec() of a text alone runs in the caller's namespaces, as eval() does: a function's or a
    # class body's exec() read only the module's names (`a = 5; exec("print(a)")` raised
    # NameError). Its writes go to the snapshot locals() gives, as in CPython.
    def visit(self, node):
        node = visit_call(self, node)
        if not (isinstance(node, ExprNodes.SimpleCallNode) and node.function.is_name
                and node.function.name == "exec" and len(node.args) == 1
                and in_python_source(node)):
            return node
        env = self.current_env()
        entry = env.lookup("exec")
        if not env.is_module_scope and (entry is None or entry.scope.is_builtin_scope):
            node.args.append(ExprNodes.GlobalsExprNode(node.pos))
            node.args.append(ExprNodes.LocalsExprNode(node.pos, self.current_scope_node(), env))
        return node
    return visit


if hasattr(ExprNodes, "LocalsExprNode"):
    ParseTreeTransforms.TransformBuiltinMethods.visit_SimpleCallNode = _exec_with_locals(
        ParseTreeTransforms.TransformBuiltinMethods.visit_SimpleCallNode)


_OWN_SCOPES = (Nodes.FuncDefNode, Nodes.ClassDefNode, ExprNodes.LambdaNode,
               ExprNodes.GeneratorExpressionNode, ExprNodes.ComprehensionNode)


def _scope_nodes(body, children=child_nodes, into_classes=False):
    # The nodes that run in a body's own scope: not those of its functions, lambdas and
    # comprehensions, nor of its classes unless asked (the function or class statements
    # themselves are among the nodes).
    stack = [body]
    while stack:
        node = stack.pop()
        yield node
        if not isinstance(node, _OWN_SCOPES) or (into_classes
                                                 and isinstance(node, Nodes.ClassDefNode)):
            stack.extend(children(node))


def _names_through_namespace(tree):
    # A class body that writes its namespace through vars() or locals() (the enum `_ignore_`
    # idiom: `vars()["x"] = 1`, then `x`) reads every name from the namespace first, as Python
    # does: the names it never assigns were read from the module's globals, and those it
    # assigns later were taken for unbound.
    for node in subtree(tree):
        if not isinstance(node, Nodes.PyClassDefNode) or not in_python_source(node):
            continue
        if not any(isinstance(inner, ExprNodes.PyClassLocalsExprNode)
                   for inner in _scope_nodes(node.body)):
            continue
        scope = node.scope
        for inner in _scope_nodes(node.body, _read_children):
            if not isinstance(inner, ExprNodes.NameNode) or getattr(inner, "enclosing", False):
                continue  # a generic class's own type parameters, from the function around
            entry = scope.lookup_here(inner.name)
            if entry is None:
                entry = scope.declare_var(inner.name, PyrexTypes.py_object_type, inner.pos)
            if entry.is_pyclass_attr:
                inner.cf_is_null = False
                inner.cf_maybe_null = True
    return tree


if hasattr(ExprNodes, "PyClassLocalsExprNode"):
    stages_before_analysis.append(_names_through_namespace)


def _sorting_lists_only(handle_sort):
    # `list.sort(x)` called PyList_Sort on whatever x was, which raises SystemError for what is
    # no list: such a call is left to the method, which raises TypeError.
    def handle(self, node, function, args, is_unbound_method):
        if is_unbound_method and args and args[0].type is not Builtin.list_type:
            return node
        return handle_sort(self, node, function, args, is_unbound_method)
    return handle


_builtin_calls = Optimize.OptimizeBuiltinCalls
if hasattr(_builtin_calls, "_handle_simple_method_list_sort"):
    _builtin_calls._handle_simple_method_list_sort = _sorting_lists_only(
        _builtin_calls._handle_simple_method_list_sort)


# A loop over a dict's keys, values or items whose body deleted a key and added another went
# on, where CPython raises RuntimeError (dict_keys_changed.c): the loop counts the items left.
def _counting_dict_items(transform):
    def transform_dict_iteration(self, node, *args, **kwargs):
        result = transform(self, node, *args, **kwargs)
        # The loop's statements: the position's reset, the start, then the loop whose body
        # opens with the step to the next item.
        stats = getattr(getattr(result, "body", None), "stats", None)
        if (isinstance(result, UtilNodes.TempsBlockNode) and in_python_source(node) and stats
                and isinstance(stats[-1], Nodes.WhileStatNode)
                and isinstance(stats[-1].body, Nodes.StatListNode)
                and isinstance(stats[-1].body.stats[0], Nodes.DictIterationNextNode)):
            remaining = UtilNodes.TempHandle(PyrexTypes.c_py_ssize_t_type)
            result.temps.append(remaining)
            stats[-1].body.stats[0].items_remaining = remaining.ref(node.pos)
        return result
    return transform_dict_iteration


def _next_counting_items(generate_execution_code):
    # Cython's step, calling the counting one.
    def generate(self, code):
        remaining = getattr(self, "items_remaining", None)
        if remaining is None:
            return generate_execution_code(self, code)
        code.globalstate.use_utility_code(_utility(
            "QvxDictKeysChanged", c_text("dict_keys_changed.c"),
            "static CYTHON_INLINE int __Pyx_qvx_dict_iter_next(PyObject*, Py_ssize_t, Py_ssize_t*,"
            " Py_ssize_t*, PyObject**, PyObject**, PyObject**, int);\n",
            ("dict_iter", "Optimize.c")))
        self.dict_obj.generate_evaluation_code(code)
        assignments = []
        addresses = []
        for var, result, target in [(self.key_ref, self.coerced_key_var, self.key_target),
                                    (self.value_ref, self.coerced_value_var, self.value_target),
                                    (self.tuple_ref, self.coerced_tuple_var, self.tuple_target)]:
            if target is None:
                addresses.append("NULL")
            else:
                assignments.append((var, result, target))
                var.allocate(code)
                addresses.append("&%s" % var.result())
        step = code.funcstate.allocate_temp(PyrexTypes.c_int_type, False)
        code.putln("%s = __Pyx_qvx_dict_iter_next(%s, %s, &%s, &%s, %s, %s, %s, %s);" % (
            step, self.dict_obj.py_result(), self.expected_size.result(),
            self.pos_index_var.result(), remaining.result(), *addresses,
            self.is_dict_flag.result()))
        code.putln("if (unlikely(%s == 0)) break;" % step)
        code.putln(code.error_goto_if("%s == -1" % step, self.pos))
        code.funcstate.release_temp(step)
        for var, result, target in assignments:
            var.generate_gotref(code)
        for var, result, target in assignments:
            result.generate_evaluation_code(code)
        for var, result, target in assignments:
            target.generate_assignment_code(result, code)
            var.release(code)
    return generate


if (hasattr(Optimize.IterationTransform, "_transform_dict_iteration")
        and hasattr(Nodes, "DictIterationNextNode")):
    Optimize.IterationTransform._transform_dict_iteration = _counting_dict_items(
        Optimize.IterationTransform._transform_dict_iteration)
    Nodes.DictIterationNextNode.generate_execution_code = _next_counting_items(
        Nodes.DictIterationNextNode.generate_execution_code)


def _captured_in_class_body(node):
    # The variables of a class body's comprehension that a function made in it reads: a
    # lambda of `[(lambda: i) for i in range(5)]` reads the variable itself, where Python
    # keeps it in a cell. Elsewhere captured variables live in closures.
    scope = node.expr_scope
    outer = scope.outer_scope
    while outer is not None and isinstance(outer, Symtab.ComprehensionScope):
        outer = outer.outer_scope
    if outer is None or not outer.is_py_class_scope:
        return set()
    own = {id(entry) for entry in scope.entries.values()}
    return {id(inner.entry) for function in subtree(node)
            if isinstance(function, (ExprNodes.LambdaNode, ExprNodes.GeneratorExpressionNode,
                                     Nodes.FuncDefNode))
            for inner in subtree(function)
            if isinstance(inner, ExprNodes.NameNode) and id(inner.entry) in own}


def _keeping_captured_variables(cleanup):
    # Such a variable keeps its last value when the comprehension ends, as the cell does.
    def generate(self, code, py_entries):
        captured = _captured_in_class_body(self)
        return cleanup(self, code, [entry for entry in py_entries if id(entry) not in captured])
    return generate


if hasattr(ExprNodes.ScopedExprNode, "_generate_vars_cleanup"):
    ExprNodes.ScopedExprNode._generate_vars_cleanup = _keeping_captured_variables(
        ExprNodes.ScopedExprNode._generate_vars_cleanup)


def _through_class_bodies(lookup):
    # In a class made inside a function, the variables of the class body's comprehensions are C
    # variables of that function: a lambda of `[(lambda: i) for i in range(5)]` named one of
    # them from its own C function, which gcc refused. Seen from a function made inside the
    # comprehension, such a variable now lives in the closure of the function around the class,
    # as variables of a function's own comprehensions do.
    def look_up(self, name):
        entry = lookup(self, name)
        if entry is None or entry.from_closure or not entry.scope.is_comprehension_scope:
            return entry
        scope, crossed_class = entry.scope, False
        while scope.is_comprehension_scope or scope.is_py_class_scope:
            crossed_class = crossed_class or scope.is_py_class_scope
            scope = scope.outer_scope
        if (crossed_class and scope is not self and scope.is_closure_scope
                and not hasattr(entry.scope, "scope_class")):
            return self._create_inner_entry_for_closure(name, entry)
        return entry
    return look_up


if hasattr(Symtab.LocalScope, "_create_inner_entry_for_closure"):
    Symtab.LocalScope.lookup = _through_class_bodies(Symtab.LocalScope.lookup)


class _TruthOfChecks(ExprNodes.ExprNode):
    # The checks of a class pattern, made one C truth value when any of them is an object: an
    # or-pattern of values compares as objects, and the checks' chain of `and`, typed an object
    # then, wrote the C truth values of the others into it as if they were objects.
    subexprs = ["arg"]
    type = PyrexTypes.c_bint_type

    def analyse_types(self, env):
        arg = self.arg.analyse_types(env)
        return arg if arg.type is PyrexTypes.c_bint_type else arg.coerce_to_boolean(env)


def _class_checks_as_truth(get_comparison_node):
    # The class, held in a temporary around the checks, kept them from being made truth values
    # with the pattern's result.
    def comparison(self, subject_node, sequence_mapping_temp=None):
        node = get_comparison_node(self, subject_node, sequence_mapping_temp)
        held = getattr(node, "arg", None)
        if isinstance(held, UtilNodes.EvalWithTempExprNode):
            held.subexpression = _TruthOfChecks(held.subexpression.pos, arg=held.subexpression)
        return node
    return comparison


MatchCaseNodes.ClassPatternNode.get_comparison_node = _class_checks_as_truth(
    MatchCaseNodes.ClassPatternNode.get_comparison_node)


def _is_package_source(pos):
    filename = getattr(pos[0], "filename", None)
    return (isinstance(filename, str)
            and os.path.splitext(os.path.basename(filename))[0] == "__init__")


def _qualified_import(module, level, name):
    for _ in range(level):
        module = module.rpartition(".")[0]
    return "%s.%s" % (module, name)


def _relative_to_package_itself(analyse_types):
    # The module compiled from a package's `__init__` is the package: a relative import of
    # level 1 is from the package itself, not from its parent. The import looks the qualified
    # name up in sys.modules before importing.
    def analyse(self, env):
        node = analyse_types(self, env)
        level = node.level if node is self else 0
        if level and level > 0 and _is_package_source(self.pos):
            module = env.global_scope().qualified_name
            name = self.module_name.value
            if getattr(self, "module_qualname", None) == _qualified_import(module, level, name):
                self.module_qualname = StringEncoding.EncodedString(
                    _qualified_import(module, level - 1, name))
        return node
    return analyse


if hasattr(ExprNodes, "ImportNode"):
    ExprNodes.ImportNode.analyse_types = _relative_to_package_itself(
        ExprNodes.ImportNode.analyse_types)


class _NoSuperArguments(ExprNodes.ExprNode):
    # super() without arguments where CPython's finds nothing to take them from: its error.
    subexprs = []
    type = PyrexTypes.py_object_type
    is_temp = True

    def analyse_types(self, env):
        return self

    def may_be_none(self):
        return False

    def generate_result_code(self, code):
        code.putln('PyErr_SetString(PyExc_RuntimeError, "super(): %s"); %s'
                   % (self.reason, code.error_goto(self.pos)))


def _super_as_in_python(inject_super):
    # Zero-argument super() that Cython gives no arguments was left to the builtin, which took
    # them from the frame of whatever Python code ran last: a function nested in a method got
    # that code's class and first argument, or an error, where CPython takes the class of the
    # method around it and the function's own first argument. A function or body with no
    # positional argument, or outside any class, now gets CPython's RuntimeError.
    def inject(self, node, func_name):
        node = inject_super(self, node, func_name)
        entry = self.current_env().lookup(func_name)
        if node.args or not in_python_source(node) or (entry is not None and not entry.is_builtin):
            return node
        stack = self.env_stack
        at = _function_running(stack)
        function = stack[at][0] if at is not None else None
        positional = [arg for arg in getattr(function, "args", ()) if not arg.kw_only]
        if not isinstance(function, Nodes.FuncDefNode) or not positional:
            return _NoSuperArguments(node.pos, reason="no arguments")
        if not any(scope.is_py_class_scope for _, scope in stack[:at]):
            return _NoSuperArguments(node.pos, reason="__class__ cell not found")
        self.env_stack = stack[:at + 1]
        try:
            cell = ExprNodes.NameNode(node.pos, name=StringEncoding.EncodedString("__class__"))
            node.args = [self.visit_NameNode(cell),
                         ExprNodes.NameNode(node.pos, name=positional[0].name)]
        finally:
            self.env_stack = stack
        return node
    return inject


if hasattr(ParseTreeTransforms.TransformBuiltinMethods, "_inject_super"):
    ParseTreeTransforms.TransformBuiltinMethods._inject_super = _super_as_in_python(
        ParseTreeTransforms.TransformBuiltinMethods._inject_super)


def _checking_deleted_arguments(generate_result_code):
    # An argument is bound when its function starts, so Cython never checks a read of one: after
    # `del` of it, or an `except ... as` of its name, the read took NULL and ended the process
    # where Python raises UnboundLocalError.
    def generate(self, code):
        entry = self.entry
        if (entry is not None and entry.is_arg and entry.type.is_pyobject
                and not (entry.is_local or entry.in_closure or entry.from_closure)
                and (self.cf_maybe_null or self.cf_is_null) and not self.allow_null
                and any(assignment.is_deletion for assignment in entry.cf_assignments)):
            code.put_error_if_unbound(self.pos, entry, self.in_nogil_context)
        generate_result_code(self, code)
    return generate


def _checking_deleted_again(generate_deletion_code):
    # `del x` where x is certainly unbound (deleted already) was no code at all.
    def generate(self, code, ignore_nonexisting=False):
        entry = self.entry
        if (entry is not None and self.cf_is_null and not ignore_nonexisting
                and entry.type.is_pyobject and (entry.is_local or entry.is_arg)
                and not (entry.in_closure or entry.from_closure) and in_python_source(self)):
            code.put_error_if_unbound(self.pos, entry, self.in_nogil_context)
        generate_deletion_code(self, code, ignore_nonexisting)
    return generate


ExprNodes.NameNode.generate_result_code = _checking_deleted_arguments(
    ExprNodes.NameNode.generate_result_code)
ExprNodes.NameNode.generate_deletion_code = _checking_deleted_again(
    ExprNodes.NameNode.generate_deletion_code)


# A function's variables are the names it binds anywhere in its body, also where the code never
# runs: Cython drops an `if False:` branch and what follows a `return` before it declares the
# names, so a read of a name bound only there took a global of that name, or raised NameError,
# where Python raises UnboundLocalError.
_TARGETS = ((Nodes.SingleAssignmentNode, "lhs"), (Nodes.CascadedAssignmentNode, "lhs_list"),
            (Nodes.InPlaceAssignmentNode, "lhs"), (Nodes._ForInStatNode, "target"),
            (Nodes.WithStatNode, "target"), (Nodes.ExceptClauseNode, "target"),
            (Nodes.DelStatNode, "args"))
def _target_names(target):
    if isinstance(target, list):
        for item in target:
            yield from _target_names(item)
    elif isinstance(target, ExprNodes.NameNode):
        yield target.name
    elif isinstance(target, (ExprNodes.TupleNode, ExprNodes.ListNode)):
        yield from _target_names(target.args)
    elif isinstance(target, ExprNodes.StarredUnpackingNode):
        yield from _target_names(target.target)


def _bound_names(body):
    for node in _scope_nodes(body):
        if isinstance(node, (Nodes.DefNode, Nodes.PyClassDefNode)) and node is not body:
            yield node.name
        if isinstance(node, Nodes.FromImportStatNode):
            yield from (name for _, target in node.items for name in _target_names(target))
        for kind, attribute in _TARGETS:
            if isinstance(node, kind):
                yield from _target_names(getattr(node, attribute, None))


def _noting_bound_names(tree):
    for node in subtree(tree):
        if isinstance(node, Nodes.DefNode) and in_python_source(node) and node.body is not None:
            node.body.bound_names = set(_bound_names(node.body))
    return tree


def _declaring_bound_names(visit_function):
    def visit(self, node):
        names = getattr(node.body, "bound_names", ())
        node = visit_function(self, node)
        scope = getattr(node, "local_scope", None)
        for name in sorted(names) if scope is not None else ():
            if scope.lookup_here(name) is None:
                scope.declare_var(name, PyrexTypes.py_object_type, node.pos)
        return node
    return visit


if hasattr(Nodes, "_ForInStatNode"):
    stages_after_parsing.append(_noting_bound_names)
    ParseTreeTransforms.AnalyseDeclarationsTransform.visit_FuncDefNode = _declaring_bound_names(
        ParseTreeTransforms.AnalyseDeclarationsTransform.visit_FuncDefNode)
# CPython replaces the error of awaiting what __anext__ returned (messages.py does so where
# `async for` awaits); any other `await` lets an exception raised by `__await__` through.
_awaitable_error_call = ["        // surprisingly, CPython replaces the exception here...\n",
                         "        __Pyx_Coroutine_AwaitableIterError(obj);\n"]
_awaitable_error_function = "static void __Pyx_Coroutine_AwaitableIterError(PyObject *source) {\n"


def _await_raises_as_python(lines):
    calls = [at for at, line in enumerate(lines) if line == _awaitable_error_call[1]]
    if (len(calls) != 1 or lines[calls[0] - 1] != _awaitable_error_call[0]
            or lines.count(_awaitable_error_function) != 1):
        return lines
    lines = list(lines)
    del lines[calls[0] - 1:calls[0] + 1]
    return ["CYTHON_UNUSED " + line if line == _awaitable_error_function else line
            for line in lines]


fix_utility("Coroutine.c", _await_raises_as_python)


def _lambda_generator_returning(visit):
    # Cython makes the body of a lambda that yields an expression statement, as Python 2 did:
    # since Python 3.5 the value of the lambda's expression is what its generator returns.
    def visit_LambdaNode(self, node):
        node = visit(self, node)
        body = node.def_node.body
        if isinstance(body, Nodes.ExprStatNode) and in_python_source(node):
            node.def_node.body = Nodes.ReturnStatNode(body.pos, value=body.expr)
        return node
    return visit_LambdaNode


ParseTreeTransforms.PostParse.visit_LambdaNode = _lambda_generator_returning(
    ParseTreeTransforms.PostParse.visit_LambdaNode)


def _dir_of_bound_locals(inject):
    # In a function, dir() lists the names bound when it runs, as sorted(locals()) does.
    def _inject_locals(self, node, func_name):
        env = self.current_env()
        if (func_name != "dir" or node.args or env.lookup_here(func_name)
                or env.is_py_class_scope or env.is_module_scope or not in_python_source(node)):
            return inject(self, node, func_name)
        return ExprNodes.SortedDictKeysNode(
            ExprNodes.LocalsExprNode(node.pos, self.current_scope_node(), env))
    return _inject_locals


ParseTreeTransforms.TransformBuiltinMethods._inject_locals = _dir_of_bound_locals(
    ParseTreeTransforms.TransformBuiltinMethods._inject_locals)


class _MostDerivedMetaclass(ExprNodes.ExprNode):
    # The metaclass a class statement names, replaced by the most derived of it and its bases'
    # metaclasses, as CPython finds it before asking for `__prepare__`; one that is no type is
    # kept.
    subexprs = ["arg"]

    def analyse_types(self, env):
        self.arg = self.arg.analyse_types(env).coerce_to_pyobject(env)
        self.type = PyrexTypes.py_object_type
        self.is_temp = 1
        return self

    def generate_result_code(self, code):
        code.globalstate.use_utility_code(
            Code.UtilityCode.load_cached("CalculateMetaclass", "ObjectHandling.c"))
        given, result = self.arg.py_result(), self.result()
        code.putln("if (PyType_Check(%s)) {" % given)
        code.putln("%s = __Pyx_CalculateMetaclass((PyTypeObject *) %s, %s); %s" % (
            result, given, self.class_def_node.bases.py_result(),
            code.error_goto_if_null(result, self.pos)))
        code.putln("} else {")
        code.putln("%s = %s; Py_INCREF(%s);" % (result, given, result))
        code.putln("}")
        self.generate_gotref(code)


def _metaclass_most_derived(init):
    def __init__(self, pos, *args, **kwargs):
        init(self, pos, *args, **kwargs)
        bases = self.bases
        if (self.metaclass is not None
                and not isinstance(self.metaclass, ExprNodes.PyClassMetaclassNode)
                and bases is not None
                and not (bases.is_sequence_constructor and not bases.args)
                and in_python_source(self)):
            self.metaclass = _MostDerivedMetaclass(
                self.metaclass.pos, arg=self.metaclass, class_def_node=self)
    return __init__


Nodes.PyClassDefNode.__init__ = _metaclass_most_derived(Nodes.PyClassDefNode.__init__)


def _yields_in_own_function(node):
    # Whether the statement holds a yield or await of the function it is in.
    stack = list(child_nodes(node))
    while stack:
        inner = stack.pop()
        if isinstance(inner, ExprNodes.YieldExprNode):
            return True
        if isinstance(inner, (Nodes.FuncDefNode, ExprNodes.LambdaNode,
                              ExprNodes.GeneratorExpressionNode)):
            continue
        stack.extend(child_nodes(inner))
    return False


class _GeneratorExceptionWriter:
    # Passes every line on to `code` but the save and reset of the handled exception, which go
    # through the generator (generator_exception_state.c), also in the insertion points it makes.
    _replaced = {
        "__Pyx_ExceptionSave(": "__Pyx_qvx_GeneratorExceptionSave(%s, " % Naming.generator_cname,
        "__Pyx_ExceptionReset(": "__Pyx_qvx_GeneratorExceptionReset(%s, " % Naming.generator_cname,
    }

    def __init__(self, code):
        object.__setattr__(self, "_code", code)

    def __getattr__(self, name):
        return getattr(self._code, name)

    def __setattr__(self, name, value):
        # The labels a statement sets are the writer's.
        setattr(self._code, name, value)

    def insertion_point(self):
        return _GeneratorExceptionWriter(self._code.insertion_point())

    def putln(self, line="", *args, **kwargs):
        for plain, through_generator in self._replaced.items():
            if line.startswith(plain):
                self._code.globalstate.use_utility_code(_generator_exception_state_utility())
                line = through_generator + line[len(plain):]
        return self._code.putln(line, *args, **kwargs)


def _generator_exception_state_utility():
    return _utility("QvxGeneratorExceptionState", "", c_text("generator_exception_state.c"),
                    ("SaveResetException", "Exceptions.c"))


def _saving_through_generator(generate):
    def generate_execution_code(self, code):
        if not (in_python_source(self) and _yields_in_own_function(self)):
            return generate(self, code)
        return generate(self, _GeneratorExceptionWriter(code))
    return generate_execution_code


Nodes.TryExceptStatNode.generate_execution_code = _saving_through_generator(
    Nodes.TryExceptStatNode.generate_execution_code)


class _BuiltinName(ExprNodes.NameNode):
    # A name that always means the builtin, whatever the module or function binds under it.
    def analyse_types(self, env):
        # The entry the module's own scope finds for a name it does not bind.
        if self.entry is None:
            self.entry = env.global_scope().outer_scope.lookup(self.name)
        return ExprNodes.NameNode.analyse_types(self, env)


def _asserting_builtin_error(visit_assert):
    # The raise that an assert statement becomes named AssertionError as a variable: a module
    # that rebinds the name (`AssertionError = TypeError`) raised what it bound. Python raises
    # the builtin exception.
    def visit(self, node):
        node = visit_assert(self, node)
        raise_node = getattr(node, "exception", None)
        exc_type = getattr(raise_node, "exc_type", None)
        if (type(exc_type) is ExprNodes.NameNode and exc_type.name == "AssertionError"
                and getattr(raise_node, "builtin_exc_name", None) == "AssertionError"):
            exc_type.__class__ = _BuiltinName
        return node
    return visit


_assert_transform = ParseTreeTransforms.PostParse
if hasattr(_assert_transform, "visit_AssertStatNode"):
    _assert_transform.visit_AssertStatNode = _asserting_builtin_error(
        _assert_transform.visit_AssertStatNode)


def _listing_free_variables(analyse_types):
    # locals() in a function listed its own variables only: Python's lists also the bound
    # variables of enclosing functions that it or its inner functions use, after them. Their
    # entries exist once the flow analysis has looked every name up.
    def analyse(self, env):
        listed = {item.key.value for item in self.key_value_pairs}
        free = sorted(entry.name for entry in env.entries.values()
                      if entry.name and entry.from_closure and entry.name not in listed)
        for name in free:
            self.key_value_pairs.append(ExprNodes.LocalsDictItemNode(
                self.pos, key=ExprNodes.IdentifierStringNode(self.pos, value=name),
                value=ExprNodes.NameNode(self.pos, name=name, allow_null=True)))
        return analyse_types(self, env)
    return analyse


if hasattr(ExprNodes, "FuncLocalsExprNode") and hasattr(Symtab.Entry, "from_closure"):
    ExprNodes.FuncLocalsExprNode.analyse_types = _listing_free_variables(
        ExprNodes.FuncLocalsExprNode.analyse_types)


def _keeping_reads_that_may_fail(visit_expression_statement):
    # A local variable alone as a statement was dropped as dead code: Python reads it, which
    # raises UnboundLocalError where it is unbound (after `except ... as e` or `del`).
    def visit(self, node):
        expr = node.expr
        if (isinstance(expr, ExprNodes.NameNode) and expr.entry is not None
                and (expr.entry.is_local or expr.entry.is_arg) and expr.type.is_pyobject
                and (expr.cf_maybe_null or expr.cf_is_null) and not expr.allow_null):
            self.visitchildren(node)
            return node
        return visit_expression_statement(self, node)
    return visit


if hasattr(Optimize.OptimizeBuiltinCalls, "visit_ExprStatNode"):
    Optimize.OptimizeBuiltinCalls.visit_ExprStatNode = _keeping_reads_that_may_fail(
        Optimize.OptimizeBuiltinCalls.visit_ExprStatNode)


def _class_name_unbound_in_its_body(tree):
    # A class statement binds its name once its body has run, where the flow analysis takes it
    # for bound from the start: a function's class whose body read the name (`class Node:
    # Node`) read nothing, where Python raises NameError. Those reads are checked at run time.
    # A class body in a function reads the function's variables as free variables: unbound,
    # they raise NameError, not UnboundLocalError.
    for node in subtree(tree):
        if not isinstance(node, Nodes.PyClassDefNode) or node.scope is None:
            continue
        name = node.target.name
        own = node.scope.lookup_here(name) is not None
        for read in _scope_nodes(node.body, into_classes=True):
            if isinstance(read, ExprNodes.NameNode):
                read.read_from_class_body = True
                if read.name == name and not own:
                    read.cf_maybe_null = True
    return tree


def _function_variables_free_in_class_body(generate_result_code):
    def generate(self, code):
        entry = self.entry
        if (not getattr(self, "read_from_class_body", False) or entry is None
                or entry.from_closure or not entry.scope.is_local_scope):
            return generate_result_code(self, code)
        entry.from_closure = True
        try:
            return generate_result_code(self, code)
        finally:
            entry.from_closure = False
    return generate


ExprNodes.NameNode.generate_result_code = _function_variables_free_in_class_body(
    ExprNodes.NameNode.generate_result_code)


stages_before_analysis.append(_class_name_unbound_in_its_body)


class _CheckedMatcher(ExprNodes.ExprNode):
    # The type of an `except` clause, checked to be an exception class or a tuple of them
    # (except_matcher.c) before the exception is matched against it: `except 42:` let the
    # exception pass by, where Python raises TypeError.
    subexprs = ["arg"]

    def analyse_types(self, env):
        self.type = self.arg.type
        self.is_temp = False
        return self

    def calculate_result_code(self):
        return self.arg.result()

    def is_simple(self):
        return self.arg.is_simple()

    def result_in_temp(self):
        return self.arg.result_in_temp()

    def generate_result_code(self, code):
        code.globalstate.use_utility_code(_utility(
            "QvxCheckExceptMatcher", c_text("except_matcher.c"),
            "static int __Pyx_qvx_CheckExceptMatcher(PyObject *matcher);\n"))
        code.put_error_if_neg(
            self.pos, "__Pyx_qvx_CheckExceptMatcher(%s)" % self.arg.py_result())


def _names_builtin_exception(pattern, env):
    entry = env.lookup(pattern.name) if isinstance(pattern, ExprNodes.NameNode) else None
    return entry is not None and entry.type.is_exception_type


def _checking_except_types(analyse_expressions):
    def analyse(self, env):
        unchecked = [not in_python_source(self) or _names_builtin_exception(pattern, env)
                     for pattern in self.pattern or ()]
        node = analyse_expressions(self, env)
        for at, pattern in enumerate(node.pattern or ()):
            if not unchecked[at]:
                node.pattern[at] = _CheckedMatcher(pattern.pos, arg=pattern).analyse_types(env)
        return node
    return analyse


Nodes.ExceptClauseNode.analyse_expressions = _checking_except_types(
    Nodes.ExceptClauseNode.analyse_expressions)


class _AnnotationsIntoNamespace(Nodes.SingleAssignmentNode):
    # A class body's annotations, made one dict at its start, replaced the "__annotations__"
    # that a metaclass's __prepare__ put into the namespace (class_annotations.c).
    def generate_assignment_code(self, code, overloaded_assignment=False):
        entry = self.lhs.entry
        namespace = code.namespace_cname_in_module_state(entry.scope)
        if entry.scope.namespace_cname_is_type:
            namespace = "((PyObject*)%s)" % namespace
        code.globalstate.use_utility_code(_utility(
            "QvxClassAnnotations", c_text("class_annotations.c"),
            "static int __Pyx_qvx_SetClassAnnotations(PyObject *namespace, PyObject *name,"
            " PyObject *annotations);\n"))
        code.put_error_if_neg(self.pos, "__Pyx_qvx_SetClassAnnotations(%s, %s, %s)" % (
            namespace, code.intern_identifier(entry.name), self.rhs.py_result()))
        self.rhs.generate_disposal_code(code)
        self.rhs.free_temps(code)


def _annotations_into_namespace(analyse_annotations):
    def analyse(self, env):
        stats = self.class_def_node.body.stats
        before = stats[0] if stats else None
        analyse_annotations(self, env)
        first = stats[0] if stats else None
        if (first is not before and type(first) is Nodes.SingleAssignmentNode
                and getattr(first.lhs, "name", None) == "__annotations__"
                and getattr(first.lhs.entry, "is_pyclass_attr", False)):
            first.__class__ = _AnnotationsIntoNamespace
    return analyse


if hasattr(ExprNodes.Py3ClassNode, "analyse_annotations"):
    ExprNodes.Py3ClassNode.analyse_annotations = _annotations_into_namespace(
        ExprNodes.Py3ClassNode.analyse_annotations)


# Cython makes one constant of equal constant tuples, and 0.0 == -0.0: a tuple whose float or
# complex items differ only in the sign of a zero took another's value. Such items are told apart
# by their repr as well.
def _signed_zeros_apart(make_dedup_key):
    def make(outer_type, item_nodes):
        key = make_dedup_key(outer_type, item_nodes)
        if key is None:
            return key
        signed = [repr(node.constant_result) for node in item_nodes
                  if node is not None and not node.is_sequence_constructor
                  and not node.is_slice and node.has_constant_result()
                  and isinstance(node.constant_result, (float, complex))]
        if not signed:
            return key
        return key + (frozenset(signed) if isinstance(key[1], frozenset) else tuple(signed),)
    return make


if hasattr(ExprNodes, "make_dedup_key"):
    ExprNodes.make_dedup_key = _signed_zeros_apart(ExprNodes.make_dedup_key)


# Cython takes a bool constant that indexes for a C int, and indexes with 0 or 1: an object that
# tells a bool from an int (typing.Literal, a class's __getitem__) was given the int.
def _bool_indices_as_objects(analyse_base_and_index_types):
    def analyse(self, env, *args, **kwargs):
        if isinstance(self.index, ExprNodes.BoolNode) and in_python_source(self):
            self.index = AsObject(self.index)
        return analyse_base_and_index_types(self, env, *args, **kwargs)
    return analyse


ExprNodes.IndexNode.analyse_base_and_index_types = _bool_indices_as_objects(
    ExprNodes.IndexNode.analyse_base_and_index_types)


# A builtin name was looked up once, when the module loaded, and calls of many builtins became C
# (`len(x)` PyObject_Length, `isinstance` a type check): a module global that shadows the name
# later (`mod.len = ...`, mock.patch("pkg.mod.open")) or a replaced builtin (mock.patch
# ("builtins.print")) was not seen. Each such name has a flag in the module, kept by a dict
# watcher (replaced_builtins.c); while it is clear the cached builtin and the C form serve, as
# before, and while it is set the name is looked up and what it holds is called, as Python does.
# The names whose calls are guarded are the builtin functions Cython computes itself; the
# builtin types (`list(x)`, `isinstance(x, list)`) and the loops over range(), enumerate() and
# the like keep Cython's forms, and so do calls with a lambda or a generator expression among
# their arguments (which are inlined, or cannot be written twice).
_replaced_builtins_c = c_text("product_state.c") + c_text("replaced_builtins.c")
_replaced_builtins_proto = """\
typedef struct {
    unsigned char replaced;
    PyObject *original, *held, *previous;
    unsigned long long globals_version, builtins_version;
} __Pyx_qvx_BuiltinName;
static int __Pyx_qvx_WatchBuiltin(PyObject *globals, PyObject *builtins_module, PyObject *name,
                                  __Pyx_qvx_BuiltinName *flag);
static int __Pyx_qvx_Unreplaced(__Pyx_qvx_BuiltinName *flag, PyObject *globals, PyObject *name);
static PyObject *__Pyx_qvx_CurrentBuiltin(PyObject *globals, PyObject *name);
static PyObject *__Pyx_qvx_CallCurrentBuiltin(PyObject *globals, PyObject *name,
                                              PyObject *const *args, Py_ssize_t count);
static PyObject *__Pyx_qvx_HeldBuiltin(__Pyx_qvx_BuiltinName *flag, PyObject *globals,
                                       PyObject *name, PyObject *cached);
"""
_guarded_builtin_calls = frozenset((
    "abs", "all", "any", "ascii", "bin", "callable", "chr", "delattr", "dir", "divmod", "format",
    "getattr", "globals", "hasattr", "hash", "hex", "isinstance", "issubclass", "iter", "len",
    "locals", "max", "min", "next", "oct", "ord", "pow", "repr", "setattr", "sorted", "sum",
    "vars"))
_written_twice_never = (ExprNodes.ScopedExprNode, ExprNodes.LambdaNode, ExprNodes.YieldExprNode,
                        UtilNodes.ResultRefNode, UtilNodes.TempRefNode, ExprNodes.CloneNode,
                        ExprNodes.ProxyNode)
# The flags of the module being written: its C code's global state and the flag of each name.
_replaced_flags = [None, {}]


def _replaced_flag(code, pos, name):
    globalstate = code.globalstate
    if _replaced_flags[0] is not globalstate:
        _replaced_flags[:] = [globalstate, {}]
    flags = _replaced_flags[1]
    if name not in flags:
        flags[name] = flag = "__pyx_qvx_replaced_" + name
        globalstate.use_utility_code(Code.UtilityCode(
            name="QvxReplacedBuiltins", impl=_replaced_builtins_c,
            proto=_replaced_builtins_proto))
        globalstate["decls"].putln("static __Pyx_qvx_BuiltinName %s = {1, NULL, NULL, NULL, 0, 0};"
                                   % flag)
        init = globalstate["cached_builtins"]
        interned = init.name_in_main_c_code_module_state(
            globalstate.get_interned_identifier(StringEncoding.EncodedString(name)).cname)
        init.putln("if (__Pyx_qvx_WatchBuiltin(%s, %s, %s, &%s) < 0) %s" % (
            init.name_in_main_c_code_module_state(Naming.moddict_cname),
            init.name_in_main_c_code_module_state(Naming.builtins_cname),
            interned, flag, init.error_goto(pos)))
    return flags[name]


def _globals_and_name(code, name):
    return "%s, %s" % (code.name_in_module_state(Naming.moddict_cname),
                       code.intern_identifier(StringEncoding.EncodedString(name)))


class _CurrentBuiltin(ExprNodes.ExprNode):
    # What a builtin's name holds now: the module's global of that name, else the builtin.
    subexprs = []
    type = PyrexTypes.py_object_type
    is_temp = 1

    def infer_type(self, env):
        return PyrexTypes.py_object_type

    def analyse_types(self, env):
        return self

    def generate_result_code(self, code):
        code.putln("%s = __Pyx_qvx_CurrentBuiltin(%s); %s" % (
            self.result(), _globals_and_name(code, self.name),
            code.error_goto_if_null(self.result(), self.pos)))
        self.generate_gotref(code)


class _CallOfCurrentBuiltin(ExprNodes.ExprNode):
    # A call with positional arguments of what a builtin's name holds now, in one C call that
    # keeps the compiled function small.
    subexprs = ["args"]
    type = PyrexTypes.py_object_type
    is_temp = 1

    def infer_type(self, env):
        return PyrexTypes.py_object_type

    def analyse_types(self, env):
        self.args = [arg.analyse_types(env).coerce_to_pyobject(env) for arg in self.args]
        return self

    def generate_result_code(self, code):
        values = ", ".join(arg.py_result() for arg in self.args) or "NULL"
        code.putln("{")
        code.putln("PyObject *__pyx_qvx_args[] = {%s};" % values)
        code.putln("%s = __Pyx_qvx_CallCurrentBuiltin(%s, __pyx_qvx_args, %d); %s" % (
            self.result(), _globals_and_name(code, self.name), len(self.args),
            code.error_goto_if_null(self.result(), self.pos)))
        code.putln("}")
        self.generate_gotref(code)


class _ReplaceableBuiltinCall(ExprNodes.CondExprNode):
    # The call as Cython makes it while the name's flag is clear, else a call of what the name
    # holds. Where the first gives a C number, the second's result is converted to it, so that
    # code using the value stays as it was; where it gives an object of a builtin type or a C
    # tuple, the second may give any object.
    branch_hint = "likely"

    def infer_type(self, env):
        fast = self.true_val.infer_type(env)
        return fast if fast.is_numeric else PyrexTypes.py_object_type

    def analyse_types(self, env):
        self.true_val = self.true_val.analyse_types(env)
        self.slow = self.false_val = self.false_val.analyse_types(env)
        return self.analyse_result_type(env)

    def analyse_result_type(self, env):
        if not self.true_val.type.is_numeric:
            # An object, or a C tuple (`divmod` of C ints), which a replacement need not give.
            self.type = PyrexTypes.py_object_type
            self.true_val = self.true_val.coerce_to_pyobject(env)
            self.false_val = self.slow
        else:
            self.type = self.true_val.type
            self.false_val = self.slow.coerce_to(self.type, env)
        self.result_ctype = None
        return self

    def coerce_to(self, dst_type, env):
        return ExprNodes.ExprNode.coerce_to(self, dst_type, env)

    def coerce_to_index(self, env):
        return ExprNodes.ExprNode.coerce_to_index(self, env)

    def generate_evaluation_code(self, code):
        flag = _replaced_flag(code, self.pos, self.name)
        self.condition.cname = "(!%s.replaced || __Pyx_qvx_Unreplaced(&%s, %s))" % (
            flag, flag, _globals_and_name(code, self.name))
        super().generate_evaluation_code(code)


def _copied(node):
    new = copy.copy(node)
    for attr in node.child_attrs:
        value = getattr(node, attr, None)
        if isinstance(value, list):
            setattr(new, attr, [_copied(item) if isinstance(item, Nodes.Node) else item
                                for item in value])
        elif isinstance(value, Nodes.Node):
            setattr(new, attr, _copied(value))
    return new


class _GuardReplaceableCalls(Visitor.EnvTransform):
    def visit_SimpleCallNode(self, node):
        self.visitchildren(node)
        function = node.function
        if not (isinstance(function, ExprNodes.NameNode) and in_python_source(node)
                and function.name in _guarded_builtin_calls):
            return node
        entry = self.current_env().lookup(function.name)
        if entry is not None and not (entry.is_builtin or entry.scope.is_builtin_scope):
            return node
        if any(isinstance(inner, _written_twice_never) for inner in subtree(node)):
            return node
        if isinstance(node, ExprNodes.SimpleCallNode) and not any(
                isinstance(arg, ExprNodes.StarredUnpackingNode) for arg in node.args):
            slow = _CallOfCurrentBuiltin(node.pos, name=function.name,
                                         args=[_copied(arg) for arg in node.args])
        else:
            slow = _copied(node)
            slow.function = _CurrentBuiltin(function.pos, name=function.name)
        clear = ExprNodes.RawCNameExprNode(node.pos, PyrexTypes.c_bint_type, cname=None)
        return _ReplaceableBuiltinCall(node.pos, name=function.name, condition=clear,
                                       true_val=node, false_val=slow)

    visit_GeneralCallNode = visit_SimpleCallNode

    def visit_Node(self, node):
        self.visitchildren(node)
        return node


stages_before_builtin_calls.append(_GuardReplaceableCalls(None))


# A cached builtin read as an object is the cached one while its flag is clear, else what the
# name holds now, borrowed as the cached one is (replaced_builtins.c holds it).
def _replaceable_cached_builtin(node):
    entry = node.entry
    return (entry is not None and entry.is_builtin and entry.is_const and in_python_source(node)
            and entry.cname.startswith(Naming.builtin_prefix))


def _builtin_read_checked(generate_result_code):
    def generate(self, code):
        generate_result_code(self, code)
        if not self.is_temp and _replaceable_cached_builtin(self):
            name = Code.renamed_py2_builtins_map.get(self.entry.name, self.entry.name)
            self.qvx_flag = _replaced_flag(code, self.pos, name)
            self.qvx_globals_and_name = _globals_and_name(code, name)
    return generate


def _builtin_read_current(calculate_result_code):
    def calculate(self):
        cached = calculate_result_code(self)
        flag = getattr(self, "qvx_flag", None)
        if flag is None:
            return cached
        return "(likely(!%s.replaced) ? %s : __Pyx_qvx_HeldBuiltin(&%s, %s, %s))" % (
            flag, cached, flag, self.qvx_globals_and_name, cached)
    return calculate


ExprNodes.NameNode.generate_result_code = _builtin_read_checked(
    ExprNodes.NameNode.generate_result_code)
ExprNodes.NameNode.calculate_result_code = _builtin_read_current(
    ExprNodes.NameNode.calculate_result_code)
# `a // b` of two C doubles was floor(a / b), which is off by one where a / b rounds up to a
# whole number: `1.0 // 0.1` gave 10.0, where Python gives 9.0 and `divmod` gave (9.0, ...). It
# is computed from the remainder, as Python computes it (float_floor_division.c). A module that
# asks for C division (the cdivision directive) keeps floor(a / b).
_float_floor_division = Code.UtilityCode(
    name="QvxFloatFloorDivision", impl=c_text("float_floor_division.c"),
    proto="static CYTHON_INLINE double __Pyx_qvx_floordiv_double(double a, double b);\n")


def _python_floor_division(node, env):
    return (node.operator == "//" and node.type is PyrexTypes.c_double_type
            and node.cdivision is None and not env.directives["cdivision"])


def _floor_division_analysed(analyse_operation):
    def analyse(self, env):
        result = analyse_operation(self, env)
        self.qvx_python_floor = _python_floor_division(self, env)
        return result
    return analyse


def _floor_division_code(generate_evaluation_code):
    def generate(self, code):
        if getattr(self, "qvx_python_floor", False):
            code.globalstate.use_utility_code(_float_floor_division)
        generate_evaluation_code(self, code)
    return generate


def _floor_division_result(calculate_result_code):
    def calculate(self):
        if not getattr(self, "qvx_python_floor", False):
            return calculate_result_code(self)
        return "__Pyx_qvx_floordiv_double(%s, %s)" % (
            self.operand1.result(), self.operand2.result())
    return calculate


ExprNodes.DivNode.analyse_operation = _floor_division_analysed(ExprNodes.DivNode.analyse_operation)
ExprNodes.DivNode.generate_evaluation_code = _floor_division_code(
    ExprNodes.DivNode.generate_evaluation_code)
ExprNodes.DivNode.calculate_result_code = _floor_division_result(
    ExprNodes.DivNode.calculate_result_code)


# `r = items.extend([x])`: an extend by a short display became appends, whose C status was then
# taken for the object the call gives (a NULL, or the list itself for `[]`). A call whose result
# is used stays a call, which gives None.
def _extending_unused(handle_extend):
    def handle(self, node, function, args, is_unbound_method):
        if node.result_is_used:
            return node
        return handle_extend(self, node, function, args, is_unbound_method)
    return handle


if hasattr(_builtin_calls, "_handle_simple_method_list_extend"):
    _builtin_calls._handle_simple_method_list_extend = _extending_unused(
        _builtin_calls._handle_simple_method_list_extend)


# `format(value, None)` raised SystemError, where Python raises TypeError ("format() argument 2
# must be str, not None"): a format that may be no str is checked first (format_argument.c).
_checked_format = Code.UtilityCode(
    name="QvxFormatArgument", impl=c_text("format_argument.c"),
    proto="static PyObject *__Pyx_qvx_Format(PyObject *value, PyObject *form);\n")
_checked_format_type = PyrexTypes.CFuncType(Builtin.unicode_type, [
    PyrexTypes.CFuncTypeArg("value", PyrexTypes.py_object_type, None),
    PyrexTypes.CFuncTypeArg("form", PyrexTypes.py_object_type, None)])


def _format_with_checked_form(node, pos_args):
    form = pos_args[1]
    if form.type is Builtin.unicode_type and not form.may_be_none():
        return node
    return ExprNodes.PythonCapiCallNode(
        node.pos, "__Pyx_qvx_Format", _checked_format_type, args=pos_args,
        may_return_none=False, is_temp=node.is_temp, utility_code=_checked_format)


def _checking_format(visit_simple_call):
    # Cython's handlers see the builtin's first declaration only, `format(value)`.
    def visit(self, node):
        node = visit_simple_call(self, node)
        function = getattr(node, "function", None)
        entry = function.entry if isinstance(function, ExprNodes.NameNode) else None
        if (isinstance(node, ExprNodes.SimpleCallNode) and entry is not None
                and entry.cname == "PyObject_Format" and len(node.args) == 2
                and entry.scope is self.current_env().builtin_scope()):
            return _format_with_checked_form(node, node.args)
        return node
    return visit


_builtin_calls.visit_SimpleCallNode = _checking_format(_builtin_calls.visit_SimpleCallNode)


# A builtin type's method called unbound on an instance of a subclass (`dict.setdefault(self, k,
# v)` in a subclass that overrides setdefault) must run the builtin's own method. Cython calls a
# few of them through C that, where the C API has no such function (the stable ABI of a
# library), calls the method by name on the instance: the override ran, and an override that
# calls the builtin's own recursed until RecursionError. Such calls take the method from the
# type, as Python does.
def _keeping_unbound_calls(handle):
    def handle_bound_only(self, node, function, args, is_unbound_method, *rest, **kwargs):
        if is_unbound_method:
            return node
        return handle(self, node, function, args, is_unbound_method, *rest, **kwargs)
    return handle_bound_only


def _calling_the_types_own(cname, own_cname, proto, cython_utility):
    # Unbound, Cython's call is kept where the C API has it (own_setdefault.c, own_list_pop.c);
    # a call it has no such C for is left to Python.
    def wrap(handle):
        def handle_unbound(self, node, function, args, is_unbound_method):
            result = handle(self, node, function, args, is_unbound_method)
            if not is_unbound_method or result is node:
                return result
            own = [inner for inner in subtree(result)
                   if isinstance(inner, ExprNodes.PythonCapiFunctionNode) and inner.cname == cname]
            if not own:
                return node
            for inner in own:
                inner.cname = own_cname
                inner.utility_code = _utility(own_cname, "", proto, cython_utility)
            return result
        return handle_unbound
    return wrap


if hasattr(_builtin_calls, "_handle_simple_method_dict_setdefault"):
    _builtin_calls._handle_simple_method_dict_setdefault = _calling_the_types_own(
        "__Pyx_PyDict_SetDefault", "__Pyx_qvx_DictSetDefault", c_text("own_setdefault.c"),
        ("dict_setdefault", "Builtins.c"))(_builtin_calls._handle_simple_method_dict_setdefault)
if hasattr(_builtin_calls, "_handle_simple_method_list_pop"):
    _builtin_calls._handle_simple_method_list_pop = _calling_the_types_own(
        "__Pyx_PyList_Pop", "__Pyx_qvx_ListPop", c_text("own_list_pop.c"),
        ("pop", "Optimize.c"))(_builtin_calls._handle_simple_method_list_pop)
for _by_name in ("_handle_simple_method_bytearray_append",
                 "_handle_simple_method_bytearray_extend"):
    if hasattr(_builtin_calls, _by_name):
        setattr(_builtin_calls, _by_name,
                _keeping_unbound_calls(getattr(_builtin_calls, _by_name)))


# An operator's method called by name (`x.__add__(y)`, `int.__eq__(n, m)`) became the operator
# (`x + y`), which tries the other operand's reflected method and never gives NotImplemented:
# `(1).__add__(1.5)` gave 2.5. Such calls stay calls of the method; the operators themselves,
# which Cython hands to the same code without a called function, keep their C.
def _operators_only(optimise):
    def optimise_operator(self, operator, node, function, args, is_unbound_method):
        if function is not None:
            return node
        return optimise(self, operator, node, function, args, is_unbound_method)
    return optimise_operator


if hasattr(_builtin_calls, "_optimise_num_binop"):
    _builtin_calls._optimise_num_binop = _operators_only(_builtin_calls._optimise_num_binop)


# `bytes.join(sep, parts)` is declared as a C function of its own, which calls the method by
# name where the C API has none.
_joined_by_name = {("bytes", "join")}


def _unbound_methods_called_by_name(tree):
    for node in subtree(tree):
        function = getattr(node, "function", None)
        if (isinstance(node, ExprNodes.SimpleCallNode) and in_python_source(node)
                and isinstance(function, ExprNodes.AttributeNode) and function.obj.is_name
                and (function.obj.name, function.attribute) in _joined_by_name):
            node.function = AsObject(function)
    return tree


stages_after_parsing.append(_unbound_methods_called_by_name)
