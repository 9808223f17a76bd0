/* Put before the table of the coroutine type's slots in Coroutine.c (see functions.py), which
   gives these as the type's finalizer and deallocator. CPython warns of a coroutine never
   awaited by its whole qualified name, and also while an exception propagates (the coroutine
   dropped by the error of iterating it); Cython's finalizer cut the name at 50 characters and
   kept quiet then. Coroutines that started are finalized by Cython's. */
#if CYTHON_USE_TP_FINALIZE || __Pyx_qvx_FINALIZE_IN_LIMITED_API
static void __Pyx_qvx_Coroutine_del(PyObject *self) {
    PyObject *error_type, *error_value, *error_traceback;
    __pyx_CoroutineObject *gen = (__pyx_CoroutineObject *) self;
    __Pyx_PyThreadState_declare
    if (gen->resume_label != 0) {
        __Pyx_Coroutine_del(self);
        return;
    }
    __Pyx_PyThreadState_assign
    __Pyx_ErrFetch(&error_type, &error_value, &error_traceback);
    /* Python code runs while it warns, which may collect: the dying object is not tracked. */
    PyObject_GC_UnTrack(self);
    if (unlikely(PyErr_WarnFormat(PyExc_RuntimeWarning, 1, "coroutine '%S' was never awaited",
                                  gen->gi_qualname) < 0))
        PyErr_WriteUnraisable(self);
    PyObject_GC_Track(self);
    __Pyx_ErrRestore(error_type, error_value, error_traceback);
}
#endif

#if !CYTHON_USE_TP_FINALIZE && __Pyx_qvx_FINALIZE_IN_LIMITED_API
/* In a library Cython's deallocator calls its own finalizer: a coroutine never started is
   finalized here first, revived while it warns as finalize_in_libraries.c does, and left to
   Cython's as finished unless what saw the warning kept it. */
static void __Pyx_qvx_Coroutine_dealloc(PyObject *self) {
    __pyx_CoroutineObject *gen = (__pyx_CoroutineObject *) self;
    if (gen->resume_label == 0) {
        self->ob_refcnt = 1;
        __Pyx_qvx_Coroutine_del(self);
        if (--self->ob_refcnt != 0) return;
        gen->resume_label = -1;
    }
    __Pyx_Coroutine_dealloc(self);
}
#else
#define __Pyx_qvx_Coroutine_dealloc __Pyx_Coroutine_dealloc
#endif
