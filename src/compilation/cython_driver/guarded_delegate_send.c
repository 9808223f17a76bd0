/* Replaces the hand-over of a value to a `yield from` delegate that has an am_send slot: a
   generator that delegates is resumed with its delegate, as CPython resumes its frame, which then
   resumes the delegate's, so each generator of a chain of delegations counts as it is passed. A
   delegation that finds no room leaves its error to the delegating body, whose own check then
   finishes the generator. */
    {
        __Pyx_qvx_Call __pyx_qvx_call;
        if (likely(__Pyx_qvx_EnterCall(&__pyx_qvx_call) == 0)) {
            delegate_result = gen_am_send(gen->yieldfrom, value, &ret);
            __Pyx_qvx_LeaveCall(&__pyx_qvx_call);
        } else {
            delegate_result = PYGEN_ERROR;
        }
    }
