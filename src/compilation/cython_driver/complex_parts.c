/* A utility of its own, used where a compiled module reads the real or imaginary part of a value
   known to be a complex: the stable ABI has no PyComplexObject, only the functions that read
   the parts. */
#if CYTHON_COMPILING_IN_LIMITED_API
#define __Pyx_qvx_COMPLEX_REAL(o) PyComplex_RealAsDouble(o)
#define __Pyx_qvx_COMPLEX_IMAG(o) PyComplex_ImagAsDouble(o)
#else
#define __Pyx_qvx_COMPLEX_REAL(o) (((PyComplexObject*)(o))->cval.real)
#define __Pyx_qvx_COMPLEX_IMAG(o) (((PyComplexObject*)(o))->cval.imag)
#endif
