/* Calls take assigned __defaults__ and __kwdefaults__. Once they are assigned, a call first
   supplies every missing argument from them (and raises Python's TypeError for one that has
   none), so that the defaults compiled into the function's argument parsing are never reached.
   Until then nothing changes: a program's function gets another vectorcall entry only when its
   defaults are assigned; a call through tp_call tests a flag. Such calls are frequent (pyparsing
   assigns __kwdefaults__ to the functions of its old names): the missing arguments are bound into
   room on the C stack and passed to the function's own entry, the parameters are read from the
   code object's fields (through the limited API, from its attributes once, then from spare bits
   of the function's flags), and a new tuple of keyword names is made only where keywords are
   added. Put before the slots of Cython's function type. */

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

/* Calls take the function's defaults from its attributes from now on. */
static CYTHON_SMALL_CODE void __Pyx_qvx_BindFromAttributes(__pyx_CyFunctionObject *op) {
#if CYTHON_VECTORCALL
    if (__Pyx_qvx_GivenVectorcall(op)) {
        __Pyx_CyFunction_func_vectorcall(op) = __Pyx_qvx_Vectorcall_AssignedDefaults;
        return;
    }
#endif
    op->flags |= __Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS;
}

/* Stores an assigned __defaults__ or __kwdefaults__ (a new reference) in `slot`; calls take
   their defaults from the function's attributes from then on, or, where its __code__ was
   assigned, from the Python function that runs that code (replaced_code.c). */
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
    if (op->func_qvx_replacement)
        return PyObject_SetAttrString(op->func_qvx_replacement, slot == &op->defaults_tuple
                                      ? "__defaults__" : "__kwdefaults__", value);
    __Pyx_qvx_BindFromAttributes(op);
    return 0;
}

