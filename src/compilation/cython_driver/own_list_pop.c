/* A utility of its own, used by `list.pop(items)` called unbound. Where Cython's direct C call
   has no list internals to work on (the stable ABI of a library), it calls the method by name
   on `items`, which runs the override of a subclass: the call goes through the type's own
   method there. */
#if CYTHON_USE_PYLIST_INTERNALS && CYTHON_ASSUME_SAFE_MACROS && CYTHON_ASSUME_SAFE_SIZE
#define __Pyx_qvx_ListPop(items) __Pyx_PyList_Pop(items)
#else
#define __Pyx_qvx_ListPop(items) PyObject_CallMethod((PyObject *)&PyList_Type, "pop", "(O)", items)
#endif
