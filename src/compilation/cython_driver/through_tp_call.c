/* The start of __Pyx_CyFunction_CallAsMethod (tp_call) for a function whose defaults were
   assigned: the call is bound to them and goes on through a copy of that entry without this
   test. */
    if (unlikely(cyfunc->flags & __Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS)) {
        PyObject *bound_args = NULL, *bound_kw = NULL;
        int bound = __Pyx_qvx_BindCallDefaults(func, args, kw, &bound_args, &bound_kw);
        if (bound < 0) return NULL;
        if (bound) {
            result = __Pyx_qvx_CallAsMethod_Bound(func, bound_args, bound_kw);
            Py_DECREF(bound_args);
            Py_XDECREF(bound_kw);
            return result;
        }
    }
