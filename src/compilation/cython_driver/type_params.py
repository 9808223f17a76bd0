# Type parameters (`def first[T](items: list[T]) -> T`, `class Box[T: Hashable]`, `type Pair[T] =
# tuple[T, T]`), which Cython's parser refuses. The parser reads the module with the brackets
# blanked out and `type X = value` read as `X = value` (lines and the columns of what stays kept);
# the tree is then lowered as CPython lowers the syntax: a hidden function stands for the scope of
# the type parameters, makes them, makes the function or class inside it (so that its annotations
# and body see them as closure variables, and nothing outside does), sets `__type_params__`, adds
# `Generic[...]` to a class's bases, and is called where the statement runs, after its decorators
# and its defaults were evaluated outside it.
#
# The type parameters and aliases themselves are made by CPython from a one-line statement of the
# same syntax that the hidden function executes (`def _[T: bound(T)](): pass`), whose bounds,
# constraints and alias value call compiled lambdas: so `TypeVar`, `TypeVarTuple`, `ParamSpec`
# and `TypeAliasType` are CPython's own, with variance inferred, and bounds, constraints and
# values evaluated lazily, on first use, as CPython evaluates them (a recursive alias, a bound
# naming a class defined later). CPython exposes no other way to make them lazily: the
# `TypeAliasType` constructor takes a value, not a function to evaluate, and the interpreter's
# own constructors are not part of the stable ABI that libraries are built for.
#
# Directly in a class body, what CPython evaluates in such a scope reads the class's namespace
# first: the hidden function is given the namespace (see `_NAMESPACE_CELL`), and the names that
# the bounds, an alias's value and a generic class's bases read are looked up there before the
# usual scopes.
import ast
import re
import sys

from Cython.Compiler import ExprNodes, Main, Nodes, ParseTreeTransforms
from Cython.Compiler.StringEncoding import EncodedString
from Cython.Compiler.TreeFragment import parse_from_strings

from .common import c_text, fix_utility, stages_after_parsing, subtree
from . import refusals
from .refusals import _RewrittenSource, _source_text

# A cheap look for the syntax before Python's parser reads the module.
_may_use_syntax = re.compile(r"\b(?:def|class)\s+\w+\s*\[|\btype\s+\w+\s*[\[=]")
_continued = re.compile(r"(?:\s|\\\r?\n)*")


class _Lowering:
    # What the tree lowering needs of one construct: its kind ("def", "class", "type"), name,
    # the lines its node may start on, its type parameters (`_Parameter`), and the class whose
    # namespace it reads first (None outside class bodies).
    def __init__(self, kind, name, lines, params, owner):
        self.kind, self.name, self.lines, self.params, self.owner = kind, name, lines, params, owner


class _Text:
    # The module's text with offsets from ast's positions (columns in bytes of UTF-8).
    def __init__(self, text):
        self.text = text
        self.lines = text.split("\n")
        self.starts = [0]
        for line in self.lines:
            self.starts.append(self.starts[-1] + len(line) + 1)

    def offset(self, row, byte_column):
        line = self.lines[row - 1]
        return self.starts[row - 1] + len(
            line.encode("utf-8")[:byte_column].decode("utf-8", "replace"))

    def start(self, node):
        return self.offset(node.lineno, node.col_offset)

    def end(self, node):
        return self.offset(node.end_lineno, node.end_col_offset)

    def closing_bracket(self, at):
        # The `]` that closes a type parameter list, from the end of its last parameter.
        while self.text[at] != "]":
            if self.text[at] == "#":
                at = self.text.index("\n", at)
            at += 1
        return at


def _blanked(text):
    # The text in spaces, its line breaks continued with backslashes, so that what follows it
    # stays on its line and column and in the same logical line.
    lines = text.split("\n")
    blank = [" " * len(line) for line in lines]
    for row in range(len(blank) - 1):
        line = lines[row]
        keep = "\r" if line.endswith("\r") else ""
        body = blank[row][:len(blank[row]) - len(keep)]
        blank[row] = (body[:-1] + "\\" if body else "\\") + keep
    return "\n".join(blank)


def _mangled(name, owner):
    # A private name as Python stores it in the class `owner`.
    stripped = owner.lstrip("_")
    if not name.startswith("__") or name.endswith("__") or not stripped:
        return name
    return "_%s%s" % (stripped, name)


def _names_read(expression):
    # The names an expression reads in its own scope (not in lambdas, comprehensions or
    # f-strings, where the class's namespace is not read first anyway, or not rewritten).
    stack = [expression]
    while stack:
        node = stack.pop()
        if isinstance(node, (ast.Lambda, ast.ListComp, ast.SetComp, ast.DictComp,
                             ast.GeneratorExp, ast.JoinedStr)):
            continue
        if isinstance(node, ast.Name) and isinstance(node.ctx, ast.Load):
            yield node
        stack.extend(ast.iter_child_nodes(node))


def _from_class_namespace(source, node, owner, params):
    # Edits reading each name the expression `node` reads from the class's namespace first.
    own = {param.name for param in params}
    edits = []
    for name in _names_read(node):
        if name.id in own:
            continue
        key = repr(_mangled(name.id, owner))
        edits.append((source.start(name), source.end(name),
                      "(_qvx_classdict.cell_contents[%s] if %s in _qvx_classdict.cell_contents"
                      " else %s)"
                      % (key, key, name.id)))
    return edits


def _edited(text, edits, base=0):
    for start, end, replacement in sorted(edits, reverse=True):
        text = text[:start - base] + replacement + text[end - base:]
    return text


class _Parameter:
    # A type parameter: its prefix ("", "*", "**"), name, the text of its bound (constraints when
    # `constraints`) and of its default (Python 3.13; unpacked when `starred`), as the lambdas
    # that evaluate them read them.
    def __init__(self, prefix, name, bound, constraints, default, starred):
        self.prefix, self.name, self.bound, self.constraints = prefix, name, bound, constraints
        self.default, self.starred = default, starred

    def evaluated(self):
        return [text for text in (self.bound, self.default) if text is not None]


def _parameters(source, node, owner):
    def text_of(expression):
        if expression is None:
            return None
        text = source.text[source.start(expression):source.end(expression)]
        if owner is None:
            return text
        return _edited(text, _from_class_namespace(source, expression, owner, node.type_params),
                       source.start(expression))

    params = []
    for param in node.type_params:
        bound = getattr(param, "bound", None)
        default = getattr(param, "default_value", None)
        starred = isinstance(default, ast.Starred)
        params.append(_Parameter({ast.TypeVarTuple: "*", ast.ParamSpec: "**"}.get(type(param), ""),
                                 param.name, text_of(bound), isinstance(bound, ast.Tuple),
                                 text_of(default.value if starred else default), starred))
    return params


def _lowerings(text):
    # The rewritten text the parser reads, and the constructs to lower by name; None when the
    # module does not use the syntax or Python does not parse it.
    if not _may_use_syntax.search(text):
        return None
    try:
        tree = ast.parse(text)
    except (SyntaxError, ValueError):
        return None
    source = _Text(text)
    edits, lowerings = [], {}
    stack = [(tree, None)]
    while stack:
        node, owner = stack.pop()
        # `owner` is the class whose body holds `node`, directly.
        inner = (node.name if isinstance(node, ast.ClassDef) else None
                 if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef, ast.Lambda))
                 else owner)
        stack.extend((child, inner) for child in ast.iter_child_nodes(node))
        params = getattr(node, "type_params", None)
        if not params and not isinstance(node, ast.TypeAlias):
            continue
        if isinstance(node, ast.TypeAlias):
            start = source.start(node)
            end = (source.closing_bracket(source.end(params[-1])) + 1 if params
                   else source.end(node.name))
            name = source.text[source.start(node.name):source.end(node.name)]
            blank = _blanked(source.text[start:end])
            edits.append((start, end, name + blank[len(name):]))
            lines = (node.lineno, node.lineno)
            kind, name = "type", node.name.id
            expressions = [node.value]
        else:
            keyword = re.compile(r"(?:async%s)?(?:def|class)%s%s%s\[" % (
                (_continued.pattern,) * 2 + (re.escape(node.name), _continued.pattern)))
            opening = keyword.match(source.text, source.start(node)).end() - 1
            end = source.closing_bracket(source.end(params[-1])) + 1
            edits.append((opening, end, _blanked(source.text[opening:end])))
            first = node.decorator_list[0].lineno if node.decorator_list else node.lineno
            lines = (min(first, node.lineno), node.lineno)
            kind, name = "class" if isinstance(node, ast.ClassDef) else "def", node.name
            expressions = (node.bases + [keyword.value for keyword in node.keywords]
                           if kind == "class" else [])
        if owner is not None:
            for expression in expressions:
                edits += _from_class_namespace(source, expression, owner, params)
        lowerings.setdefault(name, []).append(
            _Lowering(kind, name, lines, _parameters(source, node, owner), owner))
    if not lowerings:
        return None
    return _edited(text, edits), lowerings


def _parsing_type_parameters(parse):
    def parse_source(self, source_desc, scope, pxd, full_module_name):
        if pxd or not source_desc.is_python_file():
            return parse(self, source_desc, scope, pxd, full_module_name)
        encoding, text = _source_text(source_desc)
        found = _lowerings(text)
        if found is None:
            return parse(self, source_desc, scope, pxd, full_module_name)
        rewritten, source_desc.type_parameter_lowerings = found
        source_desc.get_file_object = lambda *args, **kwargs: _RewrittenSource(rewritten,
                                                                               encoding)
        try:
            return parse(self, source_desc, scope, pxd, full_module_name)
        finally:
            source_desc.__dict__.pop("get_file_object", None)
    return parse_source


Main.Context.parse = _parsing_type_parameters(Main.Context.parse)


def _statement(params, evaluate):
    # The type parameter list of the statement CPython executes, its bounds, constraints and
    # defaults evaluated by the compiled lambdas `evaluate`, in their order.
    names = ", ".join(param.name for param in params)
    written = []
    evaluators = 0
    for param in params:
        text = param.prefix + param.name
        for part, form in ((param.bound, ": (*%s,)" if param.constraints else ": %s"),
                           (param.default, " = *%s" if param.starred else " = %s")):
            if part is not None:
                text += form % ("%s[%d](%s)" % (evaluate, evaluators, names))
                evaluators += 1
        written.append(text)
    return "[%s]" % ", ".join(written) if written else ""


def _template(lowering, defaults, decorators):
    # The hidden function, its call and its deletion, as Python; `_qvx_definition`,
    # `_qvx_default_N`, `_qvx_decorator_N` and `_qvx_alias_value` stand for the user's nodes,
    # `__classdictcell__` is the cell of the namespace of the class whose body holds them.
    name = lowering.name
    params = lowering.params
    names = ", ".join(param.name for param in params)
    hidden = "_qvx_%s_type_params" % name.lstrip("_")  # no _sunder_ name, which Enum refuses
    arguments = ["_qvx_default_%d" % at for at in range(defaults)]
    if lowering.owner is not None:
        arguments.insert(0, "_qvx_classdict")
    evaluators = "".join("lambda %s: (%s), " % (names, text)
                         for param in params for text in param.evaluated())
    lines = ["def %s(%s):" % (hidden, ", ".join(arguments)),
             "    _qvx_namespace = {'__name__': __name__, '_qvx_evaluate': (%s)}" % evaluators]
    brackets = _statement(params, "_qvx_evaluate")
    if lowering.kind == "type":
        lines[1] = lines[1][:-1] + ", '_qvx_value': lambda %s: _qvx_alias_value}" % names
        lines += ["    exec(%r, _qvx_namespace)" % (
                      "type %s%s = _qvx_value(%s)" % (name, brackets, names)),
                  "    return _qvx_namespace[%r]" % name]
    else:
        made = "def _%s(): pass" if lowering.kind == "def" else "class _%s: pass"
        lines += ["    exec(%r, _qvx_namespace)" % (made % brackets),
                  "    _qvx_type_params = _qvx_namespace['_'].__type_params__"]
        if lowering.kind == "class":
            lines.append("    _qvx_generic_base = _qvx_namespace['_'].__orig_bases__[0]")
        lines += ["    %s, = _qvx_type_params" % names,
                  "    _qvx_definition"]
        if lowering.kind == "def":
            lines.append("    %s.__type_params__ = _qvx_type_params" % name)
        lines.append("    return %s" % name)
    call = "%s%s(%s)" % ("_qvx_held_for_class_cell" * (lowering.kind == "def" and
                                                        lowering.owner is not None),
                         hidden, ", ".join(
        ["__classdictcell__"] * (lowering.owner is not None)
        + arguments[lowering.owner is not None:]))
    if call.startswith("_qvx_held_for_class_cell"):
        call = call.replace("_qvx_held_for_class_cell", "_qvx_held_for_class_cell(", 1) + ")"
    for at in reversed(range(decorators)):
        call = "_qvx_decorator_%d(%s)" % (at, call)
    lines += ["%s = %s" % (name, call), "del %s" % hidden]
    if lowering.kind == "class":
        lines.append("__type_params__ = _qvx_type_params")
    return "\n".join(lines) + "\n"


def _placed(node, pos, substitutions):
    # The template's nodes at `pos`, its placeholders replaced by the user's nodes. A lambda
    # holds its parts outside its child attributes until its function is made.
    for attr, value in list(vars(node).items()):
        items = value if isinstance(value, list) else [value]
        if not any(isinstance(item, Nodes.Node) for item in items):
            continue
        replaced = []
        for child in items:
            placeholder = child.expr if isinstance(child, Nodes.ExprStatNode) else child
            if isinstance(placeholder, ExprNodes.NameNode) and placeholder.name in substitutions:
                child = substitutions[placeholder.name]
            elif isinstance(child, Nodes.Node):
                child.pos = pos
                _placed(child, pos, substitutions)
            replaced.append(child)
        setattr(node, attr, replaced if isinstance(value, list) else replaced[0])
    return node


# What runs in the scope of type parameters in a class body reads the class's names through a
# cell that holds its namespace while the body runs and the class's `__dict__` afterwards:
# type.__new__ fills a "__classdictcell__" the namespace holds, as for CPython's own.
_NAMESPACE_CELL = "__classdictcell__ = __import__('types').CellType(_qvx_class_namespace)\n"


class _ClassNamespace(ExprNodes.AtomicExprNode):
    # The namespace of the class being made, as locals() gives it in the class body; a class
    # body that calls locals() itself reads all its names from the namespace and the globals,
    # which would hide the hidden function's variables from it.
    def __init__(self, pos, namespace):
        super().__init__(pos)
        self.namespace = namespace

    def infer_type(self, env):
        return self.namespace.type

    def analyse_types(self, env):
        self.type = self.namespace.type
        self.is_temp = False
        return self

    def may_be_none(self):
        return False

    def result(self):
        return self.namespace.result()

    def generate_result_code(self, code):
        pass


def _lowered(node, lowering, owner):
    # The statements that stand for the generic definition or alias `node`, in the body of the
    # class `owner` (or None).
    substitutions = {}
    if owner is not None and getattr(owner, "namespace_cell", None) is None:
        cell = parse_from_strings("type_params", _NAMESPACE_CELL).body
        _placed(cell, owner.pos, {"_qvx_class_namespace": _ClassNamespace(owner.pos, owner.dict)})
        cell.pos = owner.pos
        owner.namespace_cell = cell  # put first in its body once the body is lowered
    defaults = 0
    if lowering.kind == "type":
        substitutions["_qvx_alias_value"] = node.rhs
    else:
        for arg in getattr(node, "args", ()):
            if arg.default is not None:
                key = "_qvx_default_%d" % defaults
                substitutions[key] = arg.default
                arg.default = ExprNodes.NameNode(arg.default.pos, name=EncodedString(key))
                defaults += 1
        for at, decorator in enumerate(node.decorators or ()):
            substitutions["_qvx_decorator_%d" % at] = decorator.decorator
        substitutions["_qvx_definition"] = node
    text = _template(lowering, defaults, len(node.decorators or ()) if lowering.kind != "type"
                     else 0)
    stats = parse_from_strings("type_params", text).body.stats
    for stat in stats:
        stat.pos = node.pos
        _placed(stat, node.pos, substitutions)
    stats[0].type_parameter_scope = True
    _holding_for_class_cell(stats[-2])
    if lowering.kind != "type":
        node.decorators = None
    if lowering.kind == "class":
        body_start = stats.pop()
        body_start.rhs.enclosing = True  # not from the namespace, even where locals() is used
        node.bases = ExprNodes.binop_node(node.pos, "+", node.bases, ExprNodes.TupleNode(
            node.pos, args=[ExprNodes.NameNode(node.pos, name=EncodedString("_qvx_generic_base"))]))
        node.body = Nodes.StatListNode(node.pos, stats=[body_start, node.body])
    return Nodes.StatListNode(node.pos, stats=stats)


class _HeldForClassCell(ExprNodes.ProxyNode):
    # A generic method, as the hidden function gives it to the class body: one that reads the
    # class cell (zero-argument super(), `__class__`) is listed there with the methods that get
    # the cell when the class is made, as the class body lists those it makes itself.
    def generate_evaluation_code(self, code):
        super().generate_evaluation_code(code)
        cell = getattr(code.pyclass_stack[-1], "class_cell", None) if code.pyclass_stack else None
        if cell is not None and cell.is_active:
            code.put_error_if_neg(self.pos, "PyList_Append(%s, %s)" % (
                cell.result(), self.py_result()))


def _holding_for_class_cell(node):
    for child in subtree(node):
        for attr in child.child_attrs:
            value = getattr(child, attr, None)
            items = value if isinstance(value, list) else [value]
            items = [_HeldForClassCell(call.args[0])
                     if isinstance(call, ExprNodes.SimpleCallNode)
                     and isinstance(call.function, ExprNodes.NameNode)
                     and call.function.name == "_qvx_held_for_class_cell" else call
                     for call in items]
            setattr(child, attr, items if isinstance(value, list) else items[0])


def _not_listing_held_methods(generate):
    # Such a method is made in the hidden function, outside the class body's code (where
    # Cython would list it, and finds no class).
    def generate_cyfunction_code(self, code):
        method = self.def_node
        if code.pyclass_stack or not method.requires_classobj:
            return generate(self, code)
        method.requires_classobj = False
        try:
            return generate(self, code)
        finally:
            method.requires_classobj = True
    return generate_cyfunction_code


ExprNodes.PyCFunctionNode.generate_cyfunction_code = _not_listing_held_methods(
    ExprNodes.PyCFunctionNode.generate_cyfunction_code)


def _class_of_methods_in_hidden_scopes(inject_class):
    # A generic method's `__class__` is the class's, as if the hidden function around it were
    # not there: the method reads the class cell itself when it runs, after the class is made.
    def inject(self, node):
        stack = self.env_stack
        self.env_stack = [entry for entry in stack
                          if not getattr(entry[0], "type_parameter_scope", False)]
        try:
            return inject_class(self, node)
        finally:
            self.env_stack = stack
    return inject


ParseTreeTransforms.TransformBuiltinMethods._inject_class = _class_of_methods_in_hidden_scopes(
    ParseTreeTransforms.TransformBuiltinMethods._inject_class)


def _lowering_of(node, lowerings):
    if isinstance(node, (Nodes.DefNode, Nodes.PyClassDefNode)):
        name, kinds = node.name, ("def", "class")
    elif (isinstance(node, Nodes.SingleAssignmentNode)
          and isinstance(node.lhs, ExprNodes.NameNode)):
        name, kinds = node.lhs.name, ("type",)
    else:
        return None
    for lowering in lowerings.get(name, ()):
        if lowering.kind in kinds and lowering.lines[0] <= node.pos[1] <= lowering.lines[1]:
            return lowering
    return None


def _lower_within(node, lowerings, owner=None):
    # `owner` is the class whose body holds `node` directly.
    for attr in node.child_attrs:
        value = getattr(node, attr, None)
        items = value if isinstance(value, list) else [value]
        inner = (node if isinstance(node, Nodes.PyClassDefNode) and attr == "body"
                 else None if isinstance(node, Nodes.FuncDefNode) else owner)
        for at, child in enumerate(items):
            if not isinstance(child, Nodes.Node):
                continue
            _lower_within(child, lowerings, inner)
            lowering = _lowering_of(child, lowerings)
            if lowering is not None:
                items[at] = _lowered(child, lowering, inner if lowering.owner else None)
        if not isinstance(value, list):
            setattr(node, attr, items[0])
    if getattr(node, "namespace_cell", None) is not None:
        node.body = Nodes.StatListNode(node.pos, stats=[node.namespace_cell, node.body])


def _lower_type_parameters(tree):
    lowerings = getattr(tree.pos[0], "type_parameter_lowerings", None)
    if lowerings:
        _lower_within(tree, lowerings)
    return tree


stages_after_parsing.append(_lower_type_parameters)


def _qualifying_without_hidden_scopes(visit_function):
    # The hidden function adds nothing to the qualified names of what it makes (`Box.get`,
    # not `Box._qvx_get_type_params.<locals>.get`), as CPython's scope of type parameters adds
    # nothing to them.
    def visit(self, node):
        if getattr(node, "type_parameter_scope", False):
            self._super_visit_FuncDefNode(node)
            return node
        return visit_function(self, node)
    return visit


ParseTreeTransforms.CalculateQualifiedNamesTransform.visit_FuncDefNode = (
    _qualifying_without_hidden_scopes(
        ParseTreeTransforms.CalculateQualifiedNamesTransform.visit_FuncDefNode))


# Every compiled function has `__type_params__` (function_type_params.c), as Python's has:
# `functools.wraps` copies it, and a generic function's is set where the hidden function makes
# it. Applied only where the table of attributes reads as expected.
_function_attributes = "static PyGetSetDef __pyx_CyFunction_getsets[] = {\n"


def _function_type_params(lines):
    if lines.count(_function_attributes) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_function_attributes)
    lines[at + 1:at + 1] = ['    {"__type_params__", (getter)__Pyx_qvx_CyFunction_get_type_params, '
                            '(setter)__Pyx_qvx_CyFunction_set_type_params, 0, 0},\n']
    lines[at:at] = c_text("function_type_params.c").splitlines(keepends=True)
    return lines


fix_utility("CythonFunction.c", _function_type_params)


def _naming_the_version(cpython_refusal):
    # Before 3.12 CPython refuses the syntax too ("expected '('"): the refusal says what it is.
    def refusal(source):
        found = cpython_refusal(source)
        if found is None or sys.version_info >= (3, 12) or "SyntaxError" not in found:
            return found
        try:
            with open(source, encoding="utf-8") as file:
                uses_syntax = _may_use_syntax.search(file.read()) is not None
        except (OSError, UnicodeDecodeError):
            uses_syntax = False
        return found + (" (type parameters and `type` statements need Python 3.12)"
                        if uses_syntax else "")
    return refusal


refusals.cpython_refusal = _naming_the_version(refusals.cpython_refusal)
