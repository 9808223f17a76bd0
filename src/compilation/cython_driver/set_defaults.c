/* The setter of __defaults__ (or, with kind "kw", __kwdefaults__) that replaces Cython's
   (cython_set_defaults.c): it stores the value without a warning, and calls take it from then
   on (assigned_defaults.c). */
static int
__Pyx_CyFunction_set_${kind}defaults(PyObject *op_in, PyObject* value, void *context) {
    __pyx_CyFunctionObject *op = __Pyx_as_CyFunctionObject(op_in);
    int stored;
    CYTHON_UNUSED_VAR(context);
    if (!value) {
        // del => explicit None to prevent rebuilding
        value = Py_None;
    } else if (unlikely(value != Py_None && !${check}(value))) {
        PyErr_SetString(PyExc_TypeError,
                        "__${kind}defaults__ must be set to a ${type} object");
        return -1;
    }
    Py_INCREF(value);
    __Pyx_BEGIN_CRITICAL_SECTION(op_in);
    stored = __Pyx_qvx_AssignDefaults(op, op_in, &op->${field}, value);
    __Pyx_END_CRITICAL_SECTION();
    return stored;
}
