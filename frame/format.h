// Number formats of the dialogs and reports. All of them use "." as the decimal point,
// whatever the process locale.
#pragma once

#include <string>

// The general format with `digits` significant digits (dialogs use 7).
//
// e is the decimal exponent of v's leading digit, taken before rounding. For e < -1 or
// e > digits - 1 the value is written in exponent form, d.ddd "e" sign and three exponent
// digits (12346, 4 digits: "1.235e+004"); a mantissa that rounds up to 10 is renormalised,
// so 9.9996e5 gives "1.e+006". Otherwise it is written in fixed form with digits - 1 - e
// digits after the point (1.23456: "1.235"); with no digits after the point there is no
// point either (1234: "1234"; 9999.6: "10000"). Trailing zeros of the fraction are removed,
// the point stays (0.5: "0.5", 10: "10.", 0: "0."). Negative values carry a leading "-";
// negative zero is written as zero. NaN and infinities give "nan", "inf" and "-inf".
// `digits` is clamped to 1 ... 17, the most a double carries.
std::string FormatGeneral(double v, int digits = 7);

// "Elapsed time: " seconds "." milliseconds " s", e.g. 1234 gives "Elapsed time: 1.234 s".
// A negative duration carries one leading "-" ("-1.500", "-0.005").
std::string FormatElapsed(long milliseconds);
