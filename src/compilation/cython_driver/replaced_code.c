/* A function whose __code__ is assigned runs that code, as CPython's do: the code becomes a
   Python function of the function's globals, defaults, keyword defaults and qualified name (the
   replacement, which shares the keyword defaults' dict, so that changes made in place reach it
   too), and calls of the function go to it. A compiled function has no cells to give (its
   __closure__ is None): code with free variables is refused with CPython's ValueError. The
   function's own code assigned back brings its compiled body back. A program's function gets
   another vectorcall entry; a call through tp_call tests a flag, the one the assigned defaults
   already test. Reading __kwdefaults__ has calls see the dict it gives changed in place (below).
   Put before the table of the attributes of Cython's function type. */

#if CYTHON_COMPILING_IN_LIMITED_API
/* The stable ABI names neither type: each is taken from the types module when needed (only
   where a __code__ is assigned). */
static PyObject *__Pyx_qvx_TypesAttribute(const char *name) {
    PyObject *types = PyImport_ImportModule("types");
    PyObject *found = types ? PyObject_GetAttrString(types, name) : NULL;
    Py_XDECREF(types);
    return found;
}
#endif

/* Whether `value` is a code object: 1, 0 or -1 with an exception. */
static int __Pyx_qvx_IsCode(PyObject *value) {
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *code_type = __Pyx_qvx_TypesAttribute("CodeType");
    int is_code = code_type ? PyObject_TypeCheck(value, (PyTypeObject *)code_type) : -1;
    Py_XDECREF(code_type);
    return is_code;
#else
    return PyCode_Check(value);
#endif
}

/* The count of `code`'s free variables, or -1 with an exception. */
static Py_ssize_t __Pyx_qvx_FreeCount(PyObject *code) {
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *names = PyObject_GetAttrString(code, "co_freevars");
    Py_ssize_t count = names ? PyObject_Size(names) : -1;
    Py_XDECREF(names);
    return count;
#else
    return PyCode_GetNumFree((PyCodeObject *)code);
#endif
}

/* A Python function of `code` that takes the compiled function's place, or NULL with an
   exception. */
static PyObject *__Pyx_qvx_MakeReplacement(PyObject *op_in, PyObject *code) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    static const char *const shared[] = {"__defaults__", "__kwdefaults__", "__qualname__"};
    PyObject *replacement;
    size_t at;
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *function_type = __Pyx_qvx_TypesAttribute("FunctionType");
    replacement = function_type ? PyObject_CallFunctionObjArgs(function_type, code,
                                                               op->func_globals, NULL) : NULL;
    Py_XDECREF(function_type);
#else
    replacement = PyFunction_New(code, op->func_globals);
#endif
    for (at = 0; replacement && at < sizeof(shared) / sizeof(shared[0]); at++) {
        PyObject *value = PyObject_GetAttrString(op_in, shared[at]);
        if (!value || PyObject_SetAttrString(replacement, shared[at], value) < 0)
            Py_CLEAR(replacement);
        Py_XDECREF(value);
    }
    return replacement;
}

static PyObject *__Pyx_qvx_get_code(PyObject *op_in, void *context) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    if (op->func_qvx_replacement)
        return PyObject_GetAttrString(op->func_qvx_replacement, "__code__");
    return __Pyx_CyFunction_get_code(op_in, context);
}

#if CYTHON_VECTORCALL
static PyObject *__Pyx_qvx_Vectorcall_ReplacedCode(PyObject *func, PyObject *const *args,
                                                   size_t nargsf, PyObject *kwnames) {
    /* Held through the call, which may assign __code__ again. */
    PyObject *replacement = __Pyx_as_CyFunctionObject(func)->func_qvx_replacement, *result;
    Py_INCREF(replacement);
    result = PyObject_Vectorcall(replacement, args, nargsf, kwnames);
    Py_DECREF(replacement);
    return result;
}
#endif

/* The start of tp_call for a function whose code was replaced. */
static PyObject *__Pyx_qvx_CallReplacedCode(PyObject *func, PyObject *args, PyObject *kw) {
    PyObject *replacement = __Pyx_as_CyFunctionObject(func)->func_qvx_replacement, *result;
    Py_INCREF(replacement);
    result = PyObject_Call(replacement, args, kw);
    Py_DECREF(replacement);
    return result;
}

static int __Pyx_qvx_set_code(PyObject *op_in, PyObject *value, void *context) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    PyObject *replacement, *name;
    Py_ssize_t free_count;
    int is_code = value ? __Pyx_qvx_IsCode(value) : 0;
    CYTHON_UNUSED_VAR(context);
    if (is_code <= 0) {
        if (is_code == 0)
            PyErr_SetString(PyExc_TypeError, "__code__ must be set to a code object");
        return -1;
    }
    if ((free_count = __Pyx_qvx_FreeCount(value)) < 0) return -1;
    if (free_count) {
        name = PyObject_GetAttrString(op_in, "__name__");
        if (name)
            PyErr_Format(PyExc_ValueError,
                         "%U() requires a code object with 0 free vars, not %zd", name,
                         free_count);
        Py_XDECREF(name);
        return -1;
    }
    if (value == op->func_code) {
        if (op->func_qvx_replacement) {
            Py_CLEAR(op->func_qvx_replacement);
            op->flags &= ~__Pyx_qvx_CYFUNCTION_REPLACED_CODE;
            /* The vectorcall entry given up goes back to one that binds the defaults from the
               attributes, which is right whatever happened to them meanwhile. */
            __Pyx_qvx_BindFromAttributes(op);
        }
        return 0;
    }
    if (!(replacement = __Pyx_qvx_MakeReplacement(op_in, value))) return -1;
    __Pyx_Py_XDECREF_SET(op->func_qvx_replacement, replacement);
    op->flags |= __Pyx_qvx_CYFUNCTION_REPLACED_CODE;
#if CYTHON_VECTORCALL
    __Pyx_CyFunction_func_vectorcall(op) = __Pyx_qvx_Vectorcall_ReplacedCode;
#endif
    return 0;
}

#if CYTHON_VECTORCALL
/* Whether the keyword defaults hold what they held when first read: the same keys and values in
   the same order (a dict of the same items in another order counts as changed). */
static CYTHON_INLINE int __Pyx_qvx_KwDefaultsAsSeen(__pyx_CyFunctionObject *op) {
    PyObject *seen = op->func_qvx_kwdefaults_seen, *now = op->defaults_kwdict;
    PyObject *seen_key, *seen_value, *key, *value;
    Py_ssize_t at_seen = 0, at_now = 0;
    if (!now || now == Py_None || PyDict_Size(now) != PyDict_Size(seen)) return 0;
    while (PyDict_Next(seen, &at_seen, &seen_key, &seen_value))
        if (!PyDict_Next(now, &at_now, &key, &value) || key != seen_key || value != seen_value)
            return 0;
    return 1;
}

/* The vectorcall entry of a function whose __kwdefaults__ was read: its own entry while they
   hold what they held then; once they change, calls bind them for good. */
static PyObject *__Pyx_qvx_Vectorcall_KwDefaultsSeen(PyObject *func, PyObject *const *args,
                                                     size_t nargsf, PyObject *kwnames) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(func);
    if (likely(__Pyx_qvx_KwDefaultsAsSeen(op)))
        return __Pyx_qvx_GivenVectorcall(op)(func, args, nargsf, kwnames);
    Py_CLEAR(op->func_qvx_kwdefaults_seen);
    __Pyx_qvx_BindFromAttributes(op);
    return __Pyx_qvx_Vectorcall_AssignedDefaults(func, args, nargsf, kwnames);
}
#endif

/* Reading __kwdefaults__ hands out the dict that calls are to take their keyword defaults from,
   which may then be changed in place. A function called by vectorcall keeps a copy of it and
   calls its own entry while the dict holds what the copy does (a few comparisons a call); other
   functions, and one whose dict has changed, bind the defaults from it at each call. A function
   never read keeps its own entry. */
static PyObject *__Pyx_qvx_get_kwdefaults(PyObject *op_in, void *context) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    PyObject *kwdefaults = __Pyx_CyFunction_get_kwdefaults(op_in, context);
    if (!kwdefaults || kwdefaults == Py_None || op->func_qvx_replacement) return kwdefaults;
#if CYTHON_VECTORCALL
    {
        __pyx_vectorcallfunc entry = __Pyx_CyFunction_func_vectorcall(op);
        if (entry == __Pyx_qvx_Vectorcall_KwDefaultsSeen
                || entry == __Pyx_qvx_Vectorcall_AssignedDefaults)
            return kwdefaults;
        if (entry && entry == __Pyx_qvx_GivenVectorcall(op)) {
            if (unlikely(!(op->func_qvx_kwdefaults_seen = PyDict_Copy(kwdefaults)))) {
                Py_DECREF(kwdefaults);
                return NULL;
            }
            __Pyx_CyFunction_func_vectorcall(op) = __Pyx_qvx_Vectorcall_KwDefaultsSeen;
            return kwdefaults;
        }
    }
#endif
    __Pyx_qvx_BindFromAttributes(op);
    return kwdefaults;
}
