// The text of a setting value: quotes, the brace rewrite and the number it
// may be, with its one-letter scale suffix.
//
// What `_parse_value` does to a text before anything is evaluated; only
// single-quoted values that are not numbers, and numbers written with
// non-ASCII characters (which only the host's float() can read), are left
// to the caller.
#pragma once

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
    double factor = 1.0;           // the scale of that last character
};

// Reads a non-empty value text.  `buffer` holds the bracketed form of a
// "{...}" value.
ValueText read_value(std::string_view value, std::string &buffer);

// The number a value stands for, or nothing for a text.  `host_float(text)`
// settles what the ASCII grammar leaves undecided.
template <typename HostFloat>
std::optional<double> value_number(const ValueText &v, HostFloat &&host_float) {
    auto settle = [&](FloatScan scan, std::string_view text) -> std::optional<double> {
        switch (scan.kind) {
            case FloatKind::number: return scan.value;
            case FloatKind::not_number: return std::nullopt;
            case FloatKind::undecided: break;
        }
        return host_float(text);
    };
    // A plain double product, also by 1.0 (which keeps -0.0 and NaN as they are).
    if (std::optional<double> number = settle(v.whole, v.text)) return *number * 1.0;
    if (std::optional<double> number = settle(v.prefix, v.prefix_text)) return *number * v.factor;
    return std::nullopt;
}

}  // namespace tessel::text
