/* Put into a module's utility code where an 'async with' awaits what __aenter__ or __aexit__
   returned, or an 'async for' what __anext__ returned (see messages.py). What cannot be awaited
   is named as CPython names it, with the method that gave it: after __aenter__ or __aexit__ an
   object of a type without __await__ (an exception raised by its __await__ goes through), after
   __anext__ any failure, chained as its cause. Anything else goes as Cython's
   __Pyx_Coroutine_Yield_From takes it. */
static __Pyx_PySendResult __Pyx_qvx_Coroutine_Yield_From_Protocol(
        __pyx_CoroutineObject *gen, PyObject *source, PyObject **retval, const char *method) {
    __Pyx_PySendResult result;
    PyObject *source_gen;
    if (__Pyx_Coroutine_Check(source)) return __Pyx_Coroutine_Yield_From(gen, source, retval);
#ifdef __Pyx_AsyncGen_USED
    if (__pyx_PyAsyncGenASend_CheckExact(source))
        return __Pyx_Coroutine_Yield_From(gen, source, retval);
#endif
    source_gen = __Pyx_Coroutine_GetAwaitableIter(source);
    if (unlikely(!source_gen)) {
        if (strcmp(method, "__anext__") == 0) {
            __Pyx_Coroutine_AwaitableIterError(source);
        } else if (!__Pyx_PyObject_TryGetSubSlot(source, tp_as_async, am_await, unaryfunc)) {
            PyErr_Clear();
            __Pyx_RaiseTypeErrorWithObjectType1(
                "'async with' received an object from %s that does not implement __await__: "
                __Pyx_FMT_TYPENAME, method, source);
        }
        return PYGEN_ERROR;
    }
    if (__Pyx_Coroutine_Check(source_gen)) {
        result = __Pyx_Coroutine_Yield_From_Coroutine(gen, source_gen, retval);
        Py_DECREF(source_gen);
        return result;
    }
    *retval = __Pyx_PyIter_Next_Plain(source_gen);
    if (*retval) {
        __Pyx_Coroutine_Set_Owned_Yield_From(gen, source_gen);
        return PYGEN_NEXT;
    }
    result = __Pyx_Coroutine_status_from_result(retval);
    Py_DECREF(source_gen);
    return result;
}
