/* CPython's bytecode loop checks at every backward jump and function entry whether work waits:
   another thread asking for the GIL, a garbage collection that allocation scheduled, a signal's
   handler, a pending call, an exception set for the thread. Compiled code runs no bytecode, so
   that work waited until it called something that does. A compiled loop's back-edge and a
   compiled call count a step instead (__Pyx_qvx_PENDING_CHECK); when the countdown runs out, a
   call of a Python function that does nothing has the interpreter serve all of that at the
   function's start, through public API only, on every version and under the limited API. The
   countdown's length follows the time the last one took, so that the interpreter is entered
   about every 100 µs of compiled work, whatever a step costs: often enough for another thread
   to get the GIL at about the switch interval, and for a scheduled collection to run soon
   after the allocations that asked for it. The state is shared by the product's modules under
   the GIL; without one, each thread counts its own steps.
   Put, after product_state.c, before the first check of a C file; the include guard keeps one
   copy. */

#ifndef __Pyx_qvx_PENDING_WORK
#define __Pyx_qvx_PENDING_WORK
#if defined(_WIN32)
  #include <windows.h>
#else
  #include <time.h>
#endif
/* Met before Cython's CYTHON_SMALL_CODE is defined, where loops use it. */
#if defined(__GNUC__) || defined(__clang__)
  #define __Pyx_qvx_COLD __attribute__((cold, noinline))
#else
  #define __Pyx_qvx_COLD
#endif
#define __Pyx_qvx_PENDING_PERIOD_NS 100000LL
#define __Pyx_qvx_PENDING_MAX_STRIDE (1 << 16)
/* The steps left before the interpreter is entered, the countdown's length, and when the
   interpreter was last left (0: never). */
typedef struct {
    int countdown;
    int stride;
    long long left_at;
} __Pyx_qvx_PendingState;
#ifdef Py_GIL_DISABLED
__Pyx_qvx_STATE_LINKAGE __Pyx_qvx_THREAD_LOCAL
#else
__Pyx_qvx_STATE_LINKAGE
#endif
__Pyx_qvx_PendingState __pyx_qvx_pending = {1, 1, 0};
/* The function whose start serves the work, made on first use; it belongs to the interpreter
   that made it, and is forgotten when that one is finalized (another may be started). */
__Pyx_qvx_STATE_LINKAGE PyObject *__pyx_qvx_pending_resume = NULL;

static __Pyx_qvx_COLD long long __Pyx_qvx_MonotonicNs(void) {
#if defined(_WIN32)
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return count.QuadPart / frequency.QuadPart * 1000000000LL
           + count.QuadPart % frequency.QuadPart * 1000000000LL / frequency.QuadPart;
#else
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (long long)now.tv_sec * 1000000000LL + now.tv_nsec;
#endif
}

/* Grows by doubling, so that one quick countdown does not overshoot; shrinks at once in
   proportion, so that slow steps after quick ones are not left running for long. */
static __Pyx_qvx_COLD void __Pyx_qvx_AdaptStride(__Pyx_qvx_PendingState *state) {
    long long took;
    if (state->left_at == 0)
        return;
    took = __Pyx_qvx_MonotonicNs() - state->left_at;
    if (took < __Pyx_qvx_PENDING_PERIOD_NS / 2) {
        if (state->stride < __Pyx_qvx_PENDING_MAX_STRIDE)
            state->stride *= 2;
    } else if (took > __Pyx_qvx_PENDING_PERIOD_NS) {
        state->stride = (int)(state->stride * __Pyx_qvx_PENDING_PERIOD_NS / took);
        if (state->stride < 1)
            state->stride = 1;
    }
}

static void __Pyx_qvx_ForgetResume(void) {
    __pyx_qvx_pending_resume = NULL;
}

static __Pyx_qvx_COLD PyObject *__Pyx_qvx_MakeResume(void) {
    PyObject *code = Py_CompileString("lambda: None", "<compiled code>", Py_eval_input);
    PyObject *globals, *function = NULL;
    if (code == NULL)
        return NULL;
    globals = PyDict_New();
    if (globals != NULL)
        function = PyEval_EvalCode(code, globals, globals);
    Py_XDECREF(globals);
    Py_DECREF(code);
    /* Without room for the hook the function stays: only a later interpreter would miss it. */
    if (function != NULL)
        (void)Py_AtExit(__Pyx_qvx_ForgetResume);
    return function;
}

/* An exception raised while the interpreter served (KeyboardInterrupt from the default SIGINT
   handler, or whatever a signal handler raised) has the do-nothing function's entry first in
   its traceback: CPython raises it in the frame that was running, which the compiled code's own
   entries stand for. */
static __Pyx_qvx_COLD void __Pyx_qvx_DropResumeEntry(void) {
    PyObject *traceback, *rest = NULL;
#if __PYX_LIMITED_VERSION_HEX >= 0x030C0000
    PyObject *raised = PyErr_GetRaisedException();
    traceback = PyException_GetTraceback(raised);
#else
    PyObject *type, *raised;
    PyErr_Fetch(&type, &raised, &traceback);
    PyErr_NormalizeException(&type, &raised, &traceback);
#endif
    if (traceback != NULL) {
        rest = PyObject_GetAttrString(traceback, "tb_next");
        if (rest == NULL)
            PyErr_Clear();
        else if (rest == Py_None)
            Py_CLEAR(rest);
        Py_DECREF(traceback);
    }
    if (raised != NULL)
        PyException_SetTraceback(raised, rest != NULL ? rest : Py_None);
#if __PYX_LIMITED_VERSION_HEX >= 0x030C0000
    Py_XDECREF(rest);
    PyErr_SetRaisedException(raised);
#else
    PyErr_Restore(type, raised, rest);
#endif
}

static __Pyx_qvx_COLD int __Pyx_qvx_ServePending(void) {
    __Pyx_qvx_PendingState *state = &__pyx_qvx_pending;
    PyObject *result;
    /* A generator resumed to have an exception thrown in (close() among them) is entered with
       the exception set: no Python call then, the next step tries again. */
    if (unlikely(PyErr_Occurred() != NULL)) {
        state->countdown = 1;
        return 0;
    }
    __Pyx_qvx_AdaptStride(state);
    /* Set before the call: compiled code that a signal handler runs counts anew. */
    state->countdown = state->stride;
    if (unlikely(__pyx_qvx_pending_resume == NULL)
            && (__pyx_qvx_pending_resume = __Pyx_qvx_MakeResume()) == NULL)
        return -1;
    result = PyObject_CallObject(__pyx_qvx_pending_resume, NULL);
    state->left_at = __Pyx_qvx_MonotonicNs();
    if (unlikely(result == NULL)) {
        __Pyx_qvx_DropResumeEntry();
        return -1;
    }
    Py_DECREF(result);
    return 0;
}

#define __Pyx_qvx_PENDING_CHECK() \
    (unlikely(--__pyx_qvx_pending.countdown <= 0) ? __Pyx_qvx_ServePending() : 0)
#endif
