/* Put before the attribute tables of Cython's function, generator, coroutine and async
   generator types, whose `__class__` answers Python's own type: isinstance() asks `__class__`
   when the object's type is not the class it is given, so that compiled code is what Python's
   own code is to it, while type() and calls stay as they are. The include guard keeps one copy
   in a C file. */
#ifndef __Pyx_qvx_PYTHON_CLASS
#define __Pyx_qvx_PYTHON_CLASS
#if CYTHON_COMPILING_IN_LIMITED_API
/* The stable ABI names none of these types: each is taken from the types module the first time
   it is asked for. They are static types of the interpreter, alive as long as it is. */
static PyObject *__Pyx_qvx_python_type(PyObject *self, const char *name, PyObject **kept) {
    if (unlikely(!*kept)) {
        PyObject *types = PyImport_ImportModuleLevel("types", NULL, NULL, NULL, 0);
        PyObject *found = types ? PyObject_GetAttrString(types, name) : NULL;
        Py_XDECREF(types);
        if (unlikely(!found || !PyType_Check(found))) {
            /* Without the types module (at the interpreter's end) the object's own type is
               the truth. */
            Py_XDECREF(found);
            PyErr_Clear();
            Py_INCREF((PyObject *)Py_TYPE(self));
            return (PyObject *)Py_TYPE(self);
        }
        *kept = found;
    }
    Py_INCREF(*kept);
    return *kept;
}
#define __Pyx_qvx_PYTHON_CLASS_GETTER(getter, limited_name, type)                        \
    static PyObject *getter(PyObject *self, void *context) {                            \
        static PyObject *kept = NULL;                                                   \
        (void)context;                                                                  \
        return __Pyx_qvx_python_type(self, limited_name, &kept);                        \
    }
#else
#define __Pyx_qvx_PYTHON_CLASS_GETTER(getter, limited_name, type)                        \
    static PyObject *getter(PyObject *self, void *context) {                            \
        (void)self;                                                                     \
        (void)context;                                                                  \
        Py_INCREF((PyObject *)&type);                                                   \
        return (PyObject *)&type;                                                       \
    }
#endif

/* Assigning or deleting `__class__` fails as it does for Python's own objects of these types:
   object's own descriptor of it says why. */
static int __Pyx_qvx_set_python_class(PyObject *self, PyObject *value, void *context) {
    PyObject *attributes = PyObject_GetAttrString((PyObject *)&PyBaseObject_Type, "__dict__");
    PyObject *descriptor = attributes ? PyMapping_GetItemString(attributes, "__class__") : NULL;
    PyObject *result = NULL;
    (void)context;
    Py_XDECREF(attributes);
    if (likely(descriptor)) {
        result = value ? PyObject_CallMethod(descriptor, "__set__", "OO", self, value)
                       : PyObject_CallMethod(descriptor, "__delete__", "O", self);
        Py_DECREF(descriptor);
    }
    if (unlikely(!result)) return -1;
    Py_DECREF(result);
    return 0;
}
#endif
