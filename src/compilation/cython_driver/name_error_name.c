/* Put in place of the PyErr_Format of NameError in the look-up of a builtin (GetBuiltinName) and
   in the read of an unbound free variable (RaiseClosureNameError) of ObjectHandling.c: the error
   carries the name in its `name` attribute, as Python's does. */
    {
        PyObject *qvx_name = ${name}, *qvx_error = NULL;
        PyObject *qvx_message = qvx_name ? PyUnicode_FromFormat(${message}, qvx_name) : NULL;
        if (qvx_message)
            qvx_error = PyObject_CallFunctionObjArgs(PyExc_NameError, qvx_message, NULL);
        if (qvx_error && PyObject_SetAttrString(qvx_error, "name", qvx_name) == 0)
            PyErr_SetObject(PyExc_NameError, qvx_error);
        Py_XDECREF(qvx_error);
        Py_XDECREF(qvx_message);${release_name}
    }
