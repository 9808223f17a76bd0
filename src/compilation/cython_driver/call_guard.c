/* Counts a call of a compiled function as a Python frame counts: on 3.12 and later against the
   thread state's Python recursion counter, before that with Py_EnterRecursiveCall (then the one
   counter of Python frames). The limited API reaches no thread state: a library counts its
   compiled calls per thread against the recursion limit. Compiled frames live on the C stack,
   not in the heap: a call that finds less than an eighth of its thread's stack (at most 128 KiB)
   left fails too, whatever the limit.
   The per-thread state lives in the product's own thread-local storage, which a program reaches
   without a call (the linker turns its accesses into offsets from the thread pointer): the
   stack's floor is looked up once per thread, a program looks up its thread state only in the
   outermost compiled call running on a thread (the thread state outlives every call made under
   it), and a library reads the recursion limit again only at every 16th level of depth and where
   the limit last read is reached, so a limit lowered while compiled calls run is seen within 16
   levels.
   Each entry first counts a step towards the interpreter's check for pending work
   (pending_work.c), as CPython checks at a function's start.
   Put, after product_state.c and pending_work.c, before the first guarded call of
   CythonFunction.c and of Coroutine.c; the include guard keeps one copy where both are in one
   C file. */

#ifndef __Pyx_qvx_CALL_GUARD
#define __Pyx_qvx_CALL_GUARD
#if defined(_WIN32)
  #include <windows.h>
#elif defined(__linux__) || defined(__APPLE__)
  #include <pthread.h>
#endif
#if CYTHON_COMPILING_IN_LIMITED_API || PY_VERSION_HEX >= 0x030F0000
  #define __Pyx_qvx_OWN_DEPTH 1
#else
  #define __Pyx_qvx_OWN_DEPTH 0
#endif
#define __Pyx_qvx_STACK_UNKNOWN ((char *)-1)
#define __Pyx_qvx_LIMIT_STRIDE 16
/* Per thread: its stack's lowest address and the floor below which calls fail (the floor is
   STACK_UNKNOWN until looked up, NULL where the stack cannot be known); the number of compiled
   calls running; with an own count, the recursion limit as last read; else the thread state
   that those calls run under, looked up by the outermost one. */
typedef struct {
    char *floor;
    char *low;
    int depth;
#if __Pyx_qvx_OWN_DEPTH
    int limit;
#elif PY_VERSION_HEX >= 0x030C0000
    PyThreadState *tstate;
#endif
} __Pyx_qvx_CallState;
__Pyx_qvx_STATE_LINKAGE __Pyx_qvx_THREAD_LOCAL __Pyx_qvx_CallState __pyx_qvx_call_state = {
    __Pyx_qvx_STACK_UNKNOWN, NULL, 0
#if __Pyx_qvx_OWN_DEPTH
    , 0
#elif PY_VERSION_HEX >= 0x030C0000
    , NULL
#endif
};
/* What a call's end needs of its start. */
typedef struct {
#if __Pyx_qvx_OWN_DEPTH
    __Pyx_qvx_CallState *state;
#elif PY_VERSION_HEX >= 0x030C0000
    PyThreadState *tstate;
#else
    int unused;
#endif
} __Pyx_qvx_Call;

static CYTHON_SMALL_CODE void __Pyx_qvx_FindStack(__Pyx_qvx_CallState *state) {
    char *low = NULL;
    size_t size = 0;
#if defined(_WIN32) && defined(_WIN32_WINNT) && _WIN32_WINNT >= 0x0602
    ULONG_PTR lowest, highest;
    GetCurrentThreadStackLimits(&lowest, &highest);
    low = (char *)lowest;
    size = (size_t)(highest - lowest);
#elif defined(__APPLE__)
    pthread_t self = pthread_self();
    size = pthread_get_stacksize_np(self);
    low = (char *)pthread_get_stackaddr_np(self) - size;
#elif defined(__linux__)
    pthread_attr_t attributes;
    void *address;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        if (pthread_attr_getstack(&attributes, &address, &size) != 0)
            size = 0;
        low = (char *)address;
        pthread_attr_destroy(&attributes);
    }
#endif
    state->low = low;
    state->floor = NULL;
    if (low != NULL && size != 0)
        state->floor = low + (size / 8 < 128 * 1024 ? size / 8 : 128 * 1024);
}

static CYTHON_SMALL_CODE int __Pyx_qvx_TooDeep(const char *message) {
    PyErr_SetString(PyExc_RecursionError, message);
    return -1;
}

/* Below the floor, or not looked up yet. A position outside the thread's stack is on an
   alternate stack, which is not watched. */
static CYTHON_SMALL_CODE int __Pyx_qvx_CheckStack(__Pyx_qvx_CallState *state, char *position) {
    if (state->floor == __Pyx_qvx_STACK_UNKNOWN)
        __Pyx_qvx_FindStack(state);
    if (position < state->floor && position >= state->low)
        return __Pyx_qvx_TooDeep(
            "maximum recursion depth exceeded (the thread's stack is nearly full)");
    return 0;
}

#if __Pyx_qvx_OWN_DEPTH
/* The depth reached the limit as last read, or a multiple of the stride: the limit is read
   again. */
static CYTHON_SMALL_CODE int __Pyx_qvx_CheckLimit(__Pyx_qvx_CallState *state) {
    state->limit = Py_GetRecursionLimit();
    if (state->depth >= state->limit)
        return __Pyx_qvx_TooDeep("maximum recursion depth exceeded");
    return 0;
}
#elif PY_VERSION_HEX >= 0x030C0000
/* The Python frame counter ran out: as CPython's own check, with its headroom for the
   handling of the error. */
static CYTHON_SMALL_CODE int __Pyx_qvx_CheckPythonDepth(PyThreadState *tstate) {
    if (tstate->recursion_headroom) {
        if (tstate->py_recursion_remaining < -50)
            Py_FatalError("Cannot recover from Python stack overflow.");
        return 0;
    }
    tstate->recursion_headroom++;
    PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded");
    tstate->recursion_headroom--;
    ++tstate->py_recursion_remaining;
    return -1;
}
#endif

static CYTHON_INLINE int __Pyx_qvx_EnterCall(__Pyx_qvx_Call *call) {
    __Pyx_qvx_CallState *state = &__pyx_qvx_call_state;
    char here;
#if defined(__GNUC__) && !__Pyx_qvx_FIXED_TLS
    /* One look-up of the thread's block (a call in a library): the compiler would repeat it. */
    __asm__("" : "+r"(state));
#endif
    if (unlikely(__Pyx_qvx_PENDING_CHECK() < 0))
        return -1;
    if (unlikely(&here < state->floor) && __Pyx_qvx_CheckStack(state, &here) < 0)
        return -1;
#if __Pyx_qvx_OWN_DEPTH
    if (unlikely(state->depth >= state->limit || state->depth % __Pyx_qvx_LIMIT_STRIDE == 0)
            && __Pyx_qvx_CheckLimit(state) < 0)
        return -1;
    state->depth++;
    call->state = state;
#elif PY_VERSION_HEX >= 0x030C0000
    if (unlikely(state->depth == 0))
        state->tstate = __Pyx_PyThreadState_Current;
    call->tstate = state->tstate;
    if (unlikely(call->tstate->py_recursion_remaining-- <= 0)
            && __Pyx_qvx_CheckPythonDepth(call->tstate) < 0)
        return -1;
    state->depth++;
#else
    (void)call;
    if (Py_EnterRecursiveCall(""))
        return -1;
#endif
    return 0;
}

static CYTHON_INLINE void __Pyx_qvx_LeaveCall(__Pyx_qvx_Call *call) {
#if __Pyx_qvx_OWN_DEPTH
    call->state->depth--;
#elif PY_VERSION_HEX >= 0x030C0000
    call->tstate->py_recursion_remaining++;
    __pyx_qvx_call_state.depth--;
#else
    (void)call;
    Py_LeaveRecursiveCall();
#endif
}
#endif
