# Corrections of compiled functions, generators and loops where they depart from Python's at
# run time:
# - a compiled function called another without counting against the recursion limit, where a
#   Python function is a frame that counts: unbounded recursion overflowed the C stack and
#   killed the process (SIGSEGV). Each call, and each resumption of a generator's or coroutine's
#   body, now counts as a Python frame does, and one that finds its thread's stack nearly full
#   raises RecursionError as well; so does each generator of a chain of `yield from`
#   delegations that hands a value on, which Cython does without entering its body (such a
#   chain went on far past the limit, in time growing with the square of its length, and
#   overflowed a small stack);
# - compiled code never let the interpreter serve what waits for its bytecode loop's checks at
#   backward jumps and function starts: a thread waiting for the GIL starved, collections that
#   allocation scheduled never ran (cyclic garbage piled up), and Ctrl-C did not stop a loop.
#   Loop back-edges and compiled calls now count down to such a check;
# - assigning __defaults__ or __kwdefaults__ warned (RuntimeWarning) and changed nothing that
#   calls used: calls now take the assigned defaults;
# - a compiled function answered to Python 2's names of its attributes (`func_name`,
#   `func_code`, ...), which dir() listed and tools that list attributes showed;
# - a compiled function's code object held zeros for bytecode: running it (`exec(f.__code__)`)
#   crashed the process (SIGSEGV). It now runs the compiled function it belongs to with the
#   arguments it was given (a copy made by types.FunctionType runs as a Python function's copy
#   does), or raises TypeError naming the function where that is not known;
# - an async generator dropped before it started warned that a coroutine was never awaited;
# - isinstance() of a compiled function against types.FunctionType (or of a compiled generator,
#   coroutine or async generator against Python's type of it) was false: libraries that take
#   only Python's functions for functions (pydantic, unittest's loader) refused or misused them.
# - in a library, a generator or coroutine dropped unfinished was never finalized: a suspended
#   generator's finally blocks did not run, a coroutine never awaited was not warned of;
# - a nested function that Cython called through its C body (`def f(): return f()` in another
#   function) escaped the recursion limit: unbounded recursion of it ended by SIGSEGV;
# - `return` in a `try` whose `finally` breaks out of the loop around it released that loop's
#   temporaries first: the loop went on with them freed (SIGSEGV);
# - a coroutine never awaited was not warned of when dropped while an exception propagated
#   (`for x in coro()` raising TypeError), the warning cut its name at 50 characters, and
#   warnings._warn_unawaited_coroutine, through which CPython warns, was not called;
# - an exception thrown into a generator took as its context what the caller of throw() handled,
#   not what the generator handled where it stopped; a value sent to a generator not started
#   finished it; a finished generator's `__name__` and `__qualname__` were None; throw() given a
#   type and a value did not warn of that deprecated signature;
# - an exception group's split() and subgroup() refused a compiled function for a predicate
#   (TypeError), taking only Python's own functions: libraries pass compiled ones;
# - inspect's getgeneratorstate, getcoroutinestate and getasyncgenstate raised AttributeError
#   (no `gi_suspended`), and the frame they test for None was None in a library from the start
#   and never None in a program: anyio's task groups hung. They now answer as CPython's do;
# - a finished generator whose nested function had taken its closure scope kept every local
#   alive until the cyclic collector ran: the locals no nested function reads are now freed;
# - assigning a compiled function's __code__ raised AttributeError, and calls did not see the
#   dict of its __kwdefaults__ changed in place: networkx's decorators do both. The function now
#   runs an assigned code object as CPython does, and calls see such changes;
# - a parameter named `__x` of a function in a class body kept that name for calls, keyword
#   defaults and signatures, where Python's is `_Class__x`; in a class named with underscores
#   only, Cython mangled names that Python leaves as they are.
import sys

from Cython.Compiler import Code, ExprNodes, Naming, Nodes, PyrexTypes, Symtab, UtilNodes
from Cython.Compiler.StringEncoding import EncodedString

from .common import (c_template, c_text, child_nodes, fix_utility, in_python_source,
                     stages_after_parsing, stages_before_analysis, subtree)

# Compiled code has the interpreter serve the work that waits for it (pending_work.c) where
# CPython's bytecode loop would: each compiled call (below) and each back-edge of a loop count a
# step towards that check.
_pending_work = c_text("product_state.c") + c_text("pending_work.c")
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
_call_guard = _pending_work + c_text("call_guard.c")
_guarded_call = c_template("guarded_call.c")
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
_guarded_body = c_text("guarded_body.c")
_delegate_send = '    delegate_result = gen_am_send(gen->yieldfrom, value, &ret);\n'
_guarded_delegate_send = c_text("guarded_delegate_send.c")
# Delegates without an am_send slot (iterators, and every delegate before Python 3.10) are
# resumed in the `if (gen->yieldfrom)` branch of these two.
_delegating_entries = [
    'static PyObject *__Pyx_Generator_Next(PyObject *self) {\n',
    '__Pyx_Coroutine_AmSend(PyObject *self, PyObject *value, PyObject **retval) {\n',
]
_delegate_result = '        PyObject *ret;\n'
_delegate_resumed = '        if (likely(ret)) {\n'
_enter_delegate = c_text("enter_delegate.c")
_leave_delegate = c_text("leave_delegate.c")


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


# Assigned __defaults__ and __kwdefaults__ were kept for reading only, with a RuntimeWarning:
# calls went on using the defaults compiled into the function's argument parsing. Cython's
# setters give way to ones after which calls take the assigned defaults (assigned_defaults.c).
_assigned_defaults_declarations = c_text("assigned_defaults_declarations.c")
_assigned_defaults = c_text("assigned_defaults.c")
_through_tp_call = c_text("through_tp_call.c")
_cython_set_defaults = c_template("cython_set_defaults.c")
_set_defaults = c_template("set_defaults.c")
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
    if (any(text.count(part) != 1 for part in setters + [_call_as_method, _function_slots])
            or not _can_run_assigned_code(text)):
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
    return _running_assigned_code(text).splitlines(keepends=True)


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


# A compiled function's code object opens with bytecode that runs the compiled function it
# belongs to (running_code.c): Cython's constructor call goes through one that puts it in front,
# and each function made without a closure is noted as its code object's owner.
_code_object_function = 'static PyObject* __Pyx_PyCode_New(\n'
_code_object_call = '    code_obj = (PyObject*) __Pyx__PyCode_New(\n'
_compiled_body = c_text("compiled_body.c")
_running_code = c_template("running_code.c")
_function_init = 'static PyObject *__Pyx_CyFunction_Init(PyObject *op_in,\n'
_function_code_set = '    op->func_code = code;\n'
_note_owner = _compiled_body + c_text("owner_noted.c")
_owner_noted = '    if (!closure && code) __Pyx_qvx_NoteOwner(code, op_in);\n'


def _running_head():
    # What this Python compiles for `-''`, for the programs built with it; none where it loads
    # anything but the one constant, which the object that runs the body replaces.
    compiled = compile("-''", "<compiled code>", "eval")
    if (compiled.co_consts != ("",) or compiled.co_names or compiled.co_varnames
            or compiled.co_freevars or compiled.co_cellvars
            or getattr(compiled, "co_exceptiontable", b"")):
        return dict(version="0", bytecode="0", stacksize="0")
    return dict(version="0x%02X%02X" % sys.version_info[:2],
                bytecode=", ".join(str(byte) for byte in compiled.co_code),
                stacksize=str(compiled.co_stacksize))


def _running_code_objects(lines):
    # Applied only where ModuleSetupCode.c reads as expected: the constructor is declared, then
    # defined, and called once.
    if lines.count(_code_object_function) != 2 or lines.count(_code_object_call) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_code_object_call)
    lines[at] = '    code_obj = __Pyx_qvx_PyCode_New(\n'
    definition = [at for at, line in enumerate(lines) if line == _code_object_function][1]
    lines[definition:definition] = (
        _compiled_body + _running_code.substitute(_running_head())).splitlines(keepends=True)
    return lines


def _owners_noted(lines):
    if lines.count(_function_code_set) != 1 or lines.count(_function_init) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_function_code_set) + 1
    lines[at:at] = [_owner_noted]
    at = lines.index(_function_init)
    lines[at:at] = _note_owner.splitlines(keepends=True)
    return lines


# CPython warns of a coroutine never awaited, not of an async generator never started.
_warned_kinds = '    if (!__Pyx_Generator_CheckExact(self))\n'
_async_generator_unwarned = c_text("async_generator_unwarned.c")


def _async_generators_unwarned(lines):
    if lines.count(_warned_kinds) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_warned_kinds) + 2
    if lines[at - 1] != '#endif\n':
        return lines
    lines[at:at] = _async_generator_unwarned.splitlines(keepends=True)
    return lines


fix_utility("CythonFunction.c", _without_python2_attributes)
fix_utility("CythonFunction.c", _guard_function_calls)
fix_utility("CythonFunction.c", _honour_assigned_defaults)
fix_utility("Coroutine.c", _guard_generator_bodies)
fix_utility("Coroutine.c", _async_generators_unwarned)
fix_utility("ModuleSetupCode.c", _running_code_objects)
fix_utility("CythonFunction.c", _owners_noted)


# Cython's function, generator, coroutine and async generator types answer Python's type as their
# `__class__` (python_class.c), which isinstance() consults; type() still answers Cython's.
_python_class = c_text("python_class.c")
_python_classes = {
    "CythonFunction.c": [("static PyGetSetDef __pyx_CyFunction_getsets[] = {\n",
                          "FunctionType", "PyFunction_Type")],
    "Coroutine.c": [("static PyGetSetDef __pyx_Coroutine_getsets[] = {\n",
                     "CoroutineType", "PyCoro_Type"),
                    ("static PyGetSetDef __pyx_Generator_getsets[] = {\n",
                     "GeneratorType", "PyGen_Type")],
    "AsyncGen.c": [("static PyGetSetDef __Pyx_async_gen_getsetlist[] = {\n",
                    "AsyncGeneratorType", "PyAsyncGen_Type")],
}


def _answering_python_class(path):
    def fix(lines):
        tables = _python_classes[path]
        if any(lines.count(table) != 1 for table, _, _ in tables):
            return lines
        lines = list(lines)
        for table, name, python_type in tables:
            getter = "__Pyx_qvx_%s_class" % name
            at = lines.index(table)
            lines[at + 1:at + 1] = ['    {"__class__", %s, __Pyx_qvx_set_python_class, 0, 0},\n'
                                    % getter]
            prelude = (_python_class + '__Pyx_qvx_PYTHON_CLASS_GETTER(%s, "%s", %s)\n\n'
                       % (getter, name, python_type))
            lines[at:at] = prelude.splitlines(keepends=True)
        return lines
    return fix


for _path in _python_classes:
    fix_utility(_path, _answering_python_class(_path))


# In a library (the limited API) a generator or coroutine dropped unfinished was neither closed
# nor finalized: the finally blocks of a suspended generator never ran, and a coroutine never
# awaited was not warned of. Cython's finalizer now runs there too (finalize_in_libraries.c).
_finalizer_condition = "#if CYTHON_USE_TP_FINALIZE\n"
_finalizer_in_libraries = "#if CYTHON_USE_TP_FINALIZE || __Pyx_qvx_FINALIZE_IN_LIMITED_API\n"
_finalize_in_libraries = ("#define __Pyx_qvx_FINALIZE_IN_LIMITED_API "
                          "(CYTHON_COMPILING_IN_LIMITED_API && !defined(Py_GIL_DISABLED))\n")
_coroutine_dealloc = "static void __Pyx_Coroutine_dealloc(PyObject *self) {\n"
_call_finalizer = "        if (unlikely(PyObject_CallFinalizerFromDealloc(self)))\n"


def _finalized_in_libraries(lines):
    if lines.count(_coroutine_dealloc) != 1 or lines.count(_call_finalizer) != 1:
        return lines
    lines = [_finalizer_in_libraries if line == _finalizer_condition else line
             for line in lines]
    lines[lines.index(_call_finalizer)] = (
        "        if (unlikely(__Pyx_qvx_CallFinalizerFromDealloc(self)))\n")
    at = lines.index(_coroutine_dealloc)
    lines[at:at] = [_finalize_in_libraries] + c_text("finalize_in_libraries.c").splitlines(
        keepends=True)
    return lines


def _async_generators_finalized_in_libraries(lines):
    # The async generator's type has the finalizer too (the condition is defined in
    # Coroutine.c, which comes first).
    return [_finalizer_in_libraries if line == _finalizer_condition else line for line in lines]


fix_utility("Coroutine.c", _finalized_in_libraries)
fix_utility("AsyncGen.c", _async_generators_finalized_in_libraries)


# A nested function called where Cython knows it (`def f(): return f()` inside another) is
# called through its C body directly, past the guarded entries: unbounded recursion of it
# overflowed the C stack (SIGSEGV) where Python raises RecursionError. The direct call is
# guarded too (guarded_inlined_call.c).
# Met before Cython defines CYTHON_SMALL_CODE: the cold paths are marked as pending_work.c's are.
_call_guard_utility = Code.UtilityCode(
    name="QvxCallGuard",
    proto=_call_guard.replace("static CYTHON_SMALL_CODE", "static __Pyx_qvx_COLD"))
_guarded_inlined_call = c_template("guarded_inlined_call.c")


class _InlinedCallWriter:
    # Passes every line on to `code` but the call of the C body, which it guards.
    def __init__(self, code, call_start):
        self._code = code
        self._call_start = call_start

    def __getattr__(self, name):
        return getattr(self._code, name)

    def putln(self, line="", *args, **kwargs):
        if not line.startswith(self._call_start) or "); " not in line:
            return self._code.putln(line, *args, **kwargs)
        end = line.rindex("); ") + 1
        result = self._call_start.split(" = ")[0]
        self._code.globalstate.use_utility_code(_call_guard_utility)
        for guarded in _guarded_inlined_call.substitute(
                call=line[:end], result=result).splitlines():
            self._code.putln(guarded.strip())
        return self._code.putln(line[end + 2:])


def _guarding_inlined_calls(generate):
    def generate_result_code(self, code):
        start = "%s = %s(" % (self.result(), self.function.def_node.entry.pyfunc_cname)
        generate(self, _InlinedCallWriter(code, start))
    return generate_result_code


ExprNodes.InlinedDefNodeCallNode.generate_result_code = _guarding_inlined_calls(
    ExprNodes.InlinedDefNodeCallNode.generate_result_code)


# `return` in a `try` whose `finally` may `break` or `continue` (`for x in xs: try: return x
# finally: break`): the return released the temporaries of the loops around it (the sequence
# iterated) before the `finally` ran, and the loop then went on with them freed (SIGSEGV, or
# SystemError in a library). Such a return keeps the temporaries held when the `try` began;
# they are released after its `finally` when the return goes on.
def _leaves_loop(clause):
    # A `break` or `continue` of the clause that leaves it for a loop around it.
    stack = [clause]
    while stack:
        node = stack.pop()
        if isinstance(node, (Nodes.BreakStatNode, Nodes.ContinueStatNode)):
            return True
        if isinstance(node, (Nodes.FuncDefNode, Nodes.ClassDefNode, ExprNodes.LambdaNode)):
            continue
        skip = ("body",) if isinstance(node, Nodes.LoopNode) else ()
        stack.extend(child_nodes(node, skip))
    return False


# Per function being generated (Cython's function state takes no attributes of ours): for each
# such `try` around the code being generated, the temporaries held when it began.
_kept_temps_of = {}


def _kept_temps(funcstate):
    return set().union(*_kept_temps_of.get(funcstate, [set()]))


class _TryBody(Nodes.StatNode):
    # The `try` clause, during which returns keep the temporaries held when it began.
    child_attrs = ["body"]

    def generate_execution_code(self, code):
        funcstate = code.funcstate
        kept = _kept_temps_of.get(funcstate, [])
        _kept_temps_of[funcstate] = kept + [set(funcstate.temps_holding_reference())]
        try:
            self.body.generate_execution_code(code)
        finally:
            if kept:
                _kept_temps_of[funcstate] = kept
            else:
                del _kept_temps_of[funcstate]


class _Sparing:
    # Passes everything on to `target` but the temporaries holding references, of which it
    # leaves out those kept.
    def __init__(self, target, **replaced):
        self._target = target
        self.__dict__.update(replaced)

    def __getattr__(self, name):
        return getattr(self._target, name)


def _keeping_loop_temps(generate):
    def generate_execution_code(self, code):
        if not _leaves_loop(self.finally_clause):
            return generate(self, code)
        body, return_label = self.body, code.return_label
        # The return goes on after the `finally` through a label of its own, which releases what
        # this `try` kept and an enclosing one does not keep.
        code.return_label = code.new_label("return")
        self.body = _TryBody(body.pos, body=body, is_terminator=body.is_terminator)
        try:
            generate(self, code)
        finally:
            self.body = body
            release_label, code.return_label = code.return_label, return_label
        if code.label_used(release_label):
            after = code.new_label("after_return")
            code.put_goto(after)
            code.put_label(release_label)
            still_kept = _kept_temps(code.funcstate)
            for cname, type in code.funcstate.temps_holding_reference():
                if (cname, type) not in still_kept:
                    code.put_decref_clear(cname, type)
            code.put_goto(return_label)
            code.put_label(after)
    return generate_execution_code


def _sparing_kept_temps(generate):
    def generate_execution_code(self, code):
        kept = _kept_temps(code.funcstate)
        if not kept:
            return generate(self, code)
        held = code.funcstate.temps_holding_reference
        funcstate = _Sparing(code.funcstate, temps_holding_reference=lambda: [
            temp for temp in held() if temp not in kept])
        return generate(self, _Sparing(code, funcstate=funcstate))
    return generate_execution_code


Nodes.TryFinallyStatNode.generate_execution_code = _keeping_loop_temps(
    Nodes.TryFinallyStatNode.generate_execution_code)
Nodes.ReturnStatNode.generate_execution_code = _sparing_kept_temps(
    Nodes.ReturnStatNode.generate_execution_code)


# A coroutine never awaited is warned of by its own finalizer (coroutine_finalizer.c), which
# leaves the others to Cython's; generators keep Cython's.
_coroutine_getsets = "static PyGetSetDef __pyx_Coroutine_getsets[] = {\n"
_coroutine_slots = "static PyType_Slot __pyx_CoroutineType_slots[] = {\n"
_coroutine_slot_functions = {
    "    {Py_tp_dealloc, (void *)__Pyx_Coroutine_dealloc},\n":
        "    {Py_tp_dealloc, (void *)__Pyx_qvx_Coroutine_dealloc},\n",
    "    {Py_tp_finalize, (void *)__Pyx_Coroutine_del},\n":
        "    {Py_tp_finalize, (void *)__Pyx_qvx_Coroutine_del},\n"}


def _coroutines_warned_as_python(lines):
    if (lines.count(_coroutine_slots) != 1 or lines.count(_coroutine_getsets) != 1
            or _finalizer_in_libraries not in lines):
        return lines
    lines = list(lines)
    start = lines.index(_coroutine_slots)
    end = lines.index("};\n", start)
    table = [_coroutine_slot_functions.get(line, line) for line in lines[start:end]]
    if sum(line not in lines[start:end] for line in table) != len(_coroutine_slot_functions):
        return lines
    lines[start:end] = table
    at = lines.index(_coroutine_getsets)
    lines[at + 1:at + 1] = ['    {"cr_origin", __Pyx_qvx_Coroutine_get_origin, 0, 0, 0},\n']
    lines[at:at] = c_text("coroutine_finalizer.c").splitlines(keepends=True)
    return lines


fix_utility("Coroutine.c", _coroutines_warned_as_python)


# Generators and coroutines where CPython's answer otherwise: an exception thrown in is chained
# to what the generator handled where it stopped, not to what the caller of throw() handles
# (thrown_into.c); a value sent to one not started is refused and leaves it unstarted
# (just_started.c); throw() given a type and a value warns of its deprecated signature
# (throw_signature_warned.c); a finished one keeps its names and code object, which only its
# deallocation drops. Each change is made only where Coroutine.c reads exactly as expected.
_throw_function = ("static PyObject *__Pyx__Coroutine_Throw(PyObject *self, PyObject *typ, "
                   "PyObject *val, PyObject *tb,\n")
_throw_here = ["throw_here:\n", "    __Pyx_Raise(typ, val, tb, NULL);\n"]
_delegate_failed = "        result = __Pyx_Coroutine_FinishDelegation(gen, &ret);\n"
_thrown_propagates = ("        __Pyx_PySendResult result = "
                      "__Pyx_Coroutine_SendEx(gen, NULL, &retval, 0);\n")
_finished_check = ("        __Pyx_Coroutine_AlreadyTerminatedError((PyObject*)self, value, "
                   "closing);\n")
_throw_call = "    return __Pyx__Coroutine_Throw(self, typ, val, tb,\n"
_kept_until_dealloc = ["    Py_CLEAR(gen->gi_code);\n", "    Py_CLEAR(gen->gi_name);\n",
                       "    Py_CLEAR(gen->gi_qualname);\n", "    Py_CLEAR(gen->gi_modulename);\n"]
_dealloc_end = ["    __Pyx_Coroutine_clear(self);\n", "    __Pyx_PyHeapTypeObject_GC_Del(gen);\n"]


def _generators_as_python(lines):
    anchors = [_throw_function, _throw_here[1], _delegate_failed, _thrown_propagates,
               _finished_check, _throw_call, _dealloc_end[1]] + _kept_until_dealloc
    if any(lines.count(line) != 1 for line in anchors):
        return lines
    lines = list(lines)
    at = lines.index(_throw_here[1])
    dealloc = lines.index(_dealloc_end[1])
    finished = lines.index(_finished_check)
    if (lines[at - 1] != _throw_here[0] or lines[dealloc - 1] != _dealloc_end[0]
            or lines[finished + 2] != "    }\n"):
        return lines
    # From the end backwards, so that each index found above still holds.
    lines[dealloc:dealloc] = _kept_until_dealloc
    for line in _kept_until_dealloc:
        lines.remove(line)
    at_call = lines.index(_throw_call)
    lines[at_call:at_call] = c_text("throw_signature_warned.c").splitlines(keepends=True)
    at = lines.index(_thrown_propagates)
    lines[at:at] = ["        __Pyx_qvx_ChainThrown(gen);\n"]
    lines[lines.index(_throw_here[1])] = "    __Pyx_qvx_RaiseThrown(typ, val, tb);\n"
    at = lines.index(_delegate_failed)
    lines[at:at] = [
        "        if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_StopIteration))\n",
        "            __Pyx_qvx_ChainThrown(gen);\n"]
    at = lines.index(_throw_function)
    lines[at:at] = c_text("thrown_into.c").splitlines(keepends=True)
    at = lines.index(_finished_check) + 3
    lines[at:at] = c_text("just_started.c").splitlines(keepends=True)
    return lines


fix_utility("Coroutine.c", _generators_as_python)


# An exception group's split() and subgroup() take a predicate only if it is a Python function
# (or exception types): a compiled function given to them was refused with TypeError. Where a
# call `x.split(f)` or `x.subgroup(f)` passes one argument that is not a constant, the argument
# goes through exception_group_matcher.c, which wraps a compiled function in a Python one when
# `x` is an exception group; for str.split and the rest it costs a type check.
_exception_group_methods = ("split", "subgroup")
_exception_group_matcher = Code.UtilityCode(
    name="QvxExceptionGroupMatcher", impl=c_text("exception_group_matcher.c"),
    proto="static CYTHON_INLINE PyObject *__Pyx_qvx_exception_group_matcher(PyObject *owner,"
          " PyObject *matcher);\n")


class _ExceptionGroupMatcher(ExprNodes.ExprNode):
    subexprs = ["arg"]

    def infer_type(self, env):
        return PyrexTypes.py_object_type

    def analyse_types(self, env):
        self.arg = self.arg.analyse_types(env).coerce_to_pyobject(env)
        owner_type = self.owner.type
        if owner_type.is_builtin_type and not owner_type.name.endswith("ExceptionGroup"):
            return self.arg
        self.type = PyrexTypes.py_object_type
        self.is_temp = True
        return self

    def generate_result_code(self, code):
        # The check of compiled functions comes as Cython's own functions take it.
        if code.funcstate.scope.context.shared_utility_qualified_name:
            code.globalstate.use_utility_code(Code.UtilityCode.load_cached(
                "CythonFunctionFromSharedModule", "CythonFunction.c"))
        code.globalstate.use_utility_code(
            Code.UtilityCode.load_cached("CythonFunction", "CythonFunction.c"))
        code.globalstate.use_utility_code(_exception_group_matcher)
        code.putln("%s = __Pyx_qvx_exception_group_matcher(%s, %s); %s" % (
            self.result(), self.owner.py_result(), self.arg.py_result(),
            code.error_goto_if_null(self.result(), self.pos)))
        self.generate_gotref(code)


def _passes_matcher(node):
    function = getattr(node, "function", None)
    return (type(node) is ExprNodes.SimpleCallNode and len(node.args or ()) == 1
            and isinstance(function, ExprNodes.AttributeNode)
            and function.attribute in _exception_group_methods
            and not isinstance(node.args[0], (ExprNodes.ConstNode, ExprNodes.UnicodeNode,
                                              ExprNodes.BytesNode)))


def _matchers_through_python_functions(tree):
    # Inner calls first: one may be the object of another (`x.split(f).split(g)`).
    for node in reversed(list(subtree(tree))):
        if not in_python_source(node):
            continue
        for attr in node.child_attrs:
            value = getattr(node, attr, None)
            children = value if isinstance(value, list) else [value]
            for at, child in enumerate(children):
                if _passes_matcher(child):
                    owner = UtilNodes.ResultRefNode(child.function.obj)
                    child.function.obj = owner
                    child.args[0] = _ExceptionGroupMatcher(child.args[0].pos, owner=owner,
                                                           arg=child.args[0])
                    children[at] = UtilNodes.EvalWithTempExprNode(owner, child)
            if not isinstance(value, list) and children[0] is not value:
                setattr(node, attr, children[0])
    return tree


stages_before_analysis.append(_matchers_through_python_functions)


# inspect's getgeneratorstate, getcoroutinestate and getasyncgenstate read `gi_suspended`
# (`cr_suspended`, `ag_suspended`), which compiled ones lacked (AttributeError: anyio, which asks
# it of its tasks' coroutines before cancelling them, never delivered a cancellation and its task
# groups hung), then whether the frame is None, which it was in a library from the start and was
# not in a program once finished; async generators had no `ag_frame` at all. The getters of
# generator_states.c answer as CPython's do.
_frame_getter = ("__Pyx_Coroutine_get_frame(__pyx_CoroutineObject *self, "
                 "void *context) {\n")
_frame_entries = {
    '    {"cr_frame", (getter)__Pyx_Coroutine_get_frame, NULL,\n':
        '    {"cr_frame", __Pyx_qvx_Coroutine_get_frame, NULL,\n',
    '    {"gi_frame", (getter)__Pyx_Coroutine_get_frame, NULL,\n':
        '    {"gi_frame", __Pyx_qvx_Coroutine_get_frame, NULL,\n'}
_running_entries = {
    '    {"cr_running", __Pyx_Coroutine_get_is_running_getter, NULL, NULL, NULL},\n':
        '    {"cr_suspended", __Pyx_qvx_Coroutine_get_suspended, NULL, NULL, NULL},\n',
    '    {"gi_running", __Pyx_Coroutine_get_is_running_getter, NULL, NULL, NULL},\n':
        '    {"gi_suspended", __Pyx_qvx_Coroutine_get_suspended, NULL, NULL, NULL},\n'}
_async_generator_getsets = "static PyGetSetDef __Pyx_async_gen_getsetlist[] = {\n"
_async_generator_entries = [
    "#ifdef __Pyx_qvx_GENERATOR_STATES\n",
    '    {"ag_frame", __Pyx_qvx_Coroutine_get_frame, NULL, NULL, NULL},\n',
    '    {"ag_suspended", __Pyx_qvx_Coroutine_get_suspended, NULL, NULL, NULL},\n',
    "#endif\n"]


def _generator_states(lines):
    anchors = [_frame_getter] + list(_frame_entries) + list(_running_entries)
    if any(lines.count(line) != 1 for line in anchors):
        return lines
    lines = list(lines)
    start = lines.index(_frame_getter)
    if "}\n" not in lines[start:]:
        return lines
    end = lines.index("}\n", start) + 1
    lines[end:end] = ["\n"] + c_text("generator_states.c").splitlines(keepends=True)
    lines = [_frame_entries.get(line, line) for line in lines]
    for running, suspended in _running_entries.items():
        at = lines.index(running) + 1
        lines[at:at] = [suspended]
    return lines


def _async_generator_states(lines):
    # Coroutine.c defines the getters (and the macro) when its correction applied.
    if lines.count(_async_generator_getsets) != 1:
        return lines
    lines = list(lines)
    at = lines.index(_async_generator_getsets) + 1
    lines[at:at] = _async_generator_entries
    return lines


fix_utility("Coroutine.c", _generator_states)
fix_utility("AsyncGen.c", _async_generator_states)


# A finished generator or coroutine releases its closure scope, which holds all its locals; a
# nested function that takes the scope for its own closure and that a local holds makes a cycle
# with it, so every local lived on until the cyclic collector ran (where CPython frees a frame's
# locals when it finishes: sockets and files stayed open, ResourceWarnings came late). Where a
# nested function may take the scope, the generator clears, as it finishes, each local that no
# nested function reads.
_closure_released = "__Pyx_Coroutine_clear((PyObject*)%s);" % Naming.generator_cname


def _takes_enclosing_scope(body):
    return any(isinstance(node, Nodes.DefNode) and node.needs_outer_scope
               for node in subtree(body))


def _uncaptured_locals(scope):
    # The closure fields of the scope's own variables that no nested scope reads, in the order
    # of the fields, as the generator's body names them.
    variables = {entry.cname: entry for local in scope.iter_local_scopes()
                 for entry in local.entries.values()
                 if entry.in_closure and not entry.from_closure}
    fields = [("%s->%s" % (Naming.cur_scope_cname, field.cname), field.type)
              for field in scope.scope_class.type.scope.var_entries]
    return [(cname, type) for cname, type in fields
            if type.is_pyobject and cname in variables and not variables[cname].inner_entries]


class _FinishingWriter:
    # Passes everything on to `code` (the labels a statement sets too, which are the function
    # state's), putting before the release of the closure scope of `scope`'s generator the
    # clearing of `cleared`.
    def __init__(self, code, scope, cleared):
        object.__setattr__(self, "_code", code)
        object.__setattr__(self, "_scope", scope)
        object.__setattr__(self, "_cleared", cleared)

    def __getattr__(self, name):
        return getattr(self._code, name)

    def __setattr__(self, name, value):
        setattr(self._code, name, value)

    def putln(self, line="", *args, **kwargs):
        if line == _closure_released and self._code.funcstate.scope is self._scope:
            for cname, type in self._cleared:
                self._code.put_xdecref_clear(cname, type, clear_before_decref=True)
        return self._code.putln(line, *args, **kwargs)


def _freeing_uncaptured_locals(generate):
    def generate_function_definitions(self, env, code):
        scope = self.local_scope
        if not _takes_enclosing_scope(self.body):
            return generate(self, env, code)
        cleared = _uncaptured_locals(scope)
        return generate(self, env, _FinishingWriter(code, scope, cleared) if cleared else code)
    return generate_function_definitions


Nodes.GeneratorBodyDefNode.generate_function_definitions = _freeing_uncaptured_locals(
    Nodes.GeneratorBodyDefNode.generate_function_definitions)
# A compiled function's __code__ could not be assigned (AttributeError: not writable), and a
# change made in place to the dict that its __kwdefaults__ gave was not seen by calls. Once its
# __code__ is assigned, the function holds a Python function of that code, to which its calls go
# (replaced_code.c); reading __kwdefaults__ has its calls watch that dict for changes, or bind
# their defaults from it. Applied with the assigned defaults, which sync the fields added here.
_replaced_code = c_text("replaced_code.c")
_function_struct_end = "} __pyx_CyFunctionObject;\n"
_replacement_field = ("    PyObject *func_qvx_replacement;  /* runs an assigned __code__ */\n"
                      "    PyObject *func_qvx_kwdefaults_seen;  /* __kwdefaults__ when read */\n")
_replacement_kept = {
    "    op->func_annotations = NULL;\n":
        "    op->func_qvx_replacement = NULL;\n    op->func_qvx_kwdefaults_seen = NULL;\n",
    "    Py_CLEAR(m->func_annotations);\n":
        "    Py_CLEAR(m->func_qvx_replacement);\n    Py_CLEAR(m->func_qvx_kwdefaults_seen);\n",
    "    Py_VISIT(m->func_annotations);\n":
        "    Py_VISIT(m->func_qvx_replacement);\n    Py_VISIT(m->func_qvx_kwdefaults_seen);\n",
}
_replaced_getsets = {
    '    {"__code__", (getter)__Pyx_CyFunction_get_code, 0, 0, 0},\n':
        '    {"__code__", (getter)__Pyx_qvx_get_code, (setter)__Pyx_qvx_set_code, 0, 0},\n',
    '    {"__kwdefaults__", (getter)__Pyx_CyFunction_get_kwdefaults, '
    '(setter)__Pyx_CyFunction_set_kwdefaults, 0, 0},\n':
        '    {"__kwdefaults__", (getter)__Pyx_qvx_get_kwdefaults, '
        '(setter)__Pyx_CyFunction_set_kwdefaults, 0, 0},\n',
}


def _can_run_assigned_code(text):
    anchors = [_function_struct_end, _function_getsets, *_replacement_kept, *_replaced_getsets]
    return all(text.count(anchor) == 1 for anchor in anchors)


def _running_assigned_code(text):
    text = text.replace(_function_struct_end, _replacement_field + _function_struct_end)
    for anchor, added in _replacement_kept.items():
        text = text.replace(anchor, anchor + added)
    for cython, ours in _replaced_getsets.items():
        text = text.replace(cython, ours)
    return text.replace(_function_getsets, _replaced_code + _function_getsets)


# A parameter named `__x` of a function in a class body (at any depth, lambdas too) is a private
# name, `_Class__x` to Python: the keyword a call passes, the key in `__kwdefaults__`, the name in
# the code object and in `inspect.signature`. Cython mangled the variable but kept the bare name
# for all of those. The parameters are renamed before the declarations, which then find them
# under the name that the body's mangled references look up.
def _private_name(name, class_name):
    owner = class_name.lstrip("_")
    if not owner or not name.startswith("__") or name.endswith("__"):
        return name
    return EncodedString("_%s%s" % (owner, name))


def _mangle_parameters(function, class_name):
    for arg in function.args:
        declarator = arg.declarator
        if isinstance(declarator, Nodes.CNameDeclaratorNode) and declarator.name:
            declarator.name = _private_name(declarator.name, class_name)
    for star in (function.star_arg, function.starstar_arg):
        if star is not None:
            star.name = _private_name(star.name, class_name)


def _private_parameters_mangled(tree):
    stack = [(tree, None)]
    while stack:
        node, class_name = stack.pop()
        if (class_name and isinstance(node, (Nodes.DefNode, ExprNodes.LambdaNode))
                and not isinstance(node, ExprNodes.GeneratorExpressionNode)
                and in_python_source(node)):
            _mangle_parameters(node, class_name)
        # Names are mangled by the class whose body they are in; a class's bases, keywords and
        # decorators are in the scope around it.
        own = node.name if isinstance(node, Nodes.PyClassDefNode) else None
        for attr in node.child_attrs:
            value = getattr(node, attr, None)
            inner = own if own is not None and attr == "body" else class_name
            children = value if isinstance(value, list) else [value]
            stack.extend((child, inner) for child in children if isinstance(child, Nodes.Node))
    return tree


stages_after_parsing.append(_private_parameters_mangled)


# Python mangles nothing in a class whose name is all underscores; Cython made `___x` of `__x`
# there, which no keyword of a call or attribute written elsewhere found.
def _mangling_in_named_classes(mangle):
    def mangle_class_private_name(self, name):
        mangled = mangle(self, name)
        return name if mangled != name and not self.class_name.lstrip("_") else mangled
    return mangle_class_private_name


Symtab.ClassScope.mangle_class_private_name = _mangling_in_named_classes(
    Symtab.ClassScope.mangle_class_private_name)
