/* In place of __Pyx_ExceptionSave and __Pyx_ExceptionReset around a try statement that holds a
   yield or await of a generator's or coroutine's body (see semantics.py). The exception a try
   statement saves and restores is the generator's own only, never what the caller that resumed it
   handled then: restored after a yield, that one was seen as handled though the generator had
   been resumed from elsewhere. Where the generator's state is stacked on the thread's, it saves
   what is in the generator's own entry, and restoring none lets the caller's show through again.
   Where it is not (the limited API), the caller's exception stands in the one place while the
   generator has none of its own, and the generator keeps a copy of it: a try statement that finds
   that one saves none, and restoring none puts back what the caller resuming it handles. */
#if CYTHON_USE_EXC_INFO_STACK
#define __Pyx_qvx_GeneratorExceptionSave(gen, type, value, tb) {                      \
    __Pyx_ExceptionSave(type, value, tb);                                              \
    if (*(value) && *(value) != (gen)->gi_exc_state.exc_value) {                       \
        Py_CLEAR(*(type)); Py_CLEAR(*(value)); Py_CLEAR(*(tb));                        \
    }                                                                                  \
}
#define __Pyx_qvx_GeneratorExceptionReset(gen, type, value, tb) __Pyx_ExceptionReset(type, value, tb)
#else
#define __Pyx_qvx_GeneratorExceptionSave(gen, type, value, tb) {                      \
    __Pyx_ExceptionSave(type, value, tb);                                              \
    if (*(value) && *(value) == (gen)->gi_exc_state.exc_value) {                       \
        Py_CLEAR(*(type)); Py_CLEAR(*(value)); Py_CLEAR(*(tb));                        \
    }                                                                                  \
}
#define __Pyx_qvx_GeneratorExceptionReset(gen, type, value, tb) {                     \
    if (!(value) && (gen)->gi_exc_state.exc_value) {                                   \
        (type) = (gen)->gi_exc_state.exc_type; Py_XINCREF(type);                       \
        (value) = (gen)->gi_exc_state.exc_value; Py_XINCREF(value);                    \
        (tb) = (gen)->gi_exc_state.exc_traceback; Py_XINCREF(tb);                      \
    }                                                                                  \
    __Pyx_ExceptionReset(type, value, tb);                                             \
}
#endif
