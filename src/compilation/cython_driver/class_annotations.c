/* Declared for the classes whose bodies annotate names: the annotations go into the
   "__annotations__" that the namespace already holds (one that a metaclass's __prepare__ put
   there), one by one through its own item assignment, as Python's class body stores them; a
   namespace without one gets the dict of them. */
static int __Pyx_qvx_SetClassAnnotations(PyObject *namespace, PyObject *name, PyObject *annotations) {
    PyObject *key, *value, *own = PyObject_GetItem(namespace, name);
    Py_ssize_t at = 0;
    int status = 0;
    if (!own) {
        if (!PyErr_ExceptionMatches(PyExc_KeyError))
            return -1;
        PyErr_Clear();
        return PyObject_SetItem(namespace, name, annotations);
    }
    while (status == 0 && PyDict_Next(annotations, &at, &key, &value))
        status = PyObject_SetItem(own, key, value);
    Py_DECREF(own);
    return status;
}
