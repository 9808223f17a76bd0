/* Put among the utility functions of a module that calls `x.split(f)` or `x.subgroup(f)` with
   an argument that is not a constant: the argument as it goes to the call. An exception group
   takes only Python's own functions for predicates (besides exception types), so a compiled
   function given to one is handed over inside a Python function that calls it; for every other
   object, and every other argument, the argument goes as it is. */
static PyObject *__Pyx_qvx_python_matcher(PyObject *owner, PyObject *matcher) {
#if PY_VERSION_HEX >= 0x030B0000 && (!defined(Py_LIMITED_API) || Py_LIMITED_API >= 0x030B0000)
    /* `lambda predicate: lambda exception: predicate(exception)`, made once: a function of
       the interpreter's, alive as long as it is. */
    static PyObject *wrapping = NULL;
    PyObject *code, *globals;
    if (!PyObject_TypeCheck(owner, (PyTypeObject *)PyExc_BaseExceptionGroup) ||
        !__Pyx_CyFunction_Check(matcher)) {
        Py_INCREF(matcher);
        return matcher;
    }
    if (unlikely(!wrapping)) {
        code = Py_CompileString("lambda predicate: lambda exception: predicate(exception)",
                                "<compiled predicate>", Py_eval_input);
        if (unlikely(!code)) return NULL;
        globals = PyDict_New();
        if (likely(globals)) wrapping = PyEval_EvalCode(code, globals, globals);
        Py_XDECREF(globals);
        Py_DECREF(code);
        if (unlikely(!wrapping)) return NULL;
    }
    return PyObject_CallFunctionObjArgs(wrapping, matcher, NULL);
#else
    /* Before Python 3.11 there are no exception groups. */
    (void)owner;
    Py_INCREF(matcher);
    return matcher;
#endif
}

/* The common case, a matcher that is no compiled function, costs one type check inline. */
static CYTHON_INLINE PyObject *__Pyx_qvx_exception_group_matcher(PyObject *owner,
                                                                 PyObject *matcher) {
    if (likely(!__Pyx_CyFunction_Check(matcher))) {
        Py_INCREF(matcher);
        return matcher;
    }
    return __Pyx_qvx_python_matcher(owner, matcher);
}
