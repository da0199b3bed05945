// Numbers in setting values: Python's float() on plain ASCII text, and the
// scale suffixes a number may carry.
//
// Pure C++ (no Python headers), so the IR builder can decide most values
// without making a Python object.  Text holding any non-ASCII byte is left to
// the host's own conversion, which alone knows Unicode digits and white space.
#pragma once

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
// of "-nan", overflow to infinity and underflow to zero included).
FloatScan scan_float(std::string_view text) noexcept;

// Factor of the scale suffix `unit` (one character as UTF-8), compared after
// lowercasing: p, n, u and m; 1.0 for anything else, the empty text included.
double scale_factor(std::string_view unit) noexcept;

}  // namespace tessel::text
