/* Put in __Pyx_Coroutine_Throw in Coroutine.c before the call that throws (see functions.py):
   CPython 3.12 deprecates throw() given a type with a value or traceback. */
#if PY_VERSION_HEX >= 0x030C0000
    if (val && unlikely(PyErr_WarnEx(PyExc_DeprecationWarning,
            "the (type, exc, tb) signature of throw() is deprecated, "
            "use the single-arg signature instead.", 1) < 0))
        return NULL;
#endif
