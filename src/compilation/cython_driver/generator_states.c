/* Put after __Pyx_Coroutine_get_frame of Coroutine.c; the getset tables of generators,
   coroutines and async generators take these getters. inspect's getgeneratorstate,
   getcoroutinestate and getasyncgenstate read `*_running`, then `*_suspended`, then whether
   `*_frame` is None (closed) or not (created): a generator is suspended when it has stopped at
   a yield or an await and is not running, and its frame is None once it has finished. In a
   library, where Cython gives no frame at all, an unfinished one gets the frame of a Python
   generator never started, made from code named and numbered as the compiled one's: its
   f_back is None, as a frame that has not run has none. The async generator's table, in
   AsyncGen.c, takes them where this macro says they are there. */
#define __Pyx_qvx_GENERATOR_STATES 1

#if CYTHON_COMPILING_IN_LIMITED_API
static const char __pyx_qvx_unstarted_frame_source[] =
    "def unstarted_frame(code):\n"
    "    def body():\n"
    "        yield\n"
    "    names = ('co_name', 'co_qualname', 'co_filename', 'co_firstlineno')\n"
    "    made = body.__code__.replace(**{name: getattr(code, name) for name in names\n"
    "                                    if hasattr(code, name) and hasattr(body.__code__, name)})\n"
    "    return type(body)(made, {})().gi_frame\n";

/* Made once, when a frame is first asked for, and kept for the process as Cython's shared
   types are. */
static PyObject *__pyx_qvx_unstarted_frame = NULL;

static PyObject *__Pyx_qvx_UnstartedFrame(PyObject *code) {
    if (!__pyx_qvx_unstarted_frame) {
        PyObject *namespace = PyDict_New(), *compiled = NULL, *ran = NULL;
        if (namespace && PyDict_SetItemString(namespace, "__builtins__", PyEval_GetBuiltins()) == 0)
            compiled = Py_CompileString(__pyx_qvx_unstarted_frame_source, "<compiled frame>",
                                        Py_file_input);
        ran = compiled ? PyEval_EvalCode(compiled, namespace, namespace) : NULL;
        if (ran) {
            __pyx_qvx_unstarted_frame = PyDict_GetItemString(namespace, "unstarted_frame");
            Py_XINCREF(__pyx_qvx_unstarted_frame);
        }
        Py_XDECREF(ran);
        Py_XDECREF(compiled);
        Py_XDECREF(namespace);
        if (!__pyx_qvx_unstarted_frame) return NULL;
    }
    return PyObject_CallFunctionObjArgs(__pyx_qvx_unstarted_frame, code ? code : Py_None, NULL);
}
#endif

static PyObject *__Pyx_qvx_Coroutine_get_frame(PyObject *self, void *context) {
    __pyx_CoroutineObject *gen = (__pyx_CoroutineObject *) self;
    if (gen->resume_label < 0)
        Py_RETURN_NONE;
#if CYTHON_COMPILING_IN_LIMITED_API
    if (!gen->gi_frame) {
        PyObject *frame = __Pyx_qvx_UnstartedFrame(gen->gi_code);
        if (!frame) return NULL;
        /* The call ran Python code: another thread may have made one meanwhile. */
        if (gen->gi_frame)
            Py_DECREF(frame);
        else
            gen->gi_frame = frame;
    }
#endif
    return __Pyx_Coroutine_get_frame(gen, context);
}

static PyObject *__Pyx_qvx_Coroutine_get_suspended(PyObject *self, void *context) {
    __pyx_CoroutineObject *gen = (__pyx_CoroutineObject *) self;
    CYTHON_UNUSED_VAR(context);
    return PyBool_FromLong(gen->resume_label > 0 && !__Pyx_Coroutine_get_is_running(gen));
}
