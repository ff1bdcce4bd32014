// Storing an extended intermediate into a narrower variable. The calibration and resampling
// arithmetic runs in long double (80-bit extended on x86-64) and rounds each value to its
// variable's type where it is stored; a finite value too large for that type is a floating-point
// overflow, as on the instrument's own software, never a silent infinity; likewise a division
// by zero is an error, not an infinity or a NaN.
#pragma once

#include "ulit_dat/errors.h"

#include <cmath>

namespace rawdat {

inline double toDouble(long double v)
{
    const auto r = static_cast<double>(v);
    if (std::isinf(r) && !std::isinf(v))
        throw FloatError(FloatError::Kind::Overflow);
    return r;
}

inline float toSingle(long double v)
{
    const auto r = static_cast<float>(v);
    if (std::isinf(r) && !std::isinf(v))
        throw FloatError(FloatError::Kind::Overflow);
    return r;
}

// a / b; over zero, 0 (or NaN) is an invalid operation and anything else a division by zero.
inline long double checkedDivide(long double a, long double b)
{
    if (b == 0)
        throw FloatError(a == 0 || std::isnan(a) ? FloatError::Kind::InvalidOperation
                                                 : FloatError::Kind::DivideByZero);
    return a / b;
}

} // namespace rawdat
