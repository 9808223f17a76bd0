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
#   `-v` only its position, phase and cause are shown.
# quorvex writes this file to the build directory and runs it in place of "-m cython".
import os
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
_module_lookup = '    PyObject *imported_module = PyImport_GetModule(qualname);\n'
_none_is_missing = ('    if (imported_module == Py_None) { Py_DECREF(imported_module); '
                    'imported_module = NULL; }\n')


# A call of a compiled function counts as a Python frame does: on 3.12 and later against the
# thread state's Python recursion counter, before that with Py_EnterRecursiveCall (then the one
# counter of Python frames). The limited API reaches no thread state: a library counts its
# compiled calls per thread against the recursion limit. Compiled frames live on the C stack,
# not in the heap: a call that finds less than an eighth of its thread's stack (at most 128 KiB)
# left fails too, whatever the limit.
# The per-thread state lives in the product's own thread-local storage, which a program reaches
# without a call (the linker turns its accesses into offsets from the thread pointer): the stack's
# floor is looked up once per thread, a program looks up its thread state only in the outermost
# compiled call running on a thread (the thread state outlives every call made under it), and a
# library reads the recursion limit again only at every 16th level of depth and where the limit
# last read is reached, so a limit lowered while compiled calls run is seen within 16 levels.
_call_guard = r"""
#ifndef __Pyx_qvx_CALL_GUARD
#define __Pyx_qvx_CALL_GUARD
#if defined(_WIN32)
  #include <windows.h>
#elif defined(__linux__) || defined(__APPLE__)
  #include <pthread.h>
#endif
/* Code linked into an executable reaches its thread-local state at a fixed offset from the
   thread pointer; a library loaded later cannot count on room for that. */
#if defined(_MSC_VER)
  #define __Pyx_qvx_THREAD_LOCAL __declspec(thread)
#elif defined(__ELF__) && defined(CYTHON_NO_PYINIT_EXPORT) && CYTHON_NO_PYINIT_EXPORT
  #define __Pyx_qvx_THREAD_LOCAL __thread __attribute__((tls_model("initial-exec")))
  #define __Pyx_qvx_FIXED_TLS 1
#else
  #define __Pyx_qvx_THREAD_LOCAL __thread
#endif
#ifndef __Pyx_qvx_FIXED_TLS
  #define __Pyx_qvx_FIXED_TLS 0
#endif
/* One state per thread for all the modules of a product, which count the same calls: a weak
   definition in each, which the linker merges, hidden from other products. */
#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
  #define __Pyx_qvx_STATE_LINKAGE __attribute__((weak, visibility("hidden")))
#else
  #define __Pyx_qvx_STATE_LINKAGE static
#endif
#if CYTHON_COMPILING_IN_LIMITED_API || PY_VERSION_HEX >= 0x030F0000
  #define __Pyx_qvx_OWN_DEPTH 1
#else
  #define __Pyx_qvx_OWN_DEPTH 0
#endif
#define __Pyx_qvx_STACK_UNKNOWN ((char *)-1)
#define __Pyx_qvx_LIMIT_STRIDE 16
/* Per thread: its stack's lowest address and the floor below which calls fail (the floor is
   STACK_UNKNOWN until looked up, NULL where the stack cannot be known); the number of compiled
   calls running; with an own count, the recursion limit as last read; else the thread state
   that those calls run under, looked up by the outermost one. */
typedef struct {
    char *floor;
    char *low;
    int depth;
#if __Pyx_qvx_OWN_DEPTH
    int limit;
#elif PY_VERSION_HEX >= 0x030C0000
    PyThreadState *tstate;
#endif
} __Pyx_qvx_CallState;
__Pyx_qvx_STATE_LINKAGE __Pyx_qvx_THREAD_LOCAL __Pyx_qvx_CallState __pyx_qvx_call_state = {
    __Pyx_qvx_STACK_UNKNOWN, NULL, 0
#if __Pyx_qvx_OWN_DEPTH
    , 0
#elif PY_VERSION_HEX >= 0x030C0000
    , NULL
#endif
};
/* What a call's end needs of its start. */
typedef struct {
#if __Pyx_qvx_OWN_DEPTH
    __Pyx_qvx_CallState *state;
#elif PY_VERSION_HEX >= 0x030C0000
    PyThreadState *tstate;
#else
    int unused;
#endif
} __Pyx_qvx_Call;

static CYTHON_SMALL_CODE void __Pyx_qvx_FindStack(__Pyx_qvx_CallState *state) {
    char *low = NULL;
    size_t size = 0;
#if defined(_WIN32) && defined(_WIN32_WINNT) && _WIN32_WINNT >= 0x0602
    ULONG_PTR lowest, highest;
    GetCurrentThreadStackLimits(&lowest, &highest);
    low = (char *)lowest;
    size = (size_t)(highest - lowest);
#elif defined(__APPLE__)
    pthread_t self = pthread_self();
    size = pthread_get_stacksize_np(self);
    low = (char *)pthread_get_stackaddr_np(self) - size;
#elif defined(__linux__)
    pthread_attr_t attributes;
    void *address;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        if (pthread_attr_getstack(&attributes, &address, &size) != 0)
            size = 0;
        low = (char *)address;
        pthread_attr_destroy(&attributes);
    }
#endif
    state->low = low;
    state->floor = NULL;
    if (low != NULL && size != 0)
        state->floor = low + (size / 8 < 128 * 1024 ? size / 8 : 128 * 1024);
}

static CYTHON_SMALL_CODE int __Pyx_qvx_TooDeep(const char *message) {
    PyErr_SetString(PyExc_RecursionError, message);
    return -1;
}

/* Below the floor, or not looked up yet. A position outside the thread's stack is on an
   alternate stack, which is not watched. */
static CYTHON_SMALL_CODE int __Pyx_qvx_CheckStack(__Pyx_qvx_CallState *state, char *position) {
    if (state->floor == __Pyx_qvx_STACK_UNKNOWN)
        __Pyx_qvx_FindStack(state);
    if (position < state->floor && position >= state->low)
        return __Pyx_qvx_TooDeep(
            "maximum recursion depth exceeded (the thread's stack is nearly full)");
    return 0;
}

#if __Pyx_qvx_OWN_DEPTH
/* The depth reached the limit as last read, or a multiple of the stride: the limit is read
   again. */
static CYTHON_SMALL_CODE int __Pyx_qvx_CheckLimit(__Pyx_qvx_CallState *state) {
    state->limit = Py_GetRecursionLimit();
    if (state->depth >= state->limit)
        return __Pyx_qvx_TooDeep("maximum recursion depth exceeded");
    return 0;
}
#elif PY_VERSION_HEX >= 0x030C0000
/* The Python frame counter ran out: as CPython's own check, with its headroom for the
   handling of the error. */
static CYTHON_SMALL_CODE int __Pyx_qvx_CheckPythonDepth(PyThreadState *tstate) {
    if (tstate->recursion_headroom) {
        if (tstate->py_recursion_remaining < -50)
            Py_FatalError("Cannot recover from Python stack overflow.");
        return 0;
    }
    tstate->recursion_headroom++;
    PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded");
    tstate->recursion_headroom--;
    ++tstate->py_recursion_remaining;
    return -1;
}
#endif

static CYTHON_INLINE int __Pyx_qvx_EnterCall(__Pyx_qvx_Call *call) {
    __Pyx_qvx_CallState *state = &__pyx_qvx_call_state;
    char here;
#if defined(__GNUC__) && !__Pyx_qvx_FIXED_TLS
    /* One look-up of the thread's block (a call in a library): the compiler would repeat it. */
    __asm__("" : "+r"(state));
#endif
    if (unlikely(&here < state->floor) && __Pyx_qvx_CheckStack(state, &here) < 0)
        return -1;
#if __Pyx_qvx_OWN_DEPTH
    if (unlikely(state->depth >= state->limit || state->depth % __Pyx_qvx_LIMIT_STRIDE == 0)
            && __Pyx_qvx_CheckLimit(state) < 0)
        return -1;
    state->depth++;
    call->state = state;
#elif PY_VERSION_HEX >= 0x030C0000
    if (unlikely(state->depth == 0))
        state->tstate = __Pyx_PyThreadState_Current;
    call->tstate = state->tstate;
    if (unlikely(call->tstate->py_recursion_remaining-- <= 0)
            && __Pyx_qvx_CheckPythonDepth(call->tstate) < 0)
        return -1;
    state->depth++;
#else
    (void)call;
    if (Py_EnterRecursiveCall(""))
        return -1;
#endif
    return 0;
}

static CYTHON_INLINE void __Pyx_qvx_LeaveCall(__Pyx_qvx_Call *call) {
#if __Pyx_qvx_OWN_DEPTH
    call->state->depth--;
#elif PY_VERSION_HEX >= 0x030C0000
    call->tstate->py_recursion_remaining++;
    __pyx_qvx_call_state.depth--;
#else
    (void)call;
    Py_LeaveRecursiveCall();
#endif
}
#endif
"""
_guarded_call = """\
    {
        __Pyx_qvx_Call __pyx_qvx_call;
        PyObject *__pyx_qvx_result;
        if (unlikely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) < 0)) return NULL;
        __pyx_qvx_result = @;
        __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        return __pyx_qvx_result;
    }
"""
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
        lines[at:at + 1] = _guarded_call.replace('@', expression).splitlines(keepends=True)
    # The tp_call entry keeps its body under another name, called by a guarded entry.
    unguarded = _call_method.replace('CallMethod(', 'CallMethod_unguarded(')
    at = lines.index(_call_method)
    lines[at] = unguarded
    call = '__Pyx_CyFunction_CallMethod_unguarded(func, self, arg, kw)'
    entry = (_call_guard + unguarded.replace('{', ';') + _call_method
             + _guarded_call.replace('@', call) + '}\n')
    lines[at:at] = entry.splitlines(keepends=True)
    return lines


_send = ('static\n', '__Pyx_PySendResult __Pyx_Coroutine_SendEx(__pyx_CoroutineObject *self, '
         'PyObject *value, PyObject **result, int closing) {\n')
_run_body = '    retval = self->body(self, tstate, value);\n'
# A generator or coroutine whose body could not start is finished, as CPython's is whose frame
# could not start.
_guarded_body = """\
    {
        __Pyx_qvx_Call __pyx_qvx_call;
        if (likely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) == 0)) {
            retval = self->body(self, tstate, value);
            __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        } else {
            retval = NULL;
            self->resume_label = -1;
        }
    }
"""


# A generator that delegates with `yield from` is resumed with its delegate, as CPython resumes
# its frame, which then resumes the delegate's: Cython hands the value on without entering the
# delegating body, so each generator of a chain of delegations counts as it is passed. A
# delegation that finds no room leaves its error to the delegating body, whose own check then
# finishes the generator.
_delegate_send = '    delegate_result = gen_am_send(gen->yieldfrom, value, &ret);\n'
_guarded_delegate_send = """\
    {
        __Pyx_qvx_Call __pyx_qvx_call;
        if (likely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) == 0)) {
            delegate_result = gen_am_send(gen->yieldfrom, value, &ret);
            __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        } else {
            delegate_result = PYGEN_ERROR;
        }
    }
"""
# Delegates without an am_send slot (iterators, and every delegate before Python 3.10) are
# resumed in the `if (gen->yieldfrom)` branch of these two.
_delegating_entries = [
    'static PyObject *__Pyx_Generator_Next(PyObject *self) {\n',
    '__Pyx_Coroutine_AmSend(PyObject *self, PyObject *value, PyObject **retval) {\n',
]
_delegate_result = '        PyObject *ret;\n'
_delegate_resumed = '        if (likely(ret)) {\n'
_enter_delegate = """\
        __Pyx_qvx_Call __pyx_qvx_call;
        if (unlikely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) < 0)) {
            ret = NULL;
        } else {
"""
_leave_delegate = """\
        __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        }
"""


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
# calls went on using the defaults compiled into the function's argument parsing. Once they
# are assigned, a call first supplies every missing argument from them (and raises Python's
# TypeError for one that has none), so that the compiled defaults are never reached. Until
# then nothing changes: a program's function gets another vectorcall entry only when its
# defaults are assigned; a call through tp_call tests a flag. Such calls are frequent (pyparsing
# assigns __kwdefaults__ to the functions of its old names): the missing arguments are bound
# into room on the C stack and passed to the function's own entry, the parameters are read from
# the code object's fields (through the limited API, from its attributes once, then from spare
# bits of the function's flags), and a new tuple of keyword names is made only where keywords
# are added.
_assigned_defaults_declarations = r"""
#define __Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS 0x40000000
static CYTHON_SMALL_CODE int __Pyx_qvx_AssignDefaults(
    __pyx_CyFunctionObject *op, PyObject *op_in, PyObject **slot, PyObject *value);
static CYTHON_SMALL_CODE int __Pyx_qvx_BindCallDefaults(
    PyObject *func, PyObject *args, PyObject *kw, PyObject **bound_args, PyObject **bound_kw);

"""
_assigned_defaults = r"""
/* What binding needs of a function's parameters: their counts, whether the function takes
   *args and **kwargs, and their names (first among the code object's names). */
typedef struct {
    Py_ssize_t argcount, posonly, kwonly;
    int varargs, varkw;
    PyObject *code;
    PyObject *names;  /* borrowed where the code object's fields are at hand, else read when
                         first needed (a new reference) */
} __Pyx_qvx_Parameters;

/* Room on the C stack for a call's arguments and the names of the keywords it adds: enough for
   most calls, which then allocate nothing. */
#define __Pyx_qvx_ROOM 24

/* A call with the arguments that it missed supplied from the function's defaults. */
typedef struct {
    PyObject **stack;  /* the positional arguments, then the values of the keywords */
    Py_ssize_t nargs;
    PyObject *kwnames;
    PyObject *defaults, *kwdefaults;  /* held: the defaults on the stack stay alive */
    PyObject *room[__Pyx_qvx_ROOM];  /* the stack, when it fits */
} __Pyx_qvx_BoundCall;

static CYTHON_SMALL_CODE void __Pyx_qvx_ReleaseBoundCall(__Pyx_qvx_BoundCall *call) {
    if (call->stack != call->room) PyMem_Free(call->stack);
    Py_XDECREF(call->kwnames);
    Py_XDECREF(call->defaults);
    Py_XDECREF(call->kwdefaults);
}

#if CYTHON_COMPILING_IN_CPYTHON && !CYTHON_COMPILING_IN_LIMITED_API && PY_VERSION_HEX >= 0x030B0000
  #define __Pyx_qvx_CODE_FIELDS 1
#else
  #define __Pyx_qvx_CODE_FIELDS 0
#endif

#if __Pyx_qvx_CODE_FIELDS
static CYTHON_INLINE int __Pyx_qvx_GetParameters(__pyx_CyFunctionObject *op, PyObject *code,
                                                 __Pyx_qvx_Parameters *p) {
    PyCodeObject *fields = (PyCodeObject *)code;
    (void)op;
    p->argcount = fields->co_argcount;
    p->posonly = fields->co_posonlyargcount;
    p->kwonly = fields->co_kwonlyargcount;
    p->varargs = (fields->co_flags & CO_VARARGS) != 0;
    p->varkw = (fields->co_flags & CO_VARKEYWORDS) != 0;
    p->code = code;
    /* The parameters come first among the locals, as in co_varnames. */
    p->names = fields->co_localsplusnames;
    return 0;
}

#define __Pyx_qvx_Names(p) ((p)->names)
#define __Pyx_qvx_ReleaseParameters(p) ((void)(p))
#else
/* Read through attributes, the counts are kept in the function's flags once read: the
   argument count, the positional-only and the keyword-only counts in 7 bits each, then
   whether it takes **kwargs and *args, and that they are known (below the flag of defaults
   assigned, above Cython's own flags). */
#define __Pyx_qvx_SHAPE_SHIFT 6
#define __Pyx_qvx_SHAPE_BITS 7
#define __Pyx_qvx_SHAPE_MAX ((1 << __Pyx_qvx_SHAPE_BITS) - 1)
#define __Pyx_qvx_SHAPE_VARKW 0x08000000
#define __Pyx_qvx_SHAPE_VARARGS 0x10000000
#define __Pyx_qvx_SHAPE_KNOWN 0x20000000
#define __Pyx_qvx_SHAPE_COUNT(flags, index) \
    (((flags) >> (__Pyx_qvx_SHAPE_SHIFT + (index) * __Pyx_qvx_SHAPE_BITS)) & __Pyx_qvx_SHAPE_MAX)

/* A code object's count `name`, or -1 with an exception. */
static CYTHON_SMALL_CODE Py_ssize_t __Pyx_qvx_CodeCount(PyObject *code, const char *name) {
    Py_ssize_t count;
    PyObject *value = PyObject_GetAttrString(code, name);
    if (unlikely(!value)) return -1;
    count = PyLong_AsSsize_t(value);
    Py_DECREF(value);
    return count;
}

static CYTHON_SMALL_CODE int __Pyx_qvx_GetParameters(__pyx_CyFunctionObject *op, PyObject *code,
                                                     __Pyx_qvx_Parameters *p) {
    int flags = op->flags;
    Py_ssize_t code_flags;
    p->code = code;
    p->names = NULL;
    if (likely(flags & __Pyx_qvx_SHAPE_KNOWN)) {
        p->argcount = __Pyx_qvx_SHAPE_COUNT(flags, 0);
        p->posonly = __Pyx_qvx_SHAPE_COUNT(flags, 1);
        p->kwonly = __Pyx_qvx_SHAPE_COUNT(flags, 2);
        p->varargs = (flags & __Pyx_qvx_SHAPE_VARARGS) != 0;
        p->varkw = (flags & __Pyx_qvx_SHAPE_VARKW) != 0;
        return 0;
    }
    if ((p->argcount = __Pyx_qvx_CodeCount(code, "co_argcount")) < 0
            || (p->posonly = __Pyx_qvx_CodeCount(code, "co_posonlyargcount")) < 0
            || (p->kwonly = __Pyx_qvx_CodeCount(code, "co_kwonlyargcount")) < 0
            || (code_flags = __Pyx_qvx_CodeCount(code, "co_flags")) < 0)
        return -1;
    p->varargs = (code_flags & 0x04) != 0;  /* CO_VARARGS */
    p->varkw = (code_flags & 0x08) != 0;  /* CO_VARKEYWORDS */
    /* A function of very many parameters reads them at every call. */
    if (p->argcount <= __Pyx_qvx_SHAPE_MAX && p->kwonly <= __Pyx_qvx_SHAPE_MAX)
        op->flags |= __Pyx_qvx_SHAPE_KNOWN
            | (p->varargs ? __Pyx_qvx_SHAPE_VARARGS : 0) | (p->varkw ? __Pyx_qvx_SHAPE_VARKW : 0)
            | (int)(p->argcount << __Pyx_qvx_SHAPE_SHIFT)
            | (int)(p->posonly << (__Pyx_qvx_SHAPE_SHIFT + __Pyx_qvx_SHAPE_BITS))
            | (int)(p->kwonly << (__Pyx_qvx_SHAPE_SHIFT + 2 * __Pyx_qvx_SHAPE_BITS));
    return 0;
}

/* The parameters' names, or NULL with an exception. */
static CYTHON_SMALL_CODE PyObject *__Pyx_qvx_Names(__Pyx_qvx_Parameters *p) {
    if (!p->names) p->names = PyObject_GetAttrString(p->code, "co_varnames");
    return p->names;
}

#define __Pyx_qvx_ReleaseParameters(p) Py_XDECREF((p)->names)
#endif

/* Whether `name` is among the call's keywords; the same string first, as CPython looks. */
static CYTHON_INLINE int __Pyx_qvx_Named(PyObject *kwnames, Py_ssize_t nkw, PyObject *name) {
    Py_ssize_t at;
    for (at = 0; at < nkw; at++)
        if (__Pyx_PyTuple_GET_ITEM(kwnames, at) == name) return 1;
    for (at = 0; at < nkw; at++) {
        int same = PyObject_RichCompareBool(__Pyx_PyTuple_GET_ITEM(kwnames, at), name, Py_EQ);
        if (same) return same;
    }
    return 0;
}

/* Whether some parameter that may be named takes the keyword `key`. */
static CYTHON_SMALL_CODE int __Pyx_qvx_Takes(__Pyx_qvx_Parameters *p, PyObject *names,
                                             PyObject *key) {
    Py_ssize_t at;
    for (at = p->posonly; at < p->argcount + p->kwonly; at++)
        if (__Pyx_PyTuple_GET_ITEM(names, at) == key) return 1;
    for (at = p->posonly; at < p->argcount + p->kwonly; at++) {
        int same = PyObject_RichCompareBool(key, __Pyx_PyTuple_GET_ITEM(names, at), Py_EQ);
        if (same) return same;
    }
    return 0;
}

/* CPython's TypeError for missing arguments: "f() missing 2 required positional arguments:
   'a' and 'b'" ("'a', 'b', and 'c'" for three). */
static CYTHON_SMALL_CODE void __Pyx_qvx_RaiseMissing(PyObject *func, PyObject *missing,
                                                     const char *kind) {
    Py_ssize_t count = PyList_Size(missing), at;
    PyObject *listed = NULL, *tail, *head, *separator;
    for (at = 0; at < count; at++) {
        PyObject *quoted = PyObject_Repr(PyList_GetItem(missing, at));
        if (unlikely(!quoted) || unlikely(PyList_SetItem(missing, at, quoted) < 0)) return;
    }
    if (count == 1) {
        listed = PyList_GetItem(missing, 0);
        Py_XINCREF(listed);
    } else if (count == 2) {
        listed = PyUnicode_FromFormat("%U and %U", PyList_GetItem(missing, 0),
                                      PyList_GetItem(missing, 1));
    } else {
        tail = PyUnicode_FromFormat(", %U, and %U", PyList_GetItem(missing, count - 2),
                                    PyList_GetItem(missing, count - 1));
        head = PyList_GetSlice(missing, 0, count - 2);
        separator = PyUnicode_FromString(", ");
        if (tail && head && separator) {
            PyObject *joined = PyUnicode_Join(separator, head);
            if (joined) listed = PyUnicode_Concat(joined, tail);
            Py_XDECREF(joined);
        }
        Py_XDECREF(head);
        Py_XDECREF(separator);
        Py_XDECREF(tail);
    }
    if (listed)
        PyErr_Format(PyExc_TypeError, "%U() missing %zd required %s argument%s: %U",
                     __Pyx_as_CyFunctionObject(func)->func_qualname, count, kind,
                     count == 1 ? "" : "s", listed);
    Py_XDECREF(listed);
}

/* Notes `name` as missing, or raises the error for the missing names of one kind. */
static CYTHON_SMALL_CODE int __Pyx_qvx_NoteMissing(PyObject **missing, PyObject *name) {
    if (!*missing && unlikely(!(*missing = PyList_New(0)))) return -1;
    return PyList_Append(*missing, name);
}

static CYTHON_SMALL_CODE int __Pyx_qvx_ReportMissing(PyObject *func, PyObject *missing,
                                                     const char *kind) {
    if (!missing || !PyList_Size(missing)) return 0;
    __Pyx_qvx_RaiseMissing(func, missing, kind);
    return -1;
}

/* Binds a vectorcall's arguments to the function's parameters as CPython does, supplying what
   is missing from __defaults__ and __kwdefaults__: 1 with the call to make in `call`, 0 when
   nothing is missing or the function's own parsing is to report the call's fault, -1 with an
   exception. The parameters after those given by position take their defaults by position up
   to the first one named or without a default; those after it, and the keyword-only ones,
   take theirs by keyword. */
static CYTHON_SMALL_CODE int __Pyx_qvx_BindDefaults(PyObject *func, PyObject *const *args,
                                                    Py_ssize_t nargs, PyObject *kwnames,
                                                    __Pyx_qvx_BoundCall *call) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(func);
    PyObject *code = op->func_code;
    PyObject *missing = NULL, *names = NULL, **added_names, **kwvalues;
    __Pyx_qvx_Parameters p;
    Py_ssize_t nkw = 0, first_default, at, npos, nadded = 0, positions, needed;
    int status = -1;
    call->stack = NULL;
    call->kwnames = call->defaults = call->kwdefaults = NULL;
    if (unlikely(!code)) return 0;
    if (kwnames && unlikely((nkw = __Pyx_PyTuple_GET_SIZE(kwnames)) < 0)) return -1;
    if (unlikely(__Pyx_qvx_GetParameters(op, code, &p) < 0)) return -1;
    /* Too many positional arguments (no *args) or nothing missing. */
    if ((nargs > p.argcount && !p.varargs) || (nargs >= p.argcount && !p.kwonly)) {
        status = 0;
        goto done;
    }
    if (nkw || p.kwonly) {
        if (unlikely(!(names = __Pyx_qvx_Names(&p)))) goto done;
    }
    /* A keyword that no parameter takes (no **kwargs) is reported first. */
    for (at = 0; at < nkw && !p.varkw; at++) {
        int known = __Pyx_qvx_Takes(&p, names, __Pyx_PyTuple_GET_ITEM(kwnames, at));
        if (known <= 0) {
            status = known;
            goto done;
        }
    }
    call->defaults = __Pyx_CyFunction_get_defaults(func, NULL);
    call->kwdefaults = __Pyx_CyFunction_get_kwdefaults(func, NULL);
    if (unlikely(!call->defaults || !call->kwdefaults)) goto done;
    first_default = p.argcount;
    if (call->defaults != Py_None) {
        Py_ssize_t count = __Pyx_PyTuple_GET_SIZE(call->defaults);
        if (unlikely(count < 0)) goto done;
        first_default -= count;
    }
    /* The positional arguments, the values of the keywords given and added, then the names of
       those added. */
    positions = nargs > p.argcount ? nargs : p.argcount;
    needed = positions + nkw + 2 * (p.argcount + p.kwonly);
    call->stack = call->room;
    if (needed > __Pyx_qvx_ROOM) {
        call->stack = (PyObject **)PyMem_Malloc((size_t)needed * sizeof(PyObject *));
        if (unlikely(!call->stack)) {
            PyErr_NoMemory();
            goto done;
        }
    }
    added_names = call->stack + positions + nkw + p.argcount + p.kwonly;
    for (at = 0; at < nargs; at++) call->stack[at] = args[at];
    /* A positional-only name among the keywords belongs to **kwargs. */
    for (npos = nargs; npos < p.argcount && npos >= first_default; npos++) {
        if (nkw && npos >= p.posonly) {
            int given = __Pyx_qvx_Named(kwnames, nkw, __Pyx_PyTuple_GET_ITEM(names, npos));
            if (unlikely(given < 0)) goto done;
            if (given) break;
        }
        call->stack[npos] = __Pyx_PyTuple_GET_ITEM(call->defaults, npos - first_default);
    }
    kwvalues = call->stack + npos + nkw;
    for (at = npos; at < p.argcount; at++) {
        PyObject *name;
        int given;
        if (!names && unlikely(!(names = __Pyx_qvx_Names(&p)))) goto done;
        name = __Pyx_PyTuple_GET_ITEM(names, at);
        given = nkw && at >= p.posonly ? __Pyx_qvx_Named(kwnames, nkw, name) : 0;
        if (unlikely(given < 0)) goto done;
        if (given) continue;
        if (at < first_default) {
            if (unlikely(__Pyx_qvx_NoteMissing(&missing, name) < 0)) goto done;
        } else {
            added_names[nadded] = name;
            kwvalues[nadded++] = __Pyx_PyTuple_GET_ITEM(call->defaults, at - first_default);
        }
    }
    if (unlikely(missing) && __Pyx_qvx_ReportMissing(func, missing, "positional") < 0)
        goto done;
    for (at = p.argcount; at < p.argcount + p.kwonly; at++) {
        PyObject *name = __Pyx_PyTuple_GET_ITEM(names, at), *value = NULL;
        int given = __Pyx_qvx_Named(kwnames, nkw, name);
        if (unlikely(given < 0)) goto done;
        if (given) continue;
        if (call->kwdefaults != Py_None) {
            value = PyDict_GetItemWithError(call->kwdefaults, name);
            if (unlikely(!value && PyErr_Occurred())) goto done;
        }
        if (value) {
            added_names[nadded] = name;
            kwvalues[nadded++] = value;
        } else if (unlikely(__Pyx_qvx_NoteMissing(&missing, name) < 0)) {
            goto done;
        }
    }
    if (unlikely(missing) && __Pyx_qvx_ReportMissing(func, missing, "keyword-only") < 0)
        goto done;
    status = 0;
    if (npos == nargs && !nadded) goto done;
    for (at = 0; at < nkw; at++) call->stack[npos + at] = args[nargs + at];
    call->nargs = npos;
    if (nadded) {
        if (unlikely(!(call->kwnames = PyTuple_New(nkw + nadded)))) goto failed;
        for (at = 0; at < nkw + nadded; at++) {
            PyObject *name = at < nkw ? __Pyx_PyTuple_GET_ITEM(kwnames, at)
                                      : added_names[at - nkw];
            Py_INCREF(name);
            if (unlikely(__Pyx_PyTuple_SET_ITEM(call->kwnames, at, name) < 0)) goto failed;
        }
    } else {
        Py_XINCREF(kwnames);
        call->kwnames = kwnames;
    }
    status = 1;
    goto done;
failed:
    status = -1;
done:
    __Pyx_qvx_ReleaseParameters(&p);
    Py_XDECREF(missing);
    if (status != 1) __Pyx_qvx_ReleaseBoundCall(call);
    return status;
}

/* The same for a call by tuple and dict: 1 with new references in `bound_args` and
   `bound_kw` (NULL or a dict); those given are passed on where nothing is added to them. */
static CYTHON_SMALL_CODE int __Pyx_qvx_BindCallDefaults(
    PyObject *func, PyObject *args, PyObject *kw, PyObject **bound_args, PyObject **bound_kw) {
    Py_ssize_t nargs = __Pyx_PyTuple_GET_SIZE(args), nkw = kw ? PyDict_Size(kw) : 0, at;
    Py_ssize_t position = 0, nbound;
    PyObject *room[__Pyx_qvx_ROOM], **items = room, *kwnames = NULL, *key, *value;
    __Pyx_qvx_BoundCall call;
    int status = -1;
    if (unlikely(nargs < 0 || nkw < 0)) return -1;
    if (nargs + nkw > __Pyx_qvx_ROOM) {
        items = (PyObject **)PyMem_Malloc((size_t)(nargs + nkw) * sizeof(PyObject *));
        if (unlikely(!items)) {
            PyErr_NoMemory();
            return -1;
        }
    }
    for (at = 0; at < nargs; at++) items[at] = __Pyx_PyTuple_GET_ITEM(args, at);
    if (nkw) {
        if (unlikely(!(kwnames = PyTuple_New(nkw)))) goto done;
        for (at = 0; PyDict_Next(kw, &position, &key, &value); at++) {
            Py_INCREF(key);
            if (unlikely(PyTuple_SetItem(kwnames, at, key) < 0)) goto done;
            items[nargs + at] = value;
        }
    }
    status = __Pyx_qvx_BindDefaults(func, items, nargs, kwnames, &call);
    if (status == 1) {
        nbound = call.kwnames ? __Pyx_PyTuple_GET_SIZE(call.kwnames) : 0;
        if (call.nargs == nargs) {
            Py_INCREF(args);
            *bound_args = args;
        } else if ((*bound_args = PyTuple_New(call.nargs))) {
            for (at = 0; status == 1 && at < call.nargs; at++) {
                Py_INCREF(call.stack[at]);
                if (unlikely(PyTuple_SetItem(*bound_args, at, call.stack[at]) < 0)) status = -1;
            }
        } else {
            status = -1;
        }
        *bound_kw = NULL;
        if (nbound == nkw) {
            Py_XINCREF(kw);
            *bound_kw = kw;
        } else if (status == 1 && !(*bound_kw = kw ? PyDict_Copy(kw) : PyDict_New())) {
            status = -1;
        }
        for (at = nkw; status == 1 && at < nbound; at++)
            if (unlikely(PyDict_SetItem(*bound_kw, __Pyx_PyTuple_GET_ITEM(call.kwnames, at),
                                        call.stack[call.nargs + at]) < 0))
                status = -1;
        if (status < 0) {
            Py_CLEAR(*bound_args);
            Py_CLEAR(*bound_kw);
        }
        __Pyx_qvx_ReleaseBoundCall(&call);
    }
done:
    if (items != room) PyMem_Free(items);
    Py_XDECREF(kwnames);
    return status;
}

#if CYTHON_VECTORCALL
/* The vectorcall entry that the function's kind of arguments gives it. */
static CYTHON_SMALL_CODE __pyx_vectorcallfunc __Pyx_qvx_GivenVectorcall(
    __pyx_CyFunctionObject *op) {
    switch (__Pyx_CyFunction_MethodDef(op)->ml_flags & (METH_VARARGS | METH_FASTCALL |
            METH_NOARGS | METH_O | METH_KEYWORDS | METH_METHOD)) {
    case METH_NOARGS:
        return __Pyx_CyFunction_Vectorcall_NOARGS;
    case METH_O:
        return __Pyx_CyFunction_Vectorcall_O;
    case METH_METHOD | METH_FASTCALL | METH_KEYWORDS:
        return __Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS_METHOD;
    case METH_FASTCALL | METH_KEYWORDS:
        return __Pyx_CyFunction_Vectorcall_FASTCALL_KEYWORDS;
    default:
        return NULL;
    }
}

/* The vectorcall entry of a function whose defaults were assigned. */
static CYTHON_SMALL_CODE PyObject *__Pyx_qvx_Vectorcall_AssignedDefaults(
    PyObject *func, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
    __pyx_vectorcallfunc given = __Pyx_qvx_GivenVectorcall(__Pyx_as_CyFunctionObject(func));
    __Pyx_qvx_BoundCall call;
    PyObject *result;
    int bound = __Pyx_qvx_BindDefaults(func, args, __Pyx_PyVectorcall_NARGS(nargsf), kwnames,
                                       &call);
    if (bound <= 0) return bound < 0 ? NULL : given(func, args, nargsf, kwnames);
    result = given(func, call.stack, (size_t)call.nargs, call.kwnames);
    __Pyx_qvx_ReleaseBoundCall(&call);
    return result;
}
#endif

/* Stores an assigned __defaults__ or __kwdefaults__ (a new reference) in `slot`; calls take
   their defaults from the function's attributes from then on. */
static CYTHON_SMALL_CODE int __Pyx_qvx_AssignDefaults(
    __pyx_CyFunctionObject *op, PyObject *op_in, PyObject **slot, PyObject *value) {
    /* Computed defaults are made both at once when first read: made now, reading one later
       cannot undo the other's assignment. */
    if (!op->defaults_tuple && !op->defaults_kwdict && op->defaults_getter
            && unlikely(__Pyx_CyFunction_init_defaults(op, op_in) < 0)) {
        Py_DECREF(value);
        return -1;
    }
    __Pyx_Py_XDECREF_SET(*slot, value);
#if CYTHON_VECTORCALL
    if (__Pyx_qvx_GivenVectorcall(op)) {
        __Pyx_CyFunction_func_vectorcall(op) = __Pyx_qvx_Vectorcall_AssignedDefaults;
        return 0;
    }
#endif
    op->flags |= __Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS;
    return 0;
}

"""
_through_tp_call = """\
    if (unlikely(cyfunc->flags & __Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS)) {
        PyObject *bound_args = NULL, *bound_kw = NULL;
        int bound = __Pyx_qvx_BindCallDefaults(func, args, kw, &bound_args, &bound_kw);
        if (bound < 0) return NULL;
        if (bound) {
            result = __Pyx_qvx_CallAsMethod_Bound(func, bound_args, bound_kw);
            Py_DECREF(bound_args);
            Py_XDECREF(bound_kw);
            return result;
        }
    }
"""
_set_defaults = """\
static int
__Pyx_CyFunction_set_{kind}defaults(PyObject *op_in, PyObject* value, void *context) {{
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    CYTHON_UNUSED_VAR(context);
    if (!value) {{
        // del => explicit None to prevent rebuilding
        value = Py_None;
    }} else if (unlikely(value != Py_None && !{check}(value))) {{
        PyErr_SetString(PyExc_TypeError,
                        "__{kind}defaults__ must be set to a {type} object");
        return -1;
    }}
    PyErr_WarnEx(PyExc_RuntimeWarning, "changes to cyfunction.__{kind}defaults__ will not "
                 "currently affect the values used in function calls", 1);
    Py_INCREF(value);
    __Pyx_BEGIN_CRITICAL_SECTION(op_in);
    __Pyx_Py_XDECREF_SET(op->{field}, value);
    __Pyx_END_CRITICAL_SECTION();
    return 0;
}}
"""
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
    setters = [_set_defaults.format(**kind) for kind in _set_defaults_kinds]
    if any(text.count(part) != 1 for part in setters + [_call_as_method, _function_slots]):
        return lines
    for setter, kind in zip(setters, _set_defaults_kinds):
        warning = setter[setter.index("    PyErr_WarnEx"):setter.index("    Py_INCREF(value)")]
        store = "    __Pyx_Py_XDECREF_SET(op->{field}, value);\n".format(**kind)
        fixed = setter.replace(warning, "").replace("    CYTHON_UNUSED_VAR(context);\n",
                                                    "    int stored;\n"
                                                    "    CYTHON_UNUSED_VAR(context);\n")
        assign = "    stored = __Pyx_qvx_AssignDefaults(op, op_in, &op->{field}, value);\n"
        fixed = fixed.replace(store, assign.format(**kind))
        fixed = fixed.replace("    return 0;\n}\n", "    return stored;\n}\n")
        text = text.replace(setter, fixed)
    first = text.index(_set_defaults.format(**_set_defaults_kinds[0]).split("(")[0])
    text = text[:first] + _assigned_defaults_declarations + text[first:]
    # The bound call goes on as Cython's tp_call does, through a copy without the test: the
    # arguments it passes miss nothing.
    start = text.index(_call_as_method)
    body = text[start:text.index("\n}\n", start) + len("\n}\n")]
    bound = body.replace("__Pyx_CyFunction_CallAsMethod(", "__Pyx_qvx_CallAsMethod_Bound(", 1)
    text = text.replace(_call_as_method, bound + _call_as_method + _through_tp_call)
    text = text.replace(_function_slots, _assigned_defaults + _function_slots)
    return text.splitlines(keepends=True)


# Cython read ObjectHandling.c while loading: dropped from its cache, it is read again through
# the hook.
getattr(Code.UtilityCodeBase, "_utility_cache", {}).pop("ObjectHandling.c", None)


def _read_utilities_fixed(path):
    lines = _read_utilities(path)
    if path == 'ImportExport.c' and _module_lookup in lines:
        at = lines.index(_module_lookup) + 1
        lines[at:at] = [_none_is_missing]
    if path == 'CythonFunction.c':
        lines = _honour_assigned_defaults(_guard_function_calls(lines))
    if path == 'Coroutine.c':
        lines = _guard_generator_bodies(lines)
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
