/* Put after the test in __Pyx_Coroutine_del of Coroutine.c that spares generators the warning
   of a coroutine never awaited: CPython gives it for coroutines only, never for an async
   generator dropped before it started. */
#ifdef __Pyx_AsyncGen_USED
    if (!__Pyx_AsyncGen_CheckExact(self))
#endif
