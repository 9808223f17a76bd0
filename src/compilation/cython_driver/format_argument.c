/* `format(value, form)` where the form may be no str: the C API's PyObject_Format raises
   SystemError for None, where Python's format() raises TypeError naming the argument's type. */
static PyObject *__Pyx_qvx_Format(PyObject *value, PyObject *form) {
    PyObject *type_name;
    if (likely(PyUnicode_Check(form)))
        return PyObject_Format(value, form);
    if (form == Py_None) {
        PyErr_SetString(PyExc_TypeError, "format() argument 2 must be str, not None");
        return NULL;
    }
    type_name = PyObject_GetAttrString((PyObject *)Py_TYPE(form), "__name__");
    if (type_name) {
        PyErr_Format(PyExc_TypeError, "format() argument 2 must be str, not %U", type_name);
        Py_DECREF(type_name);
    }
    return NULL;
}
