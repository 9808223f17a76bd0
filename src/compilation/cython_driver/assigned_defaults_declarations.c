/* Declared before Cython's setters of __defaults__ and __kwdefaults__, which call them: the flags
   of a function whose defaults were assigned and of one whose code was (replaced_code.c), and
   the functions of assigned_defaults.c. */

#define __Pyx_qvx_CYFUNCTION_ASSIGNED_DEFAULTS 0x40000000
#define __Pyx_qvx_CYFUNCTION_REPLACED_CODE 0x20
static CYTHON_SMALL_CODE void __Pyx_qvx_BindFromAttributes(__pyx_CyFunctionObject *op);
static CYTHON_SMALL_CODE int __Pyx_qvx_AssignDefaults(
    __pyx_CyFunctionObject *op, PyObject *op_in, PyObject **slot, PyObject *value);
static CYTHON_SMALL_CODE int __Pyx_qvx_BindCallDefaults(
    PyObject *func, PyObject *args, PyObject *kw, PyObject **bound_args, PyObject **bound_kw);
#if CYTHON_VECTORCALL
static CYTHON_SMALL_CODE __pyx_vectorcallfunc __Pyx_qvx_GivenVectorcall(
    __pyx_CyFunctionObject *op);
static CYTHON_SMALL_CODE PyObject *__Pyx_qvx_Vectorcall_AssignedDefaults(
    PyObject *func, PyObject *const *args, size_t nargsf, PyObject *kwnames);
#endif

