// Conversions of doubles to ints shared by the measurements and the views.
#pragma once

// Nearest integer, halves away from zero (2.5 -> 3, -2.5 -> -3, 2.4 -> 2).
// Beyond the int range the result saturates; not a number gives 0.
int RoundHalfAway(double v);

// Truncation toward zero with the same saturation.
int TruncToInt(double v);
