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
#   arguments stopped the build, where Python raises TypeError when the call runs.
import io
import re
import tokenize

from Cython.Compiler import (Builtin, Errors, ExprNodes, Main, Nodes, ParseTreeTransforms,
                             PyrexTypes)

from .common import in_python_source, stages_after_parsing, stages_before_analysis, subtree

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
    for node in subtree(tree):
        if isinstance(node, Nodes.SingleAssignmentNode):
            targets = [node.lhs]
        elif isinstance(node, Nodes.CascadedAssignmentNode):
            targets = node.lhs_list
        else:
            continue
        if any(_unpacking_fails(target, node.rhs) for target in targets):
            node.rhs = _AsObject(node.rhs)
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


def _parsing_consistent_indentation(parse):
    # Cython refuses any source indented with both tabs and spaces. A Python source that Python
    # reads so is parsed with its indentation in spaces (only the parser reads the change).
    def parse_source(self, source_desc, scope, pxd, full_module_name):
        if pxd or not source_desc.is_python_file():
            return parse(self, source_desc, scope, pxd, full_module_name)
        try:
            with source_desc.get_file_object() as file:
                encoding, text = file.encoding, file.read()
        except (OSError, UnicodeDecodeError):
            text = ""  # Cython reports it as it reads the file
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
