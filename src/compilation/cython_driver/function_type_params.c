/* Put before the attribute table of Cython's function type (see type_params.py): a compiled
   function has `__type_params__` as Python's has, an empty tuple unless a tuple was set, which
   the function keeps in its `__dict__`. */
static PyObject *__Pyx_qvx_CyFunction_get_type_params(PyObject *op, void *context) {
    PyObject *dict = PyObject_GenericGetDict(op, context), *params;
    if (!dict) return NULL;
    params = PyDict_GetItemString(dict, "__type_params__");
    if (params) Py_INCREF(params);
    Py_DECREF(dict);
    return params ? params : PyTuple_New(0);
}

static int __Pyx_qvx_CyFunction_set_type_params(PyObject *op, PyObject *value, void *context) {
    PyObject *dict;
    int result;
    if (!value || !PyTuple_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "__type_params__ must be set to a tuple");
        return -1;
    }
    dict = PyObject_GenericGetDict(op, context);
    if (!dict) return -1;
    result = PyDict_SetItemString(dict, "__type_params__", value);
    Py_DECREF(dict);
    return result;
}

