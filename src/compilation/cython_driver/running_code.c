/* Put before __Pyx_PyCode_New of ModuleSetupCode.c, whose call of __Pyx__PyCode_New becomes a
   call of __Pyx_qvx_PyCode_New. A compiled function's code object has no bytecode of its own,
   only an array of zeros as long as its line table's addresses need: running it (exec, or a
   function made from it) executed those zeros and crashed the process. The array now opens
   with what the running Python compiles for `return -''`, the constant taken by an object of
   ours (one per module) whose negation runs the compiled function that owns the code object,
   with the arguments that the running frame was given: a function made from the code object
   (copied, as libraries do with types.FunctionType) runs the compiled body with its own
   arguments, after its own defaults applied. The owner is the one function made from the code
   object; where none or several were (closures, classes made in functions), or the code is a
   generator's or a coroutine's, it raises TypeError naming the function (CPython's own empty
   code objects raise too). The line table and the rest of the array stay, so co_lines and
   co_positions read as before, and tracebacks, which Cython makes from code objects of their
   own, are unchanged.
   A program, made for the build interpreter's version, carries what that interpreter compiled
   (${version}: its major and minor version; 0 where its compiled form was not of the kind
   used here). A library may run under a later Python, with other bytecode: it compiles the
   statement when it makes its first code object. A Python whose compiled form loads anything
   but that one constant gets that compiled code itself as every function's code: running it
   raises TypeError. The object's type is one for all the modules of a product, kept with
   Cython's shared types. */
//@requires: CommonStructures.c::FetchCommonType

#if !CYTHON_COMPILING_IN_LIMITED_API && (PY_VERSION_HEX >> 16) == ${version}
  #define __Pyx_qvx_BUILT_RUNNING_HEAD 1
  static const unsigned char __pyx_qvx_built_running_head[] = {${bytecode}};
  #define __Pyx_qvx_BUILT_RUNNING_STACK ${stacksize}
#endif

/* The flags of code objects that a generator, a coroutine or an async generator runs. */
#define __Pyx_qvx_GENERATOR_KINDS (0x20 | 0x80 | 0x100 | 0x200)

/* The TypeError of a code object whose function cannot be run; its own name where it is one of
   ours. */
static PyObject *__Pyx_qvx_NoBytecode(PyObject *body, PyObject *code) {
    PyObject *consts = code ? PyObject_GetAttrString(code, "co_consts") : NULL;
    PyObject *name = NULL, *file = NULL, *line = NULL;
    int ours = consts ? PySequence_Contains(consts, body) : (code ? -1 : 0);
    if (ours == 1) {
        name = PyObject_GetAttrString(code, "co_name");
        file = name ? PyObject_GetAttrString(code, "co_filename") : NULL;
        line = file ? PyObject_GetAttrString(code, "co_firstlineno") : NULL;
        if (line)
            PyErr_Format(PyExc_TypeError,
                         "the code object of compiled function '%S' (%S, line %S) holds no "
                         "bytecode to run", name, file, line);
    } else if (ours == 0) {
        PyErr_SetString(PyExc_TypeError,
                        "the code object of a compiled function holds no bytecode to run");
    }
    Py_XDECREF(line);
    Py_XDECREF(file);
    Py_XDECREF(name);
    Py_XDECREF(consts);
    return NULL;
}

static long __Pyx_qvx_CodeNumber(PyObject *code, const char *attribute) {
    PyObject *value = PyObject_GetAttrString(code, attribute);
    long number = value ? PyLong_AsLong(value) : -1;
    Py_XDECREF(value);
    return number;
}

/* Appends the arguments that `frame`'s code, of `flags`, was given to `positional` and
   `keywords`, from its locals: its parameters before the keyword-only ones by position, those
   by keyword, then the *args and **kwargs it took. -1 with an exception, KeyError where one is
   not bound (code run by exec). */
static int __Pyx_qvx_FrameArguments(PyObject *frame, PyObject *code, long flags,
                                    PyObject *positional, PyObject *keywords) {
    long count = __Pyx_qvx_CodeNumber(code, "co_argcount");
    long keyword_only = count < 0 ? -1 : __Pyx_qvx_CodeNumber(code, "co_kwonlyargcount");
    PyObject *names = NULL, *locals = NULL;
    long at, total = keyword_only < 0 ? -1 : count + keyword_only;
    int result = -1;
    if (total < 0) return -1;
    if (flags & CO_VARARGS) total++;
    if (flags & CO_VARKEYWORDS) total++;
    names = PyObject_GetAttrString(code, "co_varnames");
    locals = total > 0 && names ? PyObject_GetAttrString(frame, "f_locals") : NULL;
    if (!names || (total > 0 && !locals)) goto done;
    for (at = 0; at < total; at++) {
        PyObject *name = PySequence_GetItem(names, at);
        PyObject *value = name ? PyObject_GetItem(locals, name) : NULL;
        int added;
        if (!value) added = -1;
        else if (at < count) added = PyList_Append(positional, value);
        else if (at < count + keyword_only) added = PyDict_SetItem(keywords, name, value);
        else if ((flags & CO_VARARGS) && at == count + keyword_only)
            added = PyList_SetSlice(positional, PY_SSIZE_T_MAX, PY_SSIZE_T_MAX, value);
        else added = PyDict_Update(keywords, value);
        Py_XDECREF(value);
        Py_XDECREF(name);
        if (added < 0) goto done;
    }
    result = 0;
done:
    Py_XDECREF(locals);
    Py_XDECREF(names);
    return result;
}

/* The compiled function that owns `code`, a new reference, or None where it is not known. */
static PyObject *__Pyx_qvx_OwnerOf(PyObject *body, PyObject *code) {
    PyObject *key = PyLong_FromVoidPtr(code), *known;
    if (!key) return NULL;
    known = PyDict_GetItemWithError(((__Pyx_qvx_CompiledBody *) body)->functions, key);
    Py_DECREF(key);
    if (!known) {
        if (PyErr_Occurred()) return NULL;
        Py_RETURN_NONE;
    }
    if (known == Py_None) Py_RETURN_NONE;
    return PyObject_CallObject(known, NULL);
}

/* `-body` in the head of a code object of ours: the frame running that code is the caller's. */
static PyObject *__Pyx_qvx_CompiledBody_Run(PyObject *body) {
    PyFrameObject *frame = PyEval_GetFrame();
    PyObject *code = frame ? (PyObject *) PyFrame_GetCode(frame) : NULL;
    PyObject *owner = code ? __Pyx_qvx_OwnerOf(body, code) : NULL;
    PyObject *positional = NULL, *keywords = NULL, *arguments = NULL, *result = NULL;
    long flags = owner && owner != Py_None ? __Pyx_qvx_CodeNumber(code, "co_flags") : 0;
    if (!owner || owner == Py_None || flags < 0 || (flags & __Pyx_qvx_GENERATOR_KINDS)) {
        if (!PyErr_Occurred()) __Pyx_qvx_NoBytecode(body, code);
        goto done;
    }
    positional = PyList_New(0);
    keywords = positional ? PyDict_New() : NULL;
    if (!keywords) goto done;
    if (__Pyx_qvx_FrameArguments((PyObject *) frame, code, flags, positional, keywords) < 0) {
        if (PyErr_ExceptionMatches(PyExc_KeyError)) {
            PyErr_Clear();
            __Pyx_qvx_NoBytecode(body, code);
        }
        goto done;
    }
    arguments = PyList_AsTuple(positional);
    if (arguments) result = PyObject_Call(owner, arguments, keywords);
done:
    Py_XDECREF(arguments);
    Py_XDECREF(keywords);
    Py_XDECREF(positional);
    Py_XDECREF(owner);
    Py_XDECREF(code);
    return result;
}

static void __Pyx_qvx_CompiledBody_Dealloc(PyObject *body) {
    PyTypeObject *type = Py_TYPE(body);
    Py_XDECREF(((__Pyx_qvx_CompiledBody *) body)->functions);
    PyObject_Free(body);
    Py_DECREF(type);
}

static PyType_Slot __pyx_qvx_CompiledBody_slots[] = {
    {Py_nb_negative, (void *) __Pyx_qvx_CompiledBody_Run},
    {Py_tp_dealloc, (void *) __Pyx_qvx_CompiledBody_Dealloc},
    {0, 0}
};

static PyType_Spec __pyx_qvx_CompiledBody_spec = {
    __PYX_TYPE_MODULE_PREFIX "compiled_body", sizeof(__Pyx_qvx_CompiledBody), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, __pyx_qvx_CompiledBody_slots
};

/* What this module's code objects open with, found when it makes its first one: the bytecode,
   the constants it loads (this module's compiled body) and the stack it needs; or the compiled
   code that serves whole. */
typedef struct {
    PyObject *bytecode;
    PyObject *consts;
    int stacksize;
    PyObject *whole;
    PyObject *body;
} __Pyx_qvx_RunningHead;

static __Pyx_qvx_RunningHead __pyx_qvx_running_head = {NULL, NULL, 0, NULL, NULL};

#ifndef __Pyx_qvx_BUILT_RUNNING_HEAD
static int __Pyx_qvx_IsEmpty(PyObject *code, const char *attribute) {
    PyObject *value = PyObject_GetAttrString(code, attribute);
    Py_ssize_t size;
    if (!value) {
        /* co_exceptiontable is new in 3.11: without it there is none. */
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
        PyErr_Clear();
        return 1;
    }
    size = PyObject_Size(value);
    Py_DECREF(value);
    return size < 0 ? -1 : size == 0;
}

/* The running Python's bytecode for `-''` (the value of an expression is returned) and its
   constants with the body in place of the string, where nothing else is loaded (no names, variables or exception handlers, one such
   constant); else that compiled code, to serve whole. */
static int __Pyx_qvx_CompileRunningHead(__Pyx_qvx_RunningHead *head, PyObject *body) {
    static const char *const unused[] = {"co_names", "co_varnames", "co_freevars", "co_cellvars",
                                         "co_exceptiontable"};
    PyObject *compiled, *consts = NULL, *marker = NULL, *stacksize = NULL;
    Py_ssize_t markers = 0, size = 0, i;
    int usable = 1, result = -1;
    compiled = Py_CompileString("-''", "<compiled code>", Py_eval_input);
    if (!compiled) return -1;
    for (i = 0; usable == 1 && i < (Py_ssize_t) (sizeof(unused) / sizeof(unused[0])); i++)
        usable = __Pyx_qvx_IsEmpty(compiled, unused[i]);
    if (usable < 0) goto done;
    if (usable) {
        consts = PyObject_GetAttrString(compiled, "co_consts");
        marker = PyUnicode_FromString("");
        size = consts && marker ? PyObject_Size(consts) : -1;
        head->consts = size >= 0 ? PyTuple_New(size) : NULL;
        if (!head->consts) goto done;
    }
    for (i = 0; i < size; i++) {
        PyObject *item = PySequence_GetItem(consts, i);
        int is_marker = item ? PyObject_RichCompareBool(item, marker, Py_EQ) : -1;
        if (is_marker < 0) {
            Py_XDECREF(item);
            goto done;
        }
        if (is_marker) {
            Py_DECREF(item);
            Py_INCREF(body);
            item = body;
            markers++;
        }
        if (PyTuple_SetItem(head->consts, i, item) < 0) goto done;
    }
    if (markers == 1) {
        stacksize = PyObject_GetAttrString(compiled, "co_stacksize");
        head->stacksize = stacksize ? (int) PyLong_AsLong(stacksize) : -1;
        head->bytecode = head->stacksize >= 0 ? PyObject_GetAttrString(compiled, "co_code") : NULL;
        if (!head->bytecode) goto done;
    } else {
        Py_CLEAR(head->consts);
        head->whole = compiled;
        compiled = NULL;
    }
    result = 0;
done:
    if (result < 0) Py_CLEAR(head->consts);
    Py_XDECREF(stacksize);
    Py_XDECREF(marker);
    Py_XDECREF(consts);
    Py_XDECREF(compiled);
    return result;
}
#endif

static int __Pyx_qvx_FindRunningHead(__Pyx_qvx_RunningHead *head) {
    PyTypeObject *type = __Pyx_FetchCommonTypeFromSpec(NULL, NULL, &__pyx_qvx_CompiledBody_spec,
                                                       NULL);
    PyObject *body = type ? PyType_GenericAlloc(type, 0) : NULL;
    int result = -1;
    Py_XDECREF(type);
    if (!body) return -1;
    ((__Pyx_qvx_CompiledBody *) body)->functions = PyDict_New();
    if (!((__Pyx_qvx_CompiledBody *) body)->functions) {
        Py_DECREF(body);
        return -1;
    }
#ifdef __Pyx_qvx_BUILT_RUNNING_HEAD
    head->bytecode = PyBytes_FromStringAndSize((const char *) __pyx_qvx_built_running_head,
                                               sizeof(__pyx_qvx_built_running_head));
    head->consts = head->bytecode ? PyTuple_Pack(1, body) : NULL;
    head->stacksize = __Pyx_qvx_BUILT_RUNNING_STACK;
    if (head->consts) result = 0;
    else Py_CLEAR(head->bytecode);
#else
    result = __Pyx_qvx_CompileRunningHead(head, body);
#endif
    if (result == 0 && !head->whole) head->body = body;
    else Py_DECREF(body);
    return result;
}

/* Cython's constructor of a code object, with the head at the start of the array `code` and its
   constants in place of Cython's, which are none. A `code` that has room for the head is the
   array that __Pyx_PyCode_New has just made for this code object alone, and takes it in place;
   a shorter one (the empty bytes where there is no line table) is replaced by a longer copy. */
static PyObject *__Pyx_qvx_PyCode_New(int a, int p, int k, int l, int s, int f, PyObject *code,
                                      PyObject *c, PyObject *n, PyObject *v, PyObject *fv,
                                      PyObject *cell, PyObject *fn, PyObject *name, int fline,
                                      PyObject *lnos) {
    __Pyx_qvx_RunningHead *head = &__pyx_qvx_running_head;
    PyObject *bytecode, *result;
    Py_ssize_t length, head_length;
    char *array, *head_array;
    CYTHON_UNUSED_VAR(c);
    if (!head->consts && !head->whole && __Pyx_qvx_FindRunningHead(head) < 0) return NULL;
    if (head->whole) {
        Py_INCREF(head->whole);
        return head->whole;
    }
    length = PyBytes_Size(code);
    head_length = PyBytes_Size(head->bytecode);
    if (length < 0 || head_length < 0) return NULL;
    if (length >= head_length) {
        Py_INCREF(code);
        bytecode = code;
    } else {
        bytecode = PyBytes_FromStringAndSize(NULL, head_length);
    }
    array = bytecode ? PyBytes_AsString(bytecode) : NULL;
    head_array = array ? PyBytes_AsString(head->bytecode) : NULL;
    if (!head_array) {
        Py_XDECREF(bytecode);
        return NULL;
    }
    memcpy(array, head_array, (size_t) head_length);
    result = (PyObject *) __Pyx__PyCode_New(a, p, k, l, s < head->stacksize ? head->stacksize : s,
                                            f, bytecode, head->consts, n, v, fv, cell, fn, name,
                                            fline, lnos);
    Py_DECREF(bytecode);
    return result;
}
