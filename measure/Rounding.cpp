#include "measure/Rounding.h"

#include <climits>
#include <cmath>

int TruncToInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= -static_cast<double>(INT_MIN))
        return INT_MAX;
    if (v <= static_cast<double>(INT_MIN) - 1.0)
        return INT_MIN;
    return static_cast<int>(v);
}

// The integer part plus or minus one by the fraction, as fmod gives it.
int RoundHalfAway(double v) {
    if (!std::isfinite(v))
        return TruncToInt(v);
    const double r = std::fmod(v, 1.0);
    const double whole = std::trunc(v - r);
    if (r > 0)
        return TruncToInt(r >= 0.5 ? whole + 1 : whole);
    return TruncToInt(r <= -0.5 ? whole - 1 : whole);
}
