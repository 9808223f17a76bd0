/* Put into a module's utility code where a coroutine's body ends by an exception (see
   messages.py), in place of Cython's __Pyx_Generator_Replace_StopIteration(0), which it calls:
   the RuntimeError that replaces a StopIteration leaving a coroutine says "coroutine", as
   CPython's does, where Cython's says "generator". */
static void __Pyx_qvx_Coroutine_Replace_StopIteration(void) {
    PyObject *type, *value, *traceback, *words;
    int stopped;
    __Pyx_PyThreadState_declare
    __Pyx_PyThreadState_assign
    stopped = __Pyx_PyErr_ExceptionMatches(PyExc_StopIteration);
    __Pyx_Generator_Replace_StopIteration(0);
    if (!stopped || !__Pyx_PyErr_ExceptionMatches(PyExc_RuntimeError)) return;
    __Pyx_ErrFetch(&type, &value, &traceback);
    words = Py_BuildValue("(s)", "coroutine raised StopIteration");
    if (unlikely(!words) || unlikely(PyObject_SetAttrString(value, "args", words) < 0))
        PyErr_Clear();
    Py_XDECREF(words);
    __Pyx_ErrRestore(type, value, traceback);
}
