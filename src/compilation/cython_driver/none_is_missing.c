/* Put after the look-up of a module in sys.modules of ImportExport.c: None there means that the
   import is blocked, which the importer reports as Python does (ModuleNotFoundError). */
    if (imported_module == Py_None) { Py_DECREF(imported_module); imported_module = NULL; }
