// Numbers in setting values: Python's float() on plain ASCII text, and the
// scale suffixes a number may carry.
//
// Pure C++ (no Python headers), so the IR builder can decide most values
// without making a Python object.  Text holding any non-ASCII byte is left to
// the host's own conversion, which alone knows Unicode digits and white space.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tessel::text {

enum class FloatKind {
    number,      // float(text) gives `value`
    not_number,  // float(text) raises ValueError
    undecided,   // the text holds non-ASCII bytes: ask the host
};

struct FloatScan {
    FloatKind kind;
    double value;
};

// What Python's float() makes of `text`, bit for bit (signed zeros, the sign
// of "-nan", overflow to infinity and underflow to zero included).  With a
// `shift`, the decimal as written times 10^shift, rounded once: "0.2" with
// shift -6 is the double nearest to 2e-07, where float("0.2") * 1e-06 would
// round twice.
FloatScan scan_float(std::string_view text, int shift = 0) noexcept;

// The plain decimal "[+-]digits[.digits]" of at most 15 digits that `text`
// begins with, read in one pass: the common form of a value, whole or before
// its scale suffix.  `size` is 0 when there is none.
struct PlainDecimal {
    std::size_t size = 0;
    std::uint64_t significand = 0;
    int fraction = 0;  // digits after the point
    bool negative = false;
    // What scan_float gives for the decimal with `shift`, when one product
    // or quotient of exact doubles gives it; false when the general path must.
    bool value(int shift, double &out) const noexcept;
};
PlainDecimal leading_plain_decimal(std::string_view text) noexcept;

// `value` times 10^shift, rounded once, from the shortest decimal that reads
// back as `value` (for a number that comes without its text).
double shift_decimal(double value, int shift) noexcept;

// Power of ten of the scale suffix `unit` (one character as UTF-8), compared
// after lowercasing: p -12, n -9, u -6 and m -3; 0 for anything else, the
// empty text included.
int scale_exponent(std::string_view unit) noexcept;
// 10^scale_exponent(unit).
double scale_factor(std::string_view unit) noexcept;

// The metre rule: a value strictly between these bounds is taken for a
// length in metres, and the result holds it in micrometres (10^6 times).
constexpr double kMetresLow = 1e-10, kMetresHigh = 1e-2;
constexpr int kMicrometresShift = 6;
inline bool is_probably_metres(double value, double low = kMetresLow, double high = kMetresHigh) {
    return low < value && value < high;
}

}  // namespace tessel::text
