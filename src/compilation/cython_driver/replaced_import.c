/* Put at the start of __Pyx_Import of ImportExport.c, the import of an `import` statement: as
   CPython's does, it calls builtins.__import__ when that is no longer the interpreter's own, with
   the module's globals, None for the locals (compiled code has no frame whose locals could be
   given), the names imported as a tuple (None without) and the level. The interpreter's own is
   the builtins module's function of that name; once seen, one comparison tells it. */
    {
        static PyObject *__pyx_qvx_own_import = NULL;
        static PyObject *__pyx_qvx_import_name = NULL;
        PyObject *__pyx_qvx_import;
        if (unlikely(!__pyx_qvx_import_name)) {
            __pyx_qvx_import_name = PyUnicode_InternFromString("__import__");
            if (unlikely(!__pyx_qvx_import_name)) return NULL;
        }
        __pyx_qvx_import = PyDict_GetItemWithError(
            PyModule_GetDict(NAMED_CGLOBAL(builtins_cname)), __pyx_qvx_import_name);
        if (unlikely(!__pyx_qvx_import)) {
            if (!PyErr_Occurred()) {
                PyErr_SetString(PyExc_ImportError, "__import__ not found");
            }
            return NULL;
        }
        if (likely(__pyx_qvx_import == __pyx_qvx_own_import)) {
            /* The machinery below is what it would do. */
        } else if (!__pyx_qvx_own_import && PyCFunction_Check(__pyx_qvx_import)
                   && PyCFunction_GetSelf(__pyx_qvx_import) == NAMED_CGLOBAL(builtins_cname)) {
            Py_INCREF(__pyx_qvx_import);
            __pyx_qvx_own_import = __pyx_qvx_import;
        } else {
            PyObject *__pyx_qvx_fromlist = Py_None;
            PyObject *__pyx_qvx_level = NULL;
            PyObject *__pyx_qvx_result = NULL;
            /* Held while it runs: it may replace itself. */
            Py_INCREF(__pyx_qvx_import);
            Py_INCREF(Py_None);
            if (imported_names) {
                Py_ssize_t i;
                Py_DECREF(Py_None);
                __pyx_qvx_fromlist = PyTuple_New(len_imported_names);
                for (i = 0; __pyx_qvx_fromlist && i < len_imported_names; i++) {
                    Py_INCREF(imported_names[i]);
                    PyTuple_SetItem(__pyx_qvx_fromlist, i, imported_names[i]);
                }
            }
            __pyx_qvx_level = PyLong_FromLong(level < 0 ? 0 : level);
            if (likely(__pyx_qvx_fromlist && __pyx_qvx_level)) {
                __pyx_qvx_result = PyObject_CallFunctionObjArgs(
                    __pyx_qvx_import, name, NAMED_CGLOBAL(moddict_cname), Py_None,
                    __pyx_qvx_fromlist, __pyx_qvx_level, NULL);
            }
            Py_XDECREF(__pyx_qvx_fromlist);
            Py_XDECREF(__pyx_qvx_level);
            Py_DECREF(__pyx_qvx_import);
            return __pyx_qvx_result;
        }
    }
