/* Put before __Pyx__Coroutine_Throw in Coroutine.c (see functions.py). An exception thrown into
   a generator or coroutine is raised as it was given (its own context, none for one made from its
   class), not chained to what the caller of throw() handles; it then takes as its context what the
   generator itself was handling where it stopped, as CPython chains it, cutting a cycle that link
   would close. */
static void __Pyx_qvx_ChainThrown(__pyx_CoroutineObject *gen) {
    PyObject *own = gen->gi_exc_state.exc_value;
    PyObject *type, *value, *tb;
    __Pyx_PyThreadState_declare
    if (!own || own == Py_None || !PyExceptionInstance_Check(own)) return;
    __Pyx_PyThreadState_assign
    __Pyx_ErrFetch(&type, &value, &tb);
    if (value && value != own && PyExceptionInstance_Check(value)) {
        PyObject *link = own, *slow = own, *context;
        int move_slow = 0;
        while ((context = PyException_GetContext(link))) {
            Py_DECREF(context);
            if (context == value) {
                PyException_SetContext(link, NULL);
                break;
            }
            link = context;
            /* a cycle already there: every link of it was looked at */
            if (link == slow) break;
            if (move_slow) {
                slow = PyException_GetContext(slow);
                Py_DECREF(slow);
            }
            move_slow = !move_slow;
        }
        Py_INCREF(own);
        PyException_SetContext(value, own);
    }
    __Pyx_ErrRestore(type, value, tb);
}

static void __Pyx_qvx_RaiseThrown(PyObject *typ, PyObject *val, PyObject *tb) {
    PyObject *given = PyExceptionInstance_Check(typ) ? typ
                      : (val && PyExceptionInstance_Check(val)) ? val : NULL;
    PyObject *given_context = given ? PyException_GetContext(given) : NULL;
    PyObject *raised_type, *raised, *raised_tb;
    __Pyx_PyThreadState_declare
    __Pyx_Raise(typ, val, tb, NULL);
    __Pyx_PyThreadState_assign
    __Pyx_ErrFetch(&raised_type, &raised, &raised_tb);
    if (raised && PyExceptionInstance_Check(raised)) {
        if (raised == given) {
            PyException_SetContext(raised, given_context);
            given_context = NULL;
        } else if (!given && PyExceptionClass_Check(typ)
                   && PyObject_TypeCheck(raised, (PyTypeObject*) typ)) {
            PyException_SetContext(raised, NULL);
        }
    }
    Py_XDECREF(given_context);
    __Pyx_ErrRestore(raised_type, raised, raised_tb);
}

