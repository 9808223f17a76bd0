/* Put in __Pyx_Coroutine_SendEx in Coroutine.c after its check of a finished generator (see
   functions.py). A value other than None sent to a generator or coroutine that has not started is
   refused before its body runs, as CPython refuses it: the generator stays unstarted, where the
   body's own check finished it. */
    if (unlikely(self->resume_label == 0 && value && value != Py_None)) {
        const char *kind = "generator";
        #ifdef __Pyx_Coroutine_USED
        if (__Pyx_Coroutine_Check((PyObject*) self)) kind = "coroutine";
        #endif
        #ifdef __Pyx_AsyncGen_USED
        if (__Pyx_AsyncGen_CheckExact((PyObject*) self)) kind = "async generator";
        #endif
        PyErr_Format(PyExc_TypeError, "can't send non-None value to a just-started %s", kind);
        return PYGEN_ERROR;
    }
