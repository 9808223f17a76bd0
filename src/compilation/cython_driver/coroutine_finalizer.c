/* Put before the table of the coroutine type's attributes in Coroutine.c (see functions.py):
   `cr_origin` is one of them, and the table of its slots gives the finalizer and deallocator.
   As CPython, a coroutine never awaited is warned of through warnings._warn_unawaited_coroutine
   (which writes the warning with the coroutine as its source), directly when that is missing or
   fails, by its whole qualified name, and also while an exception propagates (the coroutine
   dropped by the error of iterating it); Cython's finalizer cut the name at 50 characters and
   kept quiet then. Coroutines that started are finalized by Cython's. */
static PyObject *__Pyx_qvx_Coroutine_get_origin(PyObject *self, void *context) {
    /* Compiled code has no frames to record where a coroutine was made. */
    CYTHON_UNUSED_VAR(self);
    CYTHON_UNUSED_VAR(context);
    Py_RETURN_NONE;
}

#if CYTHON_USE_TP_FINALIZE || __Pyx_qvx_FINALIZE_IN_LIMITED_API
static void __Pyx_qvx_Coroutine_warn_unawaited(__pyx_CoroutineObject *gen) {
    PyObject *self = (PyObject *) gen, *name, *warnings = NULL, *warn = NULL, *result;
    int warned = 0;
    name = PyUnicode_FromString("warnings");
    if (likely(name)) {
        warnings = PyImport_GetModule(name);
        Py_DECREF(name);
    }
    if (warnings) {
        warn = PyObject_GetAttrString(warnings, "_warn_unawaited_coroutine");
        Py_DECREF(warnings);
        if (!warn && PyErr_ExceptionMatches(PyExc_AttributeError)) PyErr_Clear();
    }
    if (warn) {
        result = __Pyx_PyObject_CallOneArg(warn, self);
        Py_DECREF(warn);
        warned = result || PyErr_ExceptionMatches(PyExc_RuntimeWarning);
        Py_XDECREF(result);
    }
    if (PyErr_Occurred()) PyErr_WriteUnraisable(self);
    if (!warned && unlikely(PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                                             "coroutine '%S' was never awaited",
                                             gen->gi_qualname) < 0))
        PyErr_WriteUnraisable(self);
}

/* In a library, where no frame is made, the frame's place marks a coroutine warned of: the
   interpreter keeps no such mark for the finalizer that Cython's deallocator calls there. */
#if CYTHON_COMPILING_IN_LIMITED_API
#define __Pyx_qvx_WARNED_UNAWAITED(gen) ((gen)->gi_frame != NULL)
#define __Pyx_qvx_MARK_WARNED_UNAWAITED(gen) ((gen)->gi_frame = Py_NewRef(Py_None))
#else
#define __Pyx_qvx_WARNED_UNAWAITED(gen) 0
#define __Pyx_qvx_MARK_WARNED_UNAWAITED(gen) ((void) (gen))
#endif

static void __Pyx_qvx_Coroutine_del(PyObject *self) {
    PyObject *error_type, *error_value, *error_traceback;
    __pyx_CoroutineObject *gen = (__pyx_CoroutineObject *) self;
    __Pyx_PyThreadState_declare
    if (gen->resume_label != 0) {
        __Pyx_Coroutine_del(self);
        return;
    }
    if (__Pyx_qvx_WARNED_UNAWAITED(gen)) return;
    __Pyx_PyThreadState_assign
    __Pyx_ErrFetch(&error_type, &error_value, &error_traceback);
    /* Python code runs while it warns, which may collect: the dying object is not tracked. */
    PyObject_GC_UnTrack(self);
    __Pyx_qvx_Coroutine_warn_unawaited(gen);
    __Pyx_qvx_MARK_WARNED_UNAWAITED(gen);
    PyObject_GC_Track(self);
    __Pyx_ErrRestore(error_type, error_value, error_traceback);
}
#endif

#if !CYTHON_USE_TP_FINALIZE && __Pyx_qvx_FINALIZE_IN_LIMITED_API
/* In a library Cython's deallocator calls its own finalizer: a coroutine never started is
   finalized here first (unless it was, by a collection or before what saw the warning let it
   go), revived while it warns as finalize_in_libraries.c does, and left to Cython's as finished
   unless what saw the warning kept it. */
static void __Pyx_qvx_Coroutine_dealloc(PyObject *self) {
    __pyx_CoroutineObject *gen = (__pyx_CoroutineObject *) self;
    if (gen->resume_label == 0) {
        if (!__Pyx_qvx_WARNED_UNAWAITED(gen)) {
            self->ob_refcnt = 1;
            __Pyx_qvx_Coroutine_del(self);
            if (--self->ob_refcnt != 0) return;
        }
        gen->resume_label = -1;
    }
    __Pyx_Coroutine_dealloc(self);
}
#else
#define __Pyx_qvx_Coroutine_dealloc __Pyx_Coroutine_dealloc
#endif
