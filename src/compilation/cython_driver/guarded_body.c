/* Replaces the resumption of a generator's or coroutine's body in __Pyx_Coroutine_SendEx: it
   counts as a Python frame does. A generator or coroutine whose body could not start is
   finished, as CPython's is whose frame could not start. */
    {
        __Pyx_qvx_Call __pyx_qvx_call;
        if (likely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) == 0)) {
            retval = self->body(self, tstate, value);
            __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        } else {
            retval = NULL;
            self->resume_label = -1;
        }
    }
