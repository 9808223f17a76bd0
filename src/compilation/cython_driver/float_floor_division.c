/* A utility of its own, used where a compiled module computes `a // b` of two C doubles. Python
   takes the quotient from the remainder (a - fmod(a, b)) / b, as divmod() does, where
   floor(a / b) is off by one when a / b rounds up to a whole number (1.0 // 0.1 is 9.0, not 10.0).
   A rounded quotient that is no whole number and well below 2**52 has the exact quotient's floor,
   which is Python's: that path costs what floor(a / b) cost. */
static double __Pyx_qvx_floordiv_remainder(double a, double b) {
    double remainder = fmod(a, b);
    double quotient = (a - remainder) / b;
    double whole;
    if (remainder && ((b < 0) != (remainder < 0)))
        quotient -= 1.0;
    if (!quotient)
        return copysign(0.0, a / b);
    whole = floor(quotient);
    return quotient - whole > 0.5 ? whole + 1.0 : whole;
}

static CYTHON_INLINE double __Pyx_qvx_floordiv_double(double a, double b) {
    double quotient = a / b;
    double whole = floor(quotient);
    if (likely(whole != quotient && fabs(quotient) < 562949953421312.0 /* 2**49 */))
        return whole;
    return __Pyx_qvx_floordiv_remainder(a, b);
}
