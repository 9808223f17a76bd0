/* Closes what enter_delegate.c opens, before the test of the delegate's result. */
        __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        }
