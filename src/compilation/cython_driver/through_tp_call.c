/* The start of __Pyx_CyFunction_CallAsMethod (tp_call) for a function whose defaults or code
   were assigned: the call goes to the Python function that runs the code assigned, or is bound
   to the defaults and goes on through a copy of that entry without this test. */
    if (unlikely(cyfunc->flags & (__Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS
                                  | __Pyx_qvx_CYFUNCTION_REPLACED_CODE))) {
        PyObject *bound_args = NULL, *bound_kw = NULL;
        int bound;
        if (cyfunc->flags & __Pyx_qvx_CYFUNCTION_REPLACED_CODE)
            return __Pyx_qvx_CallReplacedCode(func, args, kw);
        bound = __Pyx_qvx_BindCallDefaults(func, args, kw, &bound_args, &bound_kw);
        if (bound < 0) return NULL;
        if (bound) {
            result = __Pyx_qvx_CallAsMethod_Bound(func, bound_args, bound_kw);
            Py_DECREF(bound_args);
            Py_XDECREF(bound_kw);
            return result;
        }
    }
