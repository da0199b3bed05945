// The text of a setting value: quotes, the brace rewrite and the number it
// may be, with its one-letter scale suffix.
//
// What `_parse_value` does to a text before anything is evaluated; only
// single-quoted values that are not numbers, and whether a text written with
// non-ASCII characters is a number (which only the host's float() can tell),
// are left to the caller.
#pragma once

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "text/number.hpp"

namespace tessel::text {

struct ValueText {
    std::string_view text;  // unquoted, braces made brackets (may point into the buffer)
    bool is_eval = false;   // it was single-quoted
    // The number the text stands for: first the whole text, then the text
    // without its last character, scaled by that character as a suffix.
    FloatScan whole{FloatKind::not_number, 0.0};
    FloatScan prefix{FloatKind::not_number, 0.0};
    std::string_view prefix_text;  // the text without its last character
    int shift = 0;                 // the power of ten of that last character
    // The plain decimal a number above was read from on the common road (of
    // the whole text, or of `prefix_text`); its size is 0 otherwise.
    PlainDecimal decimal;
};

// A number of a setting value: the decimal as written, scaled by its
// suffix, and, where the metre rule converts it, the same decimal in
// micrometres; each rounded once.
struct Number {
    double value;
    double micrometres;  // NaN unless is_probably_metres(value)
};

// Reads a non-empty value text.  `buffer` holds the bracketed form of a
// "{...}" value.
ValueText read_value(std::string_view value, std::string &buffer);

// The number a value stands for, or nothing for a text.  A text with
// non-ASCII characters is the host's to judge: `ascii_number(text, out)`
// is false when float() refuses `text`, else puts in `out` the same number
// in ASCII (digits of any script made ASCII, white space dropped).
// `micrometres`: the value may meet the metre rule (a setting's, not a
// coordinate's), so its micrometre form is read too.
template <typename AsciiNumber>
std::optional<Number> value_number(const ValueText &v, AsciiNumber &&ascii_number, bool micrometres = true) {
    std::string ascii;
    auto settle = [&](FloatScan scan, std::string_view text, int shift) -> std::optional<Number> {
        // The decimal read already, when it is this text's: its micrometres
        // are the same digits with another power of ten.
        const PlainDecimal *decimal = v.decimal.size != 0 && v.decimal.size == text.size() ? &v.decimal : nullptr;
        if (scan.kind == FloatKind::undecided) {
            ascii.clear();
            if (!ascii_number(text, ascii)) return std::nullopt;
            text = ascii;
            scan = scan_float(text, shift);
            decimal = nullptr;
        }
        if (scan.kind != FloatKind::number) return std::nullopt;
        Number number{scan.value, std::numeric_limits<double>::quiet_NaN()};
        if (micrometres && is_probably_metres(scan.value)) {
            double um;
            number.micrometres = decimal && decimal->value(shift + kMicrometresShift, um)
                                     ? um
                                     : scan_float(text, shift + kMicrometresShift).value;
        }
        return number;
    };
    if (std::optional<Number> number = settle(v.whole, v.text, 0)) return number;
    return settle(v.prefix, v.prefix_text, v.shift);
}

}  // namespace tessel::text
