/* Put before __Pyx_Coroutine_dealloc in Coroutine.c (see functions.py). The limited API lacks
   PyObject_CallFinalizerFromDealloc: this does what it does, reviving the object while its
   finalizer runs (through the reference count, the first field of every object in the stable
   ABI of a build with the GIL) and keeping it if the finalizer stored it somewhere. */
#if !CYTHON_USE_TP_FINALIZE && __Pyx_qvx_FINALIZE_IN_LIMITED_API
static void __Pyx_Coroutine_del(PyObject *self);
static int __Pyx_qvx_CallFinalizerFromDealloc(PyObject *self) {
    self->ob_refcnt = 1;
    __Pyx_Coroutine_del(self);
    return --self->ob_refcnt == 0 ? 0 : -1;
}
#else
#define __Pyx_qvx_CallFinalizerFromDealloc PyObject_CallFinalizerFromDealloc
#endif

