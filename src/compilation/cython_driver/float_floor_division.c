/* A utility of its own, used where a compiled module computes `a // b` of two C doubles. Python
   takes the quotient from the remainder, (a - fmod(a, b)) / b, as divmod() does, where
   floor(a / b) is off by one when a / b rounds up to a whole number (1.0 // 0.1 is 9.0, not 10.0).
   Below 2**49 Python's quotient is the exact quotient's floor: a rounded quotient that is no whole
   number has that floor, and a whole one n is n - 1 where the exact remainder a - n*b (which fma
   rounds keeping its sign) is on the other side of zero from b. Only zero, huge, infinite and NaN
   quotients take fmod's longer way. */
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
    if (likely(fabs(quotient) < 562949953421312.0 /* 2**49 */)) {
        double remainder;
        if (likely(whole != quotient))
            return whole;
        if (quotient) {
            remainder = fma(-quotient, b, a);
            return remainder && ((remainder < 0) != (b < 0)) ? quotient - 1.0 : quotient;
        }
    }
    return __Pyx_qvx_floordiv_remainder(a, b);
}
