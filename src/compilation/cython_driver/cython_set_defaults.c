/* Cython's setter of __defaults__ (or, with kind "kw", __kwdefaults__) as CythonFunction.c writes
   it, where the correction of assigned defaults finds it: ${kind}, ${check}, ${type} and ${field}
   are those of the one or the other. */
static int
__Pyx_CyFunction_set_${kind}defaults(PyObject *op_in, PyObject* value, void *context) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    CYTHON_UNUSED_VAR(context);
    if (!value) {
        // del => explicit None to prevent rebuilding
        value = Py_None;
    } else if (unlikely(value != Py_None && !${check}(value))) {
        PyErr_SetString(PyExc_TypeError,
                        "__${kind}defaults__ must be set to a ${type} object");
        return -1;
    }
    PyErr_WarnEx(PyExc_RuntimeWarning, "changes to cyfunction.__${kind}defaults__ will not "
                 "currently affect the values used in function calls", 1);
    Py_INCREF(value);
    __Pyx_BEGIN_CRITICAL_SECTION(op_in);
    __Pyx_Py_XDECREF_SET(op->${field}, value);
    __Pyx_END_CRITICAL_SECTION();
    return 0;
}
