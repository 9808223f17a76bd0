/* Put before __Pyx_PyCode_New of ModuleSetupCode.c, whose call of __Pyx__PyCode_New becomes a
   call of __Pyx_qvx_PyCode_New. A compiled function's code object has no bytecode of its own,
   only an array of zeros as long as its line table's addresses need: running it (exec, or a
   function made from it) executed those zeros and crashed the process. The array now opens
   with what the running Python compiles for `raise ''`, the constant taken by a class whose
   construction raises TypeError naming the function (CPython's own empty code objects raise
   too); the line table and the rest of the array stay, so co_lines and co_positions read as
   before, and tracebacks, which Cython makes from code objects of their own, are unchanged.
   A program, made for the build interpreter's version, carries what that interpreter compiled
   (${version}: its major and minor version; 0 where its compiled form was not of the kind
   used here). A library may run under a later Python, with other bytecode: it compiles the
   statement when it makes its first code object. A Python whose compiled form loads anything
   but that one constant gets that compiled code itself as every function's code: running it
   raises TypeError too. The class is one for all the modules of a product, kept with Cython's
   shared types. */
//@requires: CommonStructures.c::FetchCommonType

#if !CYTHON_COMPILING_IN_LIMITED_API && (PY_VERSION_HEX >> 16) == ${version}
  #define __Pyx_qvx_BUILT_RAISING_HEAD 1
  static const unsigned char __pyx_qvx_built_raising_head[] = {${bytecode}};
  #define __Pyx_qvx_BUILT_RAISING_STACK ${stacksize}
#endif

/* The raising class's construction: the frame that raises is the one running the code. */
static PyObject *__Pyx_qvx_NoBytecode_New(PyTypeObject *type, PyObject *args, PyObject *kwds) {
    PyFrameObject *frame = PyEval_GetFrame();
    PyObject *code = frame ? (PyObject *) PyFrame_GetCode(frame) : NULL;
    PyObject *consts = NULL, *name = NULL, *file = NULL, *line = NULL;
    int ours = 0;
    CYTHON_UNUSED_VAR(args);
    CYTHON_UNUSED_VAR(kwds);
    if (code) {
        consts = PyObject_GetAttrString(code, "co_consts");
        ours = consts ? PySequence_Contains(consts, (PyObject *) type) : -1;
    }
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
    Py_XDECREF(code);
    return NULL;
}

static PyType_Slot __pyx_qvx_NoBytecode_slots[] = {
    {Py_tp_new, (void *) __Pyx_qvx_NoBytecode_New},
    {0, 0}
};

static PyType_Spec __pyx_qvx_NoBytecode_spec = {
    __PYX_TYPE_MODULE_PREFIX "no_bytecode", 0, 0, Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    __pyx_qvx_NoBytecode_slots
};

/* What this module's code objects open with, found when it makes its first one: the bytecode,
   the constants it loads and the stack it needs; or the compiled code that serves whole. */
typedef struct {
    PyObject *bytecode;
    PyObject *consts;
    int stacksize;
    PyObject *whole;
} __Pyx_qvx_RaisingHead;

static __Pyx_qvx_RaisingHead __pyx_qvx_raising_head = {NULL, NULL, 0, NULL};

#ifndef __Pyx_qvx_BUILT_RAISING_HEAD
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

/* The running Python's bytecode for `raise ''` and its constants with the class in place of
   the string, where nothing else is loaded (no names, variables or exception handlers, one such
   constant); else that compiled code, to serve whole. */
static int __Pyx_qvx_CompileRaisingHead(__Pyx_qvx_RaisingHead *head, PyObject *type) {
    static const char *const unused[] = {"co_names", "co_varnames", "co_freevars", "co_cellvars",
                                         "co_exceptiontable"};
    PyObject *compiled, *consts = NULL, *marker = NULL, *stacksize = NULL;
    Py_ssize_t markers = 0, size = 0, i;
    int usable = 1, result = -1;
    compiled = Py_CompileString("raise ''", "<compiled code>", Py_file_input);
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
            Py_INCREF(type);
            item = type;
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

static int __Pyx_qvx_FindRaisingHead(__Pyx_qvx_RaisingHead *head) {
    PyObject *bases = PyTuple_Pack(1, PyExc_Exception), *type;
    int result = -1;
    if (!bases) return -1;
    type = (PyObject *) __Pyx_FetchCommonTypeFromSpec(NULL, NULL, &__pyx_qvx_NoBytecode_spec,
                                                      bases);
    Py_DECREF(bases);
    if (!type) return -1;
#ifdef __Pyx_qvx_BUILT_RAISING_HEAD
    head->bytecode = PyBytes_FromStringAndSize((const char *) __pyx_qvx_built_raising_head,
                                               sizeof(__pyx_qvx_built_raising_head));
    head->consts = head->bytecode ? PyTuple_Pack(1, type) : NULL;
    head->stacksize = __Pyx_qvx_BUILT_RAISING_STACK;
    if (head->consts) result = 0;
    else Py_CLEAR(head->bytecode);
#else
    result = __Pyx_qvx_CompileRaisingHead(head, type);
#endif
    Py_DECREF(type);
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
    __Pyx_qvx_RaisingHead *head = &__pyx_qvx_raising_head;
    PyObject *bytecode, *result;
    Py_ssize_t length, head_length;
    char *array, *head_array;
    CYTHON_UNUSED_VAR(c);
    if (!head->consts && !head->whole && __Pyx_qvx_FindRaisingHead(head) < 0) return NULL;
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
