/* A utility of its own, used in place of __Pyx_AddTraceback (Exceptions.c) in modules whose
   functions can share a line (lambdas, generator expressions): Cython caches the code object of
   a traceback entry by line, so that an entry took the code object, and the name, of another
   function that raised on the same line. Each function keeps its own code object for a line
   under a key of its own, and puts it in the line's place before Cython's entry is made. */
static __Pyx_CachedCodeObjectType *__Pyx_qvx_TracebackCode(const char *funcname, int py_line,
                                                           const char *filename) {
#if CYTHON_COMPILING_IN_LIMITED_API
    PyObject *code = Py_CompileString("_getframe()", filename, Py_eval_input);
    PyObject *line = PyLong_FromLong(py_line), *name = PyUnicode_FromString(funcname);
    PyObject *scratch = PyDict_New(), *made = NULL;
    if (code && line && name && scratch)
        made = __Pyx_PyCode_Replace_For_AddTraceback(code, scratch, line, name);
    Py_XDECREF(code); Py_XDECREF(line); Py_XDECREF(name); Py_XDECREF(scratch);
    return made;
#else
    return __Pyx_CreateCodeObjectForTraceback(funcname, 0, py_line, filename);
#endif
}

static void __Pyx_qvx_AddTraceback(const char *funcname, int function, int c_line, int py_line,
                                   const char *filename) {
    if (py_line > 0 && py_line < (1 << 21) && function > 0 && function < (1 << 9)) {
        int key = (function << 21) | py_line;
        __Pyx_CachedCodeObjectType *own = __pyx_find_code_object(key);
        if (!own) {
#if __PYX_LIMITED_VERSION_HEX >= 0x030C0000
            PyObject *raised = PyErr_GetRaisedException();
            own = __Pyx_qvx_TracebackCode(funcname, py_line, filename);
            PyErr_Clear();
            PyErr_SetRaisedException(raised);
#else
            PyObject *type, *value, *traceback;
            PyErr_Fetch(&type, &value, &traceback);
            own = __Pyx_qvx_TracebackCode(funcname, py_line, filename);
            PyErr_Clear();
            PyErr_Restore(type, value, traceback);
#endif
            if (own) __pyx_insert_code_object(key, own);
        }
        if (own) {
            __pyx_insert_code_object(py_line, own);
            Py_DECREF(own);
        }
    }
    __Pyx_AddTraceback(funcname, c_line, py_line, filename);
}
