/* Opens the resumption of a delegate without an am_send slot (iterators, and every delegate
   before Python 3.10) in __Pyx_Generator_Next and __Pyx_Coroutine_AmSend, after the declaration
   of `ret`: the resumption counts as a frame; leave_delegate.c closes it. */
        __Pyx_qvx_Call __pyx_qvx_call;
        if (unlikely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) < 0)) {
            ret = NULL;
        } else {
