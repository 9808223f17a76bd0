/* Replaces `return <call>;` in an entry of a compiled function: the call of its C body, ${call},
   counts against the recursion limit and the thread's stack. */
    {
        __Pyx_qvx_Call __pyx_qvx_call;
        PyObject *__pyx_qvx_result;
        if (unlikely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) < 0)) return NULL;
        __pyx_qvx_result = ${call};
        __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        return __pyx_qvx_result;
    }
