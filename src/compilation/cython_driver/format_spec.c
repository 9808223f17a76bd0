/* A utility of its own, used by `format(value, spec)` where the spec may be no str: the C API's
   format raises SystemError for such a spec, where Python's format() raises TypeError. */
static PyObject *__Pyx_qvx_Format(PyObject *value, PyObject *spec) {
    PyObject *type_name;
    if (likely(PyUnicode_Check(spec)))
        return PyObject_Format(value, spec);
    if (spec == Py_None) {
        PyErr_SetString(PyExc_TypeError, "format() argument 2 must be str, not None");
        return NULL;
    }
    type_name = PyObject_GetAttrString((PyObject *)Py_TYPE(spec), "__name__");
    if (type_name) {
        PyErr_Format(PyExc_TypeError, "format() argument 2 must be str, not %U", type_name);
        Py_DECREF(type_name);
    }
    return NULL;
}
