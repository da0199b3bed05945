#include "text/value.hpp"

namespace tessel::text {

namespace {

// Python's value[1:-1]: a one-character text loses its only character.
std::string_view without_ends(std::string_view text) {
    return text.size() < 2 ? std::string_view{} : text.substr(1, text.size() - 2);
}

// Whether a text that float() reads may start with byte `c`: a digit, a
// point, a sign, the first letter of "inf" or "nan", white space, or any
// non-ASCII character (the host's to judge).
bool may_start_float(unsigned char c) {
    if (c >= 0x80 || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '.': case '+': case '-': case 'i': case 'I': case 'n': case 'N':
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
            return true;
        default:
            return false;
    }
}

// Start of the last character (code point) of UTF-8 `text`.
std::size_t last_char_start(std::string_view text) {
    std::size_t i = text.size();
    if (i == 0) return 0;
    --i;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return i;
}

}  // namespace

ValueText read_value(std::string_view value, std::string &buffer) {
    ValueText v;
    // Double quotes come off first, so double quotes inside single quotes
    // stay and are seen by the evaluation.
    while (!value.empty() && value.front() == '"' && value.back() == '"') value = without_ends(value);
    while (!value.empty() && value.front() == '\'' && value.back() == '\'') {
        v.is_eval = true;
        value = without_ends(value);
    }
    if (value.size() >= 2 && value.front() == '{' && value.back() == '}') {
        buffer.clear();
        buffer.push_back('[');
        buffer.append(without_ends(value));
        buffer.push_back(']');
        value = buffer;
    }
    v.text = value;
    // The common forms in one pass: a plain decimal ("-12.5"), alone or
    // before a one-letter suffix ("2.5u", which no float() reads whole).
    if (const PlainDecimal d = leading_plain_decimal(value); d.size != 0) {
        double number = 0.0;
        if (d.size == value.size() && d.value(0, number)) {
            v.whole = {FloatKind::number, number};
            v.decimal = d;
            return v;
        }
        const char last = value.back();
        const bool letter = (last >= 'a' && last <= 'z') || (last >= 'A' && last <= 'Z');
        if (d.size + 1 == value.size() && letter) {
            const int shift = scale_exponent(value.substr(d.size));
            if (d.value(shift, number)) {
                v.prefix_text = value.substr(0, d.size);
                v.shift = shift;
                v.prefix = {FloatKind::number, number};
                v.decimal = d;
                return v;
            }
        }
    }
    // The whole text first, so "1e-6" is a number before "e-6" could look
    // like a suffix; only then the last character as a scale suffix.  A
    // name ('w0') is neither: no text that float() reads starts so.
    const bool may_be_number = value.empty() || may_start_float(static_cast<unsigned char>(value.front()));
    if (may_be_number) {
        v.whole = scan_float(value);
        if (v.whole.kind == FloatKind::number) return v;
    }
    const std::size_t last = last_char_start(value);
    v.prefix_text = value.substr(0, last);
    v.shift = scale_exponent(value.substr(last));
    if (may_be_number) v.prefix = scan_float(v.prefix_text, v.shift);
    return v;
}

}  // namespace tessel::text
