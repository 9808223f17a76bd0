/* Put before the creation of a class whose methods use zero-argument super() or __class__ (see
   semantics.py): the namespace carries the cell, as CPython's does, and the methods hold it
   until the class is made; afterwards they hold the class itself. */
#if CYTHON_COMPILING_IN_LIMITED_API
static PyObject *__Pyx_qvx_CellType(void) {
    PyObject *types = PyImport_ImportModule("types");
    PyObject *cell_type;
    if (!types) return NULL;
    cell_type = PyObject_GetAttrString(types, "CellType");
    Py_DECREF(types);
    return cell_type;
}
#endif

static int __Pyx_qvx_OfferClassCell(PyObject *namespace, PyObject *methods) {
    PyObject *cell, *key;
    int failed;
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *cell_type = __Pyx_qvx_CellType();
    if (!cell_type) return -1;
    cell = PyObject_CallNoArgs(cell_type);
    Py_DECREF(cell_type);
#else
    cell = PyCell_New(NULL);
#endif
    if (!cell) return -1;
    key = PyUnicode_InternFromString("__classcell__");
    failed = !key || PyObject_SetItem(namespace, key, cell) < 0
             || __Pyx_CyFunction_InitClassCell(methods, cell) < 0;
    Py_XDECREF(key);
    Py_DECREF(cell);
    return failed ? -1 : 0;
}

/* The class a method's __class__ names, borrowed: NULL while its cell is empty. */
static PyObject *__Pyx_qvx_ClassOfCell(PyObject *held) {
    if (likely(!held || PyType_Check(held))) return held;
#if CYTHON_COMPILING_IN_LIMITED_API
    {
        PyObject *cell_type = __Pyx_qvx_CellType(), *contents;
        int is_cell;
        if (!cell_type) return NULL;
        is_cell = (PyObject *) Py_TYPE(held) == cell_type;
        Py_DECREF(cell_type);
        if (!is_cell) return held;
        contents = PyObject_GetAttrString(held, "cell_contents");
        if (!contents) {
            if (PyErr_ExceptionMatches(PyExc_ValueError)) PyErr_Clear();
            return NULL;
        }
        /* The cell holds it as long as the method holds the cell. */
        Py_DECREF(contents);
        return contents;
    }
#else
    return PyCell_Check(held) ? PyCell_GET(held) : held;
#endif
}

/* Once the metaclass has returned, as CPython's __build_class__: a class must be what
   type.__new__ put into the cell, and its methods then hold the class itself. What is no class
   (a metaclass may return anything) leaves them holding the cell, which a later type.__new__
   of the same namespace may fill. */
static int __Pyx_qvx_SettleClassCell(PyObject *methods, PyObject *classobj, PyObject *name) {
    PyObject *first, *held, *in_cell;
    Py_ssize_t count = PyList_Size(methods);
    if (count < 0) return -1;
    if (count == 0 || !PyType_Check(classobj)) return 0;
    first = PySequence_GetItem(methods, 0);
    if (!first) return -1;
    held = __Pyx_CyFunction_GetClassObj(first);
    Py_DECREF(first);
    if (!held || PyType_Check(held)) return __Pyx_CyFunction_InitClassCell(methods, classobj);
    in_cell = __Pyx_qvx_ClassOfCell(held);
    if (in_cell == classobj) return __Pyx_CyFunction_InitClassCell(methods, classobj);
    if (PyErr_Occurred()) return -1;
    if (!in_cell)
        PyErr_Format(PyExc_RuntimeError, "__class__ not set defining %R as %R. "
                     "Was __classcell__ propagated to type.__new__?", name, classobj);
    else
        PyErr_Format(PyExc_TypeError, "__class__ set to %R defining %R as %R",
                     in_cell, name, classobj);
    return -1;
}
