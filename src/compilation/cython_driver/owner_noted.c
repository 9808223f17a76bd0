/* Notes compiled function `function`, made without a closure, as the owner of `code`, in the
   compiled body that `code` opens with (see running_code.c), for a function made from `code` to
   run it: the first function made from `code` is noted, a second makes it known by none. Best
   effort: a failure leaves `code` raising TypeError. Put before __Pyx_CyFunction_Init. */
static void __Pyx_qvx_NoteOwner(PyObject *code, PyObject *function) {
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *consts = PyObject_GetAttrString(code, "co_consts"), *name;
#else
    PyObject *consts = ((PyCodeObject *) code)->co_consts;
#endif
    PyObject *functions = NULL, *key = NULL, *known = NULL, *reference = NULL;
    Py_ssize_t at, size = consts ? PyTuple_Size(consts) : -1;
    for (at = 0; !functions && at < size; at++) {
        PyObject *item = PyTuple_GetItem(consts, at);
#if CYTHON_COMPILING_IN_LIMITED_API
        name = PyObject_GetAttrString((PyObject *) Py_TYPE(item), "__name__");
        if (name && PyUnicode_CompareWithASCIIString(name, "compiled_body") == 0)
            functions = ((__Pyx_qvx_CompiledBody *) item)->functions;
        Py_XDECREF(name);
#else
        if (strcmp(Py_TYPE(item)->tp_name, __PYX_TYPE_MODULE_PREFIX "compiled_body") == 0)
            functions = ((__Pyx_qvx_CompiledBody *) item)->functions;
#endif
    }
#if CYTHON_COMPILING_IN_LIMITED_API
    Py_XDECREF(consts);
#endif
    key = functions ? PyLong_FromVoidPtr(code) : NULL;
    known = key ? PyDict_GetItemWithError(functions, key) : NULL;
    if (known) {
        reference = known == Py_None ? NULL : Py_None;
        Py_XINCREF(reference);
    } else if (key && !PyErr_Occurred()) {
        reference = PyWeakref_NewRef(function, NULL);
    }
    if (reference) PyDict_SetItem(functions, key, reference);
    Py_XDECREF(reference);
    Py_XDECREF(key);
    if (PyErr_Occurred()) PyErr_Clear();
}
