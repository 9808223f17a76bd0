# Corrections of Cython where it refuses, or crashes on, code that Python compiles:
# - unpacking a slice with a computed start (`a, b = s[i - 2:i]`) crashed type inference;
# - `locals()`, `vars()` or `dir()` as the first iterable of a comprehension in a class body
#   (`class C: names = [n for n in locals()]`) crashed the compiler;
# - a display that cannot unpack into its target (`a, b = [1, 2, 3]`) stopped the build; Python
#   raises ValueError when the line runs;
# - a generator expression in a class's decorators or bases (`@deco(X=", ".join(a for a in
#   names))`) crashed the flow analysis: it was declared in the class's body, where a lambda
#   there was named too (`C.<lambda>`);
# - blocks indented with tabs beside blocks indented with spaces ("Mixed use of tabs and
#   spaces"), which Python accepts where each comparison of indentation gives the same answer
#   with a tab as 8 columns and as 1; what Python refuses (TabError) stays refused;
# - `del` of a variable that a nested function uses stopped the build;
# - a builtin type's method taken unbound (`add = set.add`) and called with another number of
#   arguments stopped the build, where Python raises TypeError when the call runs;
# - an expression nested as deep as CPython compiles (a sum of 2,000 terms) crashed Cython with
#   RecursionError: the driver translates on a thread of a large stack with limits to match
#   (`deep_translation`), and a module nested deeper than CPython compiles is refused with
#   CPython's own error (`cpython_refusal`), which Cython would otherwise have compiled or
#   crashed on;
# - a `.pxd` file beside a `.py` module was applied to it whatever it declared: one written for a
#   `.pyx` of the same name, or a package's C API for cimporters, broke the module's build. Only
#   a `.pxd` whose functions, classes, methods and variables the module itself defines is
#   applied (`applied_declarations` names it for the driver's reports);
# - `nonlocal __class__` in a method, or in a function or class made in one;
# - an assignment expression bare in a subscript or a set display (`a[b := 0]`), and an
#   asynchronous generator expression outside `async def`;
# - `%`, `//` and ordering comparisons of complex numbers, which raise TypeError when they run;
# - a variable assigned a tuple that holds it (`t = (t,)`, `rest = (item, rest)`): its type
#   inference never ended;
# - a module whose name the import system reaches though it is no identifier (a migration's
#   `0001_initial`, `unicode-data`): Cython refused the name, and made C names of it that are
#   none. Such a name keeps its text for Python; in C names, each character that C does not
#   take is written `_xx_` (its code in hex);
# - a starred item alone in a subscript (`d[*t]`), a starred C number (`[*n]`, where Python
#   raises TypeError), and the strings of annotations that hold a starred item (`*args: *Ts`,
#   `tuple[int, *Ts]`);
# - `divmod` used as a value after a call of it with C numbers ("Not allowed in a constant
#   expression");
# - a builtin that Cython calls as a C function called with keywords (`pow(2, exp=10)`,
#   `exec(code, g, closure=cells)`).
import ast
import ctypes
import io
import re
import sys
import threading
import tokenize
import warnings

from Cython.Compiler import (AutoDocTransforms, Builtin, Errors, ExprNodes, Main, ModuleNode,
                             Nodes, ParseTreeTransforms, Pipeline, PyrexTypes, Symtab,
                             TypeInference)
from Cython.Compiler.Scanning import FileSourceDescriptor
from Cython.Compiler.StringEncoding import EncodedString

from .common import (AsObject, child_nodes, in_python_source, stages_after_parsing,
                     stages_before_analysis, subtree)

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


def _unpack_when_running(tree):
    # `a, b = [1, 2, 3]` stopped the build with Cython's "too many values to unpack", where
    # Python compiles the module and raises ValueError when the line runs: such a value is
    # unpacked as an object, when the statement runs.
    for node in subtree(tree):
        if isinstance(node, Nodes.SingleAssignmentNode):
            targets = [node.lhs]
        elif isinstance(node, Nodes.CascadedAssignmentNode):
            targets = node.lhs_list
        else:
            continue
        if any(_unpacking_fails(target, node.rhs) for target in targets):
            node.rhs = AsObject(node.rhs)
    return tree


stages_after_parsing.append(_unpack_when_running)


# What a class statement evaluates around its body, in the scope around the class: its
# decorators (with the class they are applied to), bases and keywords.
_around_class_body = ("bases", "mkw", "metaclass", "orig_bases", "class_result")


def _holds_own_scope(node, attr):
    # Whether the node's `attr` holds a lambda, comprehension or generator expression.
    value = getattr(node, attr, None)
    return any(isinstance(inner, (ExprNodes.ScopedExprNode, ExprNodes.LambdaNode))
               for child in (value if isinstance(value, list) else [value])
               if isinstance(child, Nodes.Node) for inner in subtree(child))


def _visited_around_class_body(visit_class):
    # A lambda, comprehension or generator expression there was declared and named in the
    # class's body (`C.<lambda>`); it is visited where the class statement runs, before the
    # class. A class without one is visited as before.
    def visit(self, node):
        around = [attr for attr in _around_class_body if _holds_own_scope(node, attr)]
        if not around:
            return visit_class(self, node)
        self.visitchildren(node, attrs=around)
        held = [(attr, getattr(node, attr)) for attr in around]
        for attr, _ in held:
            setattr(node, attr, None)
        try:
            return visit_class(self, node)
        finally:
            for attr, value in held:
                setattr(node, attr, value)
    return visit


for _transform in (ParseTreeTransforms.AnalyseDeclarationsTransform,
                   ParseTreeTransforms.CalculateQualifiedNamesTransform):
    _transform.visit_PyClassDefNode = _visited_around_class_body(
        getattr(_transform, "visit_PyClassDefNode", _transform.visit_ClassDefNode))


def _columns(indentation):
    # The column Python's tokenizer gives an indentation: a tab to the next multiple of 8, a
    # form feed back to 0.
    column = 0
    for character in indentation:
        if character == "\t":
            column = (column // 8 + 1) * 8
        elif character == "\f":
            column = 0
        else:
            column += 1
    return column


def _indented_with_spaces(text):
    # The text with each logical line's indentation made of the spaces Python counts for it,
    # when tabs and spaces both indent lines and Python's tokenizer accepts the text; else None.
    lines = text.split("\n")
    leading = set()
    for line in lines:
        leading.update(line[:len(line) - len(line.lstrip(" \t"))])
    if not {" ", "\t"} <= leading:
        return None
    try:
        tokens = list(tokenize.generate_tokens(io.StringIO(text).readline))
    except (SyntaxError, tokenize.TokenError, ValueError):
        return None
    starts = set()
    at_start = True
    for token in tokens:
        if token.type == tokenize.NEWLINE:
            at_start = True
        elif token.type not in (tokenize.NL, tokenize.COMMENT, tokenize.INDENT, tokenize.DEDENT):
            if at_start:
                starts.add(token.start[0] - 1)
            at_start = False
    indentations = {row: lines[row][:len(lines[row]) - len(lines[row].lstrip(" \t\f"))]
                    for row in starts if row < len(lines)}
    if len(set("".join(indentations.values()))) < 2:
        return None  # tabs or spaces only in strings or continued lines: Cython reads it
    for row, indentation in indentations.items():
        if "\t" in indentation:
            lines[row] = " " * _columns(indentation) + lines[row][len(indentation):]
    return "\n".join(lines)


class _RewrittenSource(io.StringIO):
    # What the parser reads in place of the file: the rewritten text, in the file's encoding.
    encoding = None

    def __init__(self, text, encoding):
        super().__init__(text)
        self.encoding = encoding


def _source_text(source_desc):
    # The text the parser would read, and its encoding; nothing when it cannot be read, which
    # Cython reports as it reads the file.
    try:
        with source_desc.get_file_object() as file:
            return file.encoding, file.read()
    except (OSError, UnicodeDecodeError):
        return None, ""


def _parsing_consistent_indentation(parse):
    # Cython refuses any source indented with both tabs and spaces. A Python source that Python
    # reads so is parsed with its indentation in spaces (only the parser reads the change).
    def parse_source(self, source_desc, scope, pxd, full_module_name):
        if pxd or not source_desc.is_python_file():
            return parse(self, source_desc, scope, pxd, full_module_name)
        encoding, text = _source_text(source_desc)
        rewritten = _indented_with_spaces(text)
        if rewritten is None:
            return parse(self, source_desc, scope, pxd, full_module_name)
        source_desc.get_file_object = lambda *args, **kwargs: _RewrittenSource(rewritten, encoding)
        try:
            return parse(self, source_desc, scope, pxd, full_module_name)
        finally:
            del source_desc.get_file_object
    return parse_source


Main.Context.parse = _parsing_consistent_indentation(Main.Context.parse)


# `del x` where a nested function uses x (or of a free variable) stopped the build ("can not
# delete variable 'x' referenced in nested scope"), where Python empties the cell: the nested
# function then raises NameError. Cython's code for the deletion already empties the cell.
_closure_deletion = re.compile(r"can not delete variable '[^']*' referenced in nested scope$")


def _allowing_closure_deletion(report_error):
    def report(error, use_stack=True):
        if (isinstance(error, Errors.CompileError)
                and _closure_deletion.match(getattr(error, "message_only", "") or "")):
            return None
        return report_error(error, use_stack)
    return report


Errors.report_error = _allowing_closure_deletion(Errors.report_error)


def _reads_after_nonlocal_deletion(tree):
    # A nested function that deletes a variable of its enclosing function (`nonlocal x; del x`)
    # leaves it unbound there: the enclosing function checks every read of it.
    deleted = {(arg.entry.outer_entry.scope, arg.name)
               for node in subtree(tree) if isinstance(node, Nodes.DelStatNode)
               for arg in node.args
               if arg.is_name and arg.entry is not None and arg.entry.from_closure
               and arg.entry.outer_entry is not None}
    if not deleted:
        return tree
    for function in subtree(tree):
        scope = getattr(function, "local_scope", None)
        if not isinstance(function, Nodes.FuncDefNode) or scope is None:
            continue
        for node in subtree(function.body):
            if (isinstance(node, ExprNodes.NameNode) and (scope, node.name) in deleted
                    and not node.cf_is_null):
                node.cf_maybe_null = True
    return tree


stages_before_analysis.append(_reads_after_nonlocal_deletion)


# A builtin type's method taken unbound into a variable (`add = set.add`) was typed as the C
# function Cython calls for it: a call with another number of arguments (`add()`) stopped the
# build, where Python raises TypeError when it runs. Such a variable holds the method object.
class _UnboundMethod(ExprNodes.ProxyNode):
    # A builtin type's attribute, an object unless Cython takes it for a C function.
    def infer_type(self, env):
        inferred = self.arg.infer_type(env)
        return PyrexTypes.py_object_type if inferred.is_cfunction else inferred

    def analyse_types(self, env):
        arg = self.arg.analyse_types(env)
        return arg if arg.type.is_pyobject else arg.coerce_to_pyobject(env)


def _builtin_c_method(value):
    # `set.add`: an attribute of a builtin type that Cython calls as a C function.
    if not (isinstance(value, ExprNodes.AttributeNode) and value.obj.is_name):
        return False
    builtin = Builtin.builtin_types.get(value.obj.name)
    entry = builtin.scope.lookup_here(value.attribute) if builtin is not None else None
    return entry is not None and entry.type.is_cfunction


def _unbound_methods_as_objects(tree):
    for node in subtree(tree):
        if isinstance(node, Nodes.SingleAssignmentNode) and in_python_source(node):
            if _builtin_c_method(node.rhs):
                node.rhs = _UnboundMethod(node.rhs)
    return tree


stages_after_parsing.append(_unbound_methods_as_objects)


# CPython compiles a chain of about 3,000 binary operations; Cython walks such a tree
# recursively, a few C calls per level. The translation runs on a thread whose stack holds far
# more than the depth the limits allow (less than 1 KiB per C call was measured), so that a
# tree too deep for the limits raises RecursionError, which fails the module, and never
# overflows the stack.
_translation_stack = 512 << 20
_python_depth = 60000
_c_calls = 30000


_raised_budget = []


def _c_recursion_budget():
    # CPython 3.12 and 3.13 count C calls against a fixed limit of their own that
    # sys.setrecursionlimit() does not raise. The thread state holds it after the Python limit,
    # which is found by its value: nothing is touched where the layout is not the one expected
    # (3.14 measures the thread's real stack instead).
    if not (3, 12) <= sys.version_info[:2] < (3, 14):
        return None
    current = ctypes.pythonapi.PyThreadState_Get
    current.restype = ctypes.c_void_p
    fields = (ctypes.c_int * 16).from_address(current())
    limit = sys.getrecursionlimit()
    for at in range(4, 15):
        if fields[at] == limit and 0 < fields[at - 1] <= limit and 0 < fields[at + 1] <= 10000:
            return fields, at + 1
    return None


def cpython_refusal(source):
    # CPython's error for the module `source` when it does not compile it (too many nested
    # parentheses, a sum of too many terms), as a program running it under CPython would raise;
    # None when it compiles it or cannot be read here (Cython then reports what it finds).
    if not source.endswith(".py"):
        return None
    try:
        with open(source, "rb") as file:
            text = file.read()
    except OSError:
        return None
    # CPython's compiler measures its depth against the C calls' budget: the usual one here.
    budget = _raised_budget[0] if _raised_budget else None
    try:
        if budget:
            budget[0][budget[1]] -= _c_calls
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            compile(text, source, "exec", dont_inherit=True)
    except SyntaxError as error:
        where = source
        if error.lineno:
            where += ":%d" % error.lineno + (":%d" % error.offset if error.offset else "")
        return "%s: %s: %s" % (where, type(error).__name__, error.msg)
    except (RecursionError, MemoryError, ValueError) as error:
        return "%s: %s: %s" % (source, type(error).__name__, error)
    finally:
        if budget:
            budget[0][budget[1]] += _c_calls
    return None


def deep_translation(translate):
    # Runs `translate()` on a thread of a large stack, with the Python limit and the C calls'
    # budget raised to match, and gives its result; where no such thread can start, runs it
    # here with the usual limits.
    outcome = []

    def run():
        budget = _c_recursion_budget()
        if budget is not None:
            fields, at = budget
            fields[at] += _c_calls
            _raised_budget.append(budget)
        try:
            outcome.append(translate())
        except BaseException as error:  # given back to the calling thread
            outcome.append(error)

    usual = sys.getrecursionlimit()
    try:
        threading.stack_size(_translation_stack)
        sys.setrecursionlimit(_python_depth)
        thread = threading.Thread(target=run, daemon=True)
        thread.start()
    except (RuntimeError, ValueError, MemoryError):
        sys.setrecursionlimit(usual)
        return translate()
    thread.join()
    if isinstance(outcome[0], BaseException):
        raise outcome[0]
    return outcome[0]


def _bound_names(statements):
    # The names a module's or class's top level binds, and for each class the names its body
    # binds, through the branches of compound statements.
    names, classes = set(), {}
    for statement in statements:
        if isinstance(statement, (ast.FunctionDef, ast.AsyncFunctionDef)):
            names.add(statement.name)
        elif isinstance(statement, ast.ClassDef):
            names.add(statement.name)
            classes[statement.name] = _bound_names(statement.body)[0]
        elif isinstance(statement, (ast.Import, ast.ImportFrom)):
            names.update((alias.asname or alias.name).split(".")[0] for alias in statement.names)
        elif isinstance(statement, (ast.Assign, ast.AnnAssign, ast.AugAssign)):
            targets = statement.targets if isinstance(statement, ast.Assign) else [statement.target]
            names.update(node.id for target in targets for node in ast.walk(target)
                         if isinstance(node, ast.Name))
        for field in ("body", "orelse", "finalbody", "handlers", "cases"):
            inner = getattr(statement, field, None)
            if isinstance(inner, list) and not isinstance(
                    statement, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
                more_names, more_classes = _bound_names(
                    [part for item in inner for part in getattr(item, "body", [item])]
                    if field in ("handlers", "cases") else inner)
                names |= more_names
                classes.update(more_classes)
    return names, classes


def _declared_name(declarator):
    # The name of a C declarator and whether it declares a function.
    function = False
    while not isinstance(declarator, Nodes.CNameDeclaratorNode):
        function = function or isinstance(declarator, Nodes.CFuncDeclaratorNode)
        declarator = getattr(declarator, "base", None)
        if declarator is None:
            return None, function
    return declarator.name, function


def _strangers(statements, names, classes, extern=False):
    # What the declarations `statements` of a .pxd declare that the module does not define.
    found = []
    for node in statements:
        if isinstance(node, Nodes.StatListNode):
            found += _strangers(node.stats, names, classes, extern)
        elif isinstance(node, Nodes.CDefExternNode):
            found += _strangers([node.body], names, classes, True)
        elif isinstance(node, Nodes.CVarDefNode):
            for declarator in node.declarators:
                name, _ = _declared_name(declarator)
                if name and (extern or name not in names):
                    found.append(name)
        elif isinstance(node, Nodes.CFuncDefNode):
            name, _ = _declared_name(node.declarator)
            if name and name not in names:
                found.append(name)
        elif isinstance(node, Nodes.CClassDefNode):
            if extern or node.class_name not in classes:
                found.append(node.class_name)
                continue
            body = node.body.stats if isinstance(node.body, Nodes.StatListNode) else [node.body]
            for member in body:
                declarators = [member.declarator] if isinstance(member, Nodes.CFuncDefNode) \
                    else getattr(member, "declarators", [])
                for declarator in declarators:
                    name, function = _declared_name(declarator)
                    if function and name not in classes[node.class_name]:
                        found.append("%s.%s" % (node.class_name, name))
    return found


def _foreign_declarations(context, pxd, source, module_name):
    # What the .pxd `pxd` declares that the module `source` does not define; None when it
    # cannot be told (the .pxd is then applied, and Cython reports what it finds).
    try:
        with open(source, "rb") as file:
            names, classes = _bound_names(ast.parse(file.read()).body)
        scope = Symtab.ModuleScope(module_name, None, context)
        tree = context.parse(FileSourceDescriptor(pxd), scope, pxd=True,
                             full_module_name=module_name)
    except Exception:
        return None
    return _strangers([tree.body], names, classes)


applied_declarations = {}
_parse_stage = Pipeline.parse_stage_factory


def _parse_with_own_declarations(context):
    parse = _parse_stage(context)

    def parse_module(compilation_source):
        source = compilation_source.source_desc.filename
        name = compilation_source.full_module_name
        if not source.endswith(".py"):
            return parse(compilation_source)
        position = (compilation_source.source_desc, 1, 0)
        pxd = context.find_pxd_file(name, position, sys_path=False)
        if pxd and not _foreign_declarations(context, pxd, source, name):
            applied_declarations[name] = pxd
        if not pxd or name in applied_declarations:
            return parse(compilation_source)
        # A .pxd declaring what the module does not define is not the module's: left out.
        find = context.find_pxd_file
        context.find_pxd_file = lambda wanted, *args, **kwargs: (
            None if wanted == name else find(wanted, *args, **kwargs))
        try:
            return parse(compilation_source)
        finally:
            del context.find_pxd_file
    return parse_module


Pipeline.parse_stage_factory = _parse_with_own_declarations


# `nonlocal __class__` in a method or in a function or class nested in one (CPython's own tests
# do it) stopped the build: Cython gives a method its `__class__` variable only after the
# declarations are analysed. A method under such a statement now starts with it, as a method
# that reads `__class__` does; a statement in the method itself makes it the method's own.
_CLASS_VARIABLE = EncodedString("__class__")


def _scopes_of(node, enclosing=()):
    # Each `nonlocal __class__` statement with the functions and classes around it, innermost
    # last.
    if isinstance(node, Nodes.NonlocalNode) and _CLASS_VARIABLE in node.names:
        yield node, enclosing
    if isinstance(node, (Nodes.FuncDefNode, Nodes.PyClassDefNode)):
        enclosing = enclosing + (node,)
    for child in child_nodes(node):
        yield from _scopes_of(child, enclosing)


def _methods_owning_class_cell(tree):
    for statement, enclosing in _scopes_of(tree):
        if not in_python_source(statement):
            continue
        # The name is the cell of the innermost class that has a method on the way in.
        owner = next((at for at in reversed(range(len(enclosing) - 1))
                      if isinstance(enclosing[at], Nodes.PyClassDefNode)
                      and isinstance(enclosing[at + 1], Nodes.FuncDefNode)), None)
        if owner is None:
            continue
        method = enclosing[owner + 1]
        if method is enclosing[-1]:
            statement.names = [name for name in statement.names if name != _CLASS_VARIABLE]
        method.body._qvx_class_cell_of = enclosing[owner]
    return tree


def _declaring_class_variable(visit_function):
    # The method's body, under the generator it may have become since parsing, starts by
    # taking the class from its cell.
    def visit(self, node):
        class_node = getattr(node.body, "_qvx_class_cell_of", None)
        if class_node is not None and not getattr(node.body, "_qvx_class_variable", None):
            generator = (self.current_scope_node()
                         if isinstance(node, Nodes.GeneratorBodyDefNode) else None)
            (generator or node).requires_classobj = True
            class_node.class_cell.is_active = True
            assignment = Nodes.SingleAssignmentNode(
                node.body.pos, lhs=ExprNodes.NameNode(node.body.pos, name=_CLASS_VARIABLE),
                rhs=ExprNodes.ClassCellNode(node.body.pos, is_generator=generator is not None))
            if isinstance(node.body, Nodes.StatListNode):
                node.body.stats.insert(0, assignment)
            else:
                node.body = Nodes.StatListNode(node.body.pos, stats=[assignment, node.body])
            node.body._qvx_class_variable = True
        return visit_function(self, node)
    return visit


if hasattr(ExprNodes, "ClassCellNode") and hasattr(Nodes, "NonlocalNode"):
    stages_after_parsing.append(_methods_owning_class_cell)
    ParseTreeTransforms.AnalyseDeclarationsTransform.visit_FuncDefNode = _declaring_class_variable(
        ParseTreeTransforms.AnalyseDeclarationsTransform.visit_FuncDefNode)


# Two forms Cython's parser refuses although Python has parsed them since 3.10 and 3.7: an
# assignment expression bare in a subscript or a set display (`a[b := 0]`, `{x := 1}`), and an
# asynchronous comprehension or generator expression outside `async def` (`(i async for i in
# source)`, which makes an asynchronous generator). The parser reads such a module with the
# assignment expressions parenthesized (the file itself and the lines shown from it unchanged)
# and with `async` and `await` keywords throughout, as they are in Python.
def _bare_assignment_expressions(tree):
    for node in ast.walk(tree):
        if isinstance(node, ast.Subscript):
            items = node.slice.elts if isinstance(node.slice, ast.Tuple) else [node.slice]
        elif isinstance(node, ast.Set):
            items = node.elts
        else:
            continue
        yield from (item for item in items if isinstance(item, ast.NamedExpr))


def _parenthesized(text, tree):
    lines = text.split("\n")
    starts = [0]
    for line in lines:
        starts.append(starts[-1] + len(line) + 1)

    def offset(row, byte_column):
        # ast counts columns in bytes of UTF-8.
        line = lines[row - 1]
        return starts[row - 1] + len(line.encode("utf-8")[:byte_column].decode("utf-8", "replace"))

    insertions = []
    for node in _bare_assignment_expressions(tree):
        start = offset(node.lineno, node.col_offset)
        if text[:start].rstrip()[-1:] != "(":
            insertions += [(start, "("), (offset(node.end_lineno, node.end_col_offset), ")")]
    for at, bracket in sorted(insertions, reverse=True):
        text = text[:at] + bracket + text[at:]
    return text if insertions else None


def _asynchronous_outside_async_def(tree):
    comprehensions = (ast.ListComp, ast.SetComp, ast.DictComp, ast.GeneratorExp)
    stack = [(tree, False)]
    while stack:
        node, in_async = stack.pop()
        if isinstance(node, comprehensions) and not in_async and (
                any(generator.is_async for generator in node.generators)
                or any(isinstance(inner, ast.Await) for inner in ast.walk(node))):
            return True
        if isinstance(node, (ast.FunctionDef, ast.Lambda)):
            in_async = False
        elif isinstance(node, ast.AsyncFunctionDef):
            in_async = True
        stack.extend((child, in_async) for child in ast.iter_child_nodes(node))
    return False


def _scanner_with_async_keywords(*args, **kwargs):
    scanner = _Scanner(*args, **kwargs)
    scanner.enter_async()
    return scanner


_Scanner = Main.PyrexScanner


def _parsing_as_python_parses(parse):
    def parse_source(self, source_desc, scope, pxd, full_module_name):
        if pxd or not source_desc.is_python_file():
            return parse(self, source_desc, scope, pxd, full_module_name)
        encoding, text = _source_text(source_desc)
        try:
            tree = ast.parse(text) if (":=" in text or "async" in text or "await" in text) else None
        except (SyntaxError, ValueError):
            tree = None  # Cython reports what is wrong with it
        rewritten = _parenthesized(text, tree) if tree is not None and ":=" in text else None
        asynchronous = tree is not None and _asynchronous_outside_async_def(tree)
        if rewritten is None and not asynchronous:
            return parse(self, source_desc, scope, pxd, full_module_name)
        if rewritten is not None:
            source_desc.get_file_object = lambda *args, **kwargs: _RewrittenSource(rewritten,
                                                                                   encoding)
        if asynchronous:
            Main.PyrexScanner = _scanner_with_async_keywords
        try:
            return parse(self, source_desc, scope, pxd, full_module_name)
        finally:
            Main.PyrexScanner = _Scanner
            source_desc.__dict__.pop("get_file_object", None)
    return parse_source


if hasattr(Main, "PyrexScanner"):
    Main.Context.parse = _parsing_as_python_parses(Main.Context.parse)


# `%`, `//` and ordering comparisons of a complex number stopped the build ("mod operator not
# supported for type 'double complex'", "complex types are unordered"); Python raises
# TypeError when the line runs. Such an operation on a C complex is the object's.
def _complex_operation_as_objects(is_py_operation_types):
    def is_py_operation(self, type1, type2):
        return (is_py_operation_types(self, type1, type2)
                or (self.operator in ("//", "%") and (type1.is_complex or type2.is_complex)
                    and in_python_source(self)))
    return is_py_operation


def _complex_ordering_as_objects(find_common_type):
    def find(self, env, op, operand1, common_type=None):
        types = (operand1.type, self.operand2.type)
        if (op in ("<", "<=", ">", ">=") and any(kind.is_complex for kind in types)
                and all(kind.is_complex or kind.is_numeric for kind in types)
                and in_python_source(self)):
            return PyrexTypes.py_object_type
        return find_common_type(self, env, op, operand1, common_type)
    return find


ExprNodes.NumBinopNode.is_py_operation_types = _complex_operation_as_objects(
    ExprNodes.NumBinopNode.is_py_operation_types)
ExprNodes.CmpNode.find_common_type = _complex_ordering_as_objects(
    ExprNodes.CmpNode.find_common_type)


# Type inference of a variable that takes a tuple of itself (`t = (t,)` in a loop, a cons list
# `rest = (item, rest)`) never ended, or ended in RecursionError: each round typed the
# variable `tuple[...]` one level deeper, or back to an object and the next round the other
# way. A tuple that holds the variable it is assigned to takes the variable as a plain tuple,
# and two different specializations of one builtin type span to the builtin type itself.
def _spanning_specializations(find_spanning_type):
    def find(type1, type2):
        base = getattr(type1, "base_type", None)
        if (type1 != type2 and base is not None and base is getattr(type2, "base_type", None)
                and getattr(type1, "subscripted_types", None)
                and getattr(type2, "subscripted_types", None) and base.is_builtin_type):
            return base
        return find_spanning_type(type1, type2)
    return find


class _AsGeneric(ExprNodes.ExprNode):
    # Stands for a name while its tuple is typed: the name's type without its specialization.
    subexprs = []

    def infer_type(self, env):
        return self.generic


def _holding_itself(tuple_node, name_node):
    return any(assignment.rhs is not None and any(node is tuple_node
                                                  for node in subtree(assignment.rhs))
               for assignment in getattr(name_node.entry, "cf_assignments", ()))


def _not_nesting_itself(infer_type):
    def infer(self, env):
        if not self.args or self.mult_factor or not in_python_source(self):
            return infer_type(self, env)
        args = self.args
        stand_ins = []
        for arg in args:
            arg_type = arg.infer_type(env) if isinstance(arg, ExprNodes.NameNode) else None
            if (getattr(arg_type, "subscripted_types", None) and arg_type.base_type is not None
                    and _holding_itself(self, arg)):
                stand_ins.append(_AsGeneric(arg.pos, generic=arg_type.base_type))
            else:
                stand_ins.append(arg)
        if all(stand_in is arg for stand_in, arg in zip(stand_ins, args)):
            return infer_type(self, env)
        self.args = stand_ins
        try:
            return infer_type(self, env)
        finally:
            self.args = args
    return infer


TypeInference.find_spanning_type = _spanning_specializations(TypeInference.find_spanning_type)
ExprNodes.TupleNode.infer_type = _not_nesting_itself(ExprNodes.TupleNode.infer_type)


# A module's own name need only be what the import system finds a file by: parts without dots.
# Every other name still goes through Cython's own check.
class _ImportableNames:
    def __init__(self, identifiers):
        self._identifiers = identifiers

    def match(self, name):
        return self._identifiers.match(name) or all(name.split("."))


_c_unsafe = re.compile(r"[\x00-\x2f\x3a-\x40\x5b-\x5e\x60\x7b-\x7f]")


def _c_safe(text):
    return _c_unsafe.sub(lambda found: "_%02x_" % ord(found.group()), text)


def _c_safe_parts(name):
    return ".".join(_c_safe(part) for part in name.split("."))


def _safe_module_c_names(punycode_module_name):
    def named(self, prefix, name):
        return punycode_module_name(self, prefix, _c_safe_parts(name))
    return named


def _safe_scope_prefix(init):
    def made(self, *args, **kwargs):
        init(self, *args, **kwargs)
        if _c_unsafe.search(self.scope_prefix):
            self.scope_prefix = _c_safe(self.scope_prefix)
    return made


Main.module_name_pattern = _ImportableNames(Main.module_name_pattern)
ModuleNode.ModuleNode.punycode_module_name = _safe_module_c_names(
    ModuleNode.ModuleNode.punycode_module_name)
Symtab.Scope.__init__ = _safe_scope_prefix(Symtab.Scope.__init__)
# A starred item in a subscript (`d[*t]`, `Generic[*Ts]`, Python 3.11): Python takes the index
# as a tuple display, `d[*t]` as `d[(*t,)]` and `d[x, *t]` as `d[(x, *t)]`. Cython parsed the
# second so but stopped the build on the first ("starred expression is not allowed here"); its
# index is made the tuple Python makes when the node is first read (not in a stage over the
# tree, which reaches a lambda's body only once its declarations are analysed).
def _starred_index_as_tuple(method):
    def run(self, *args, **kwargs):
        if isinstance(self.index, ExprNodes.StarredUnpackingNode):
            self.index = ExprNodes.TupleNode(self.index.pos, args=[self.index])
        return method(self, *args, **kwargs)
    return run


for _reading_index in ("type_dependencies", "infer_type", "analyse_as_type",
                       "analyse_base_and_index_types"):
    setattr(ExprNodes.IndexNode, _reading_index,
            _starred_index_as_tuple(getattr(ExprNodes.IndexNode, _reading_index)))


# A starred value typed as a C number (`n = 5; d[*n]`, `[*n]`) was coerced to an object after it
# lost its star: a tuple took it as one item, a list or a set stopped the build ("starred
# expression is not allowed here"). Python raises TypeError: the value is starred as an object.
def _starring_objects(analyse_types):
    def analyse(self, env):
        node = analyse_types(self, env)
        target_type = node.target.type
        if not (target_type.is_pyobject or target_type.is_error) and in_python_source(node):
            node.target = node.target.coerce_to_pyobject(env)
            node.type = node.target.type
        return node
    return analyse


ExprNodes.StarredUnpackingNode.analyse_types = _starring_objects(
    ExprNodes.StarredUnpackingNode.analyse_types)


# Compiled code keeps annotations as the strings Python writes for them; a starred one (`*args:
# *Ts`, `x: tuple[int, *Ts]`) was written "<???>", which `typing.get_type_hints` cannot read,
# and a subscript by a tuple of one item (`d[*t]`, `d[x,]`) lost the tuple's comma.
def _write_starred(self, node):
    self.put("*")
    self.visit(node.target)


def _writing_one_item_tuple(visit_index):
    def visit(self, node):
        if isinstance(node.index, ExprNodes.StarredUnpackingNode):
            item = node.index
        elif isinstance(node.index, ExprNodes.TupleNode) and len(node.index.args) == 1:
            item = node.index.args[0]
        else:
            return visit_index(self, node)
        self.visit(node.base)
        self.put("[")
        self.visit(item)
        self.put(",]")
    return visit


AutoDocTransforms.AnnotationWriter.visit_StarredUnpackingNode = _write_starred
AutoDocTransforms.AnnotationWriter.visit_IndexNode = _writing_one_item_tuple(
    AutoDocTransforms.AnnotationWriter.visit_IndexNode)


# A call of `divmod` with C numbers declares a C function of its own for them, which takes the
# builtin's name in Cython's builtin scope (shared by the modules of one run) without its
# Python object: `divmod` used as a value after such a call (`f = divmod`, `map(divmod, a, b)`,
# `divmod(*pair)`) stopped the build ("Not allowed in a constant expression"). The declared C
# function keeps the Python builtin it stands for.
_declare_builtin_cfunction = Symtab.BuiltinScope.declare_builtin_cfunction


def _keeping_python_builtin(self, name, *args, **kwargs):
    earlier = self.lookup_here(name)
    entry = _declare_builtin_cfunction(self, name, *args, **kwargs)
    if entry.as_variable is None and earlier is not None:
        entry.as_variable = earlier.as_variable
    return entry


Symtab.BuiltinScope.declare_builtin_cfunction = _keeping_python_builtin


# A builtin that Cython calls as a C function called with keywords (`pow(2, exp=10)`,
# `exec(code, g, closure=cells)`) stopped the build: the C function's arguments have no names.
# Such a call calls the Python builtin, which takes the keywords it takes and raises TypeError
# for the others.
_map_to_simple_call = ExprNodes.GeneralCallNode.map_to_simple_call_node


def _builtin_called_with_keywords(self):
    entry = getattr(self.function, "entry", None)
    keywords = self.keyword_args
    if (entry is not None and entry.as_variable is not None and entry.as_variable.is_builtin
            and keywords is not None and keywords.is_dict_literal
            and keywords.key_value_pairs):
        return self
    return _map_to_simple_call(self)


ExprNodes.GeneralCallNode.map_to_simple_call_node = _builtin_called_with_keywords
