/* Run on a with-statement's manager before Cython looks its methods up (see semantics.py): a
   manager without the protocol raises TypeError in CPython's words, the entry method looked up
   first. */
static int __Pyx_qvx_HasSpecial(PyObject *manager, PyObject *name) {
#if CYTHON_USE_PYTYPE_LOOKUP && CYTHON_USE_TYPE_SLOTS
    return _PyType_Lookup(Py_TYPE(manager), name) != NULL;
#else
    PyObject *found = __Pyx_PyObject_GetAttrStrNoError((PyObject *) Py_TYPE(manager), name);
    if (found) {
        Py_DECREF(found);
        return 1;
    }
    return PyErr_Occurred() ? -1 : 0;
#endif
}

/* The type's name as CPython's messages give it (tp_name): a class's own name, a C type's
   module-qualified one. */
static PyObject *__Pyx_qvx_TypeNameOf(PyTypeObject *type) {
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *module, *name, *result;
    if (PyType_GetFlags(type) & Py_TPFLAGS_HEAPTYPE)
        return PyObject_GetAttrString((PyObject *) type, "__name__");
    name = PyObject_GetAttrString((PyObject *) type, "__qualname__");
    module = name ? PyObject_GetAttrString((PyObject *) type, "__module__") : NULL;
    if (!module || !PyUnicode_Check(module)
            || PyUnicode_CompareWithASCIIString(module, "builtins") == 0) {
        Py_XDECREF(module);
        return name;
    }
    result = PyUnicode_FromFormat("%U.%U", module, name);
    Py_DECREF(module);
    Py_DECREF(name);
    return result;
#else
    return PyUnicode_FromString(type->tp_name);
#endif
}

static int __Pyx_qvx_CheckContextProtocol(PyObject *manager, PyObject *enter_name,
                                          PyObject *exit_name, int is_async) {
    const char *kind = is_async ? "asynchronous " : "";
    PyObject *type_name;
    int has_enter = __Pyx_qvx_HasSpecial(manager, enter_name), has_exit = 0;
    if (unlikely(has_enter < 0)) return -1;
    if (likely(has_enter)) {
        has_exit = __Pyx_qvx_HasSpecial(manager, exit_name);
        if (likely(has_exit)) return has_exit < 0 ? -1 : 0;
    }
    type_name = __Pyx_qvx_TypeNameOf(Py_TYPE(manager));
    if (!type_name) return -1;
    if (has_enter)
        PyErr_Format(PyExc_TypeError, "'%U' object does not support the %scontext manager "
                     "protocol (missed %U method)", type_name, kind, exit_name);
    else
        PyErr_Format(PyExc_TypeError, "'%U' object does not support the %scontext manager "
                     "protocol", type_name, kind);
    Py_DECREF(type_name);
    return -1;
}
