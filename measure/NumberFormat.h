// Numbers as the instrument window shows and reads them. All conversions are
// independent of the process locale: the point is always '.'.
#pragma once

#include <string>

// value to `digits` significant digits (1..17; fewer count as 1, more as 17),
// rounded half away from zero, laid out like the C runtime's _gcvt. With e the
// decimal exponent after rounding: for -1 <= e < digits, fixed notation with
// digits-1-e decimals, trailing zeros dropped but the point kept, and no point
// when there are no decimals ("22045.", "10.8", "-45"); otherwise one digit,
// the point, the remaining digits without trailing zeros, and a signed
// three-digit exponent ("-1.e+002", "-1.1e-002"). Zero of either sign shows
// without a sign ("0."); non-finite values are "inf", "-inf" and "nan".
std::string Gcvt(double value, int digits);

// An edit field's text for a double: "%.15g" (1356.923076923077 ->
// "1356.92307692308").
std::string FormatDouble15(double value);

// Reads an edit field's number: blanks (spaces, tabs) around an optional sign,
// digits with an optional point and an optional exponent. Returns false and
// leaves value unchanged for anything else, such as "inf" and "nan", and for a
// number beyond the range of a double.
bool ParseDouble(const std::string& text, double& value);

// Figures as reports show them: `decimals` decimals, or `digits` significant
// digits; "-" for a figure that is not a finite number (not measured).
std::string FixedText(double value, int decimals);
std::string SignificantText(double value, int digits);
