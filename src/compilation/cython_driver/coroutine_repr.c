/* Put before the table of the coroutine type's slots in Coroutine.c (see messages.py), which
   gives it as the type's repr: CPython's names the coroutine by its qualified name, where the
   default one named Cython's type. */
static PyObject *__Pyx_qvx_Coroutine_repr(PyObject *self) {
    return PyUnicode_FromFormat("<coroutine object %S at %p>",
                                ((__pyx_CoroutineObject *) self)->gi_qualname, self);
}
