/* Where the state that a product's modules share lives: the recursion guard's (call_guard.c)
   and the countdown to the interpreter's check for pending work (pending_work.c).
   Put before either; the include guard keeps one copy in a C file. */

#ifndef __Pyx_qvx_PRODUCT_STATE
#define __Pyx_qvx_PRODUCT_STATE
/* Code linked into an executable reaches its thread-local state at a fixed offset from the
   thread pointer; a library loaded later cannot count on room for that. */
#if defined(_MSC_VER)
  #define __Pyx_qvx_THREAD_LOCAL __declspec(thread)
#elif defined(__ELF__) && defined(CYTHON_NO_PYINIT_EXPORT) && CYTHON_NO_PYINIT_EXPORT
  #define __Pyx_qvx_THREAD_LOCAL __thread __attribute__((tls_model("initial-exec")))
  #define __Pyx_qvx_FIXED_TLS 1
#else
  #define __Pyx_qvx_THREAD_LOCAL __thread
#endif
#ifndef __Pyx_qvx_FIXED_TLS
  #define __Pyx_qvx_FIXED_TLS 0
#endif
/* One state for all the modules of a product, which count the same calls: a weak definition in
   each, which the linker merges, hidden from other products. */
#if defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
  #define __Pyx_qvx_STATE_LINKAGE __attribute__((weak, visibility("hidden")))
#else
  #define __Pyx_qvx_STATE_LINKAGE static
#endif
#endif
