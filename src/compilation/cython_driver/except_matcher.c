/* Declared once for the `except` clauses whose types are not builtin exception names: as
   Python, matching an exception against what is no exception class (or a tuple holding one)
   raises TypeError instead of passing the handler by. */
static int __Pyx_qvx_CheckExceptMatcher(PyObject *matcher) {
    if (PyTuple_Check(matcher)) {
        Py_ssize_t i, count = PyTuple_Size(matcher);
        for (i = 0; i < count; i++) {
            PyObject *item = PyTuple_GetItem(matcher, i);
            if (!item)
                return -1;
            if (!PyType_Check(item)
                    || !PyType_IsSubtype((PyTypeObject *)item, (PyTypeObject *)PyExc_BaseException))
                goto refused;
        }
        return 0;
    }
    if (PyType_Check(matcher)
            && PyType_IsSubtype((PyTypeObject *)matcher, (PyTypeObject *)PyExc_BaseException))
        return 0;
refused:
    PyErr_SetString(PyExc_TypeError,
                    "catching classes that do not inherit from BaseException is not allowed");
    return -1;
}
