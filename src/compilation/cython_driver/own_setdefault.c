/* A utility of its own, used by `dict.setdefault(d, key, value)` called unbound. Where the stable
   ABI has no PyDict_SetDefault, Cython's C calls the method by name on `d`, which runs the
   override of a subclass: the call goes through the type's own method there, and stays
   Cython's direct C call elsewhere. */
#if CYTHON_COMPILING_IN_LIMITED_API
#define __Pyx_qvx_DictSetDefault(d, key, value) \
    PyObject_CallMethod((PyObject *)&PyDict_Type, "setdefault", "OOO", d, key, value)
#else
#define __Pyx_qvx_DictSetDefault(d, key, value) __Pyx_PyDict_SetDefault(d, key, value)
#endif
