# What the corrections share: where Python's own sources are told from Cython's, walks over the
# tree, the stages they add to Cython's pipeline, and the C they put into Cython's utility code.
import os
import string

from Cython.Compiler import (Code, ExprNodes, Nodes, Optimize, ParseTreeTransforms, Pipeline,
                             PyrexTypes)


def in_python_source(node):
    # Cython's own utility code is Cython, where a C char is a character.
    return node.pos[0].is_python_file()


def child_nodes(node, skip=()):
    for attr in node.child_attrs:
        if attr in skip:
            continue
        value = getattr(node, attr, None)
        for child in value if isinstance(value, list) else [value]:
            if isinstance(child, Nodes.Node):
                yield child


class AsObject(ExprNodes.ProxyNode):
    # A value taken as a Python object whatever Cython knows of its type and length.
    def infer_type(self, env):
        return PyrexTypes.py_object_type

    def analyse_types(self, env):
        self.arg = self.arg.analyse_expressions(env).coerce_to_pyobject(env)
        self.update_type_and_entry()
        return self


def subtree(root):
    stack = [root]
    while stack:
        node = stack.pop()
        yield node
        stack.extend(child_nodes(node))


# Stages over a module's tree: those right after parsing run first, in the order added; those
# before the analysis of expressions run after the flow analysis, which keeps its facts on
# each name node, and before the expressions are analysed, which makes the temporaries. Those
# before the replacement of builtin calls run once the scopes are declared, before calls of
# builtins become other nodes.
stages_after_parsing = []
stages_before_analysis = []
stages_before_builtin_calls = []


def _with_added_stages(create_pipeline):
    def create(context, mode, exclude_classes=()):
        stages = create_pipeline(context, mode, exclude_classes)
        if mode == "pxd":
            return stages
        analysis = [at for at, stage in enumerate(stages)
                    if isinstance(stage, ParseTreeTransforms.AnalyseExpressionsTransform)]
        if analysis:
            stages[analysis[0]:analysis[0]] = stages_before_analysis
        builtin_calls = [at for at, stage in enumerate(stages)
                         if isinstance(stage, Optimize.EarlyReplaceBuiltinCalls)]
        if builtin_calls:
            stages[builtin_calls[0]:builtin_calls[0]] = stages_before_builtin_calls
        stages[0:0] = stages_after_parsing
        return stages
    return create


if hasattr(Pipeline, "create_pipeline"):
    Pipeline.create_pipeline = _with_added_stages(Pipeline.create_pipeline)

# The C of the corrections to Cython's utility code lives in the files of this directory, each
# opening with a comment on where it goes.
_c_directory = os.path.dirname(os.path.abspath(__file__))


def c_text(name):
    # The file's C after its opening comment.
    with open(os.path.join(_c_directory, name), encoding="utf-8") as file:
        text = file.read()
    return text[text.index("*/\n") + len("*/\n"):]


def c_template(name):
    # A file whose ${...} placeholders are filled where it is used.
    return string.Template(c_text(name))


# The corrections of each utility file, applied in the order added: each takes the file's lines
# and gives them back, changed only where they read exactly as it expects.
_utility_fixes = {}


def fix_utility(path, fix):
    _utility_fixes.setdefault(path, []).append(fix)


_read_utilities = Code.read_utilities_hook


def _read_utilities_fixed(path):
    lines = _read_utilities(path)
    for fix in _utility_fixes.get(path, ()):
        lines = fix(lines)
    return lines


Code.read_utilities_hook = _read_utilities_fixed

# Cython read ObjectHandling.c, ModuleSetupCode.c, Builtins.c, Optimize.c and StringTools.c
# while loading: dropped from its cache, they are read again through the hook.
for _read_early in ("ObjectHandling.c", "ModuleSetupCode.c", "Builtins.c", "Optimize.c",
                    "StringTools.c"):
    getattr(Code.UtilityCodeBase, "_utility_cache", {}).pop(_read_early, None)
