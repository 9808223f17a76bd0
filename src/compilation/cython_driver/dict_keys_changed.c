/* Called in place of __Pyx_dict_iter_next for a loop over a dict's items (see semantics.py):
   `remaining` counts down the items the dict had when the loop began, as CPython's dict
   iterator does, and one found beyond them means that keys were deleted and added. */
static CYTHON_INLINE int __Pyx_qvx_dict_iter_next(
        PyObject* iter_obj, Py_ssize_t orig_length, Py_ssize_t* ppos, Py_ssize_t* remaining,
        PyObject** pkey, PyObject** pvalue, PyObject** pitem, int source_is_dict) {
    int result;
    if (*ppos == 0) *remaining = orig_length;
    result = __Pyx_dict_iter_next(iter_obj, orig_length, ppos, pkey, pvalue, pitem,
                                  source_is_dict);
    if (likely(result != 1 || !source_is_dict || (*remaining)-- > 0)) return result;
    if (pitem) {
        Py_CLEAR(*pitem);
    } else {
        if (pkey) Py_CLEAR(*pkey);
        if (pvalue) Py_CLEAR(*pvalue);
    }
    PyErr_SetString(PyExc_RuntimeError, "dictionary keys changed during iteration");
    return -1;
}
