/* Replaces the direct call of a nested function's C body that Cython makes where it knows the
   function called (`def f(): ... f()` in one scope): ${call} assigns ${result}, and counts as a
   Python frame does. The error check of the call follows, unchanged. */
{
    __Pyx_qvx_Call __pyx_qvx_call;
    if (likely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) == 0)) {
        ${call};
        __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
    } else {
        ${result} = NULL;
    }
}
