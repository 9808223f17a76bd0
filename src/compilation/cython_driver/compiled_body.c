/* The constant of a module's code objects: the compiled functions they belong to, by the
   address of the code object (hashing a code object reads all of it; the module keeps its code
   objects for good): a weak reference to the one function made from it, or None where several
   were.
   Read by Cython's functions, which may be made in a module of their own, and by the code
   objects' head; put before either. */
#ifndef __Pyx_qvx_COMPILED_BODY
#define __Pyx_qvx_COMPILED_BODY
typedef struct {
    PyObject_HEAD
    PyObject *functions;
} __Pyx_qvx_CompiledBody;
#endif
