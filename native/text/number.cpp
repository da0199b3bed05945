// Python's float() grammar for ASCII text.  The conversion is exact by
// construction for short decimals and otherwise done by std::from_chars
// (correctly rounded, locale-free, no hex forms, no need for a NUL-terminated
// buffer).
#include "text/number.hpp"

#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace tessel::text {

namespace {

// The powers of ten that are exact doubles.
constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                              1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr std::int64_t kExactPower = 22;

// significand x 10^exponent in one rounding, for a significand of at most
// 2^53 and an exponent of at most 22 either way (Clinger's fast path: both
// factors are exact doubles).  Needs arithmetic in double precision proper.
bool exact_product(std::uint64_t significand, std::int64_t exponent, double &value) {
#if FLT_EVAL_METHOD == 0
    if (significand > (std::uint64_t{1} << 53) || exponent < -kExactPower || exponent > kExactPower)
        return false;
    const double s = static_cast<double>(significand);
    value = exponent < 0 ? s / kPowers[-exponent] : s * kPowers[exponent];
    return true;
#else
    (void)significand;
    (void)exponent;
    (void)value;
    return false;
#endif
}

// Py_ISSPACE: for ASCII text float() strips only these (\x1c-\x1f count as
// white space only once the host has turned a non-ASCII text into ASCII).
constexpr bool is_space(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }

constexpr char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignoring_case(std::string_view text, std::string_view lower_word) {
    if (text.size() != lower_word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (lower(text[i]) != lower_word[i]) return false;
    return true;
}

// Underscores group digits: each must sit between two digits ("1_000"), so
// "_1", "1_", "1__0", "1_.5" and "1e_5" are not numbers.
bool underscores_between_digits(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '_' &&
            (i == 0 || i + 1 == text.size() || !is_digit(text[i - 1]) ||
             !is_digit(text[i + 1])))
            return false;
    return true;
}

// Decimal exponent of the leading significant digit of a validated unsigned
// decimal text, saturated; only its sign matters, to tell an overflow from an
// underflow when from_chars reports the value out of range.
std::int64_t leading_exponent(std::string_view digits) {
    constexpr std::int64_t cap = std::int64_t{1} << 40;
    std::size_t i = 0;
    bool point = false, found = false;
    std::int64_t leading = 0, fraction_zeros = 0;
    for (; i < digits.size() && digits[i] != 'e' && digits[i] != 'E'; ++i) {
        char c = digits[i];
        if (c == '.') {
            point = true;
        } else if (!found && c != '0') {
            found = true;
            leading = point ? -(fraction_zeros + 1) : 0;
        } else if (!found && point) {
            ++fraction_zeros;
        } else if (found && !point) {
            ++leading;  // one more integer digit after the leading one
        }
    }
    if (!found) return 0;
    std::int64_t exponent = 0;
    if (i < digits.size()) {
        bool negative = digits[++i] == '-';
        if (digits[i] == '+' || digits[i] == '-') ++i;
        for (; i < digits.size(); ++i)
            if (exponent < cap) exponent = exponent * 10 + (digits[i] - '0');
        if (negative) exponent = -exponent;
    }
    return leading + exponent;
}

// An unsigned decimal text read against the grammar: digits, optional point
// and digits (at least one digit in all), optional exponent with at least one
// digit.  While it fits, the significand is kept as an integer and the
// decimal exponent beside it, for the exact fast path below.
struct Decimal {
    bool valid = false;
    bool small = true;  // significand < 10^19 and exponent read in full
    std::uint64_t significand = 0;
    std::int64_t exponent = 0;
};

Decimal read_decimal(std::string_view text) {
    constexpr int max_digits = 19;
    Decimal d;
    std::size_t i = 0, n = text.size(), mantissa_digits = 0;
    int significant = 0;
    auto digit = [&](bool fraction) {
        unsigned value = static_cast<unsigned>(text[i] - '0');
        ++mantissa_digits;
        if (significant == 0 && value == 0) {
            if (fraction) --d.exponent;
            return;
        }
        if (significant == max_digits) {
            d.small = false;
            return;
        }
        ++significant;
        d.significand = d.significand * 10 + value;
        if (fraction) --d.exponent;
    };
    for (; i < n && is_digit(text[i]); ++i) digit(false);
    if (i < n && text[i] == '.')
        for (++i; i < n && is_digit(text[i]); ++i) digit(true);
    if (mantissa_digits == 0) return d;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negative = i < n && text[i] == '-';
        if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t first = i;
        std::int64_t exponent = 0;
        for (; i < n && is_digit(text[i]); ++i) {
            if (exponent < 100000) exponent = exponent * 10 + (text[i] - '0');
            else d.small = false;
        }
        if (i == first) return d;
        d.exponent += negative ? -exponent : exponent;
    }
    d.valid = i == n;
    return d;
}

// The text of a decimal with its exponent moved by `shift`: the mantissa
// as written, then the exponent (saturated, which keeps what it means).
std::string shifted_text(std::string_view digits, int shift) {
    const std::size_t mark = digits.find_first_of("eE");
    std::string out(digits.substr(0, mark));
    std::int64_t exponent = 0;
    if (mark != std::string_view::npos) {
        std::size_t i = mark + 1;
        const bool negative = digits[i] == '-';
        if (digits[i] == '+' || digits[i] == '-') ++i;
        for (; i < digits.size(); ++i)
            if (exponent < 1000000000) exponent = exponent * 10 + (digits[i] - '0');
        if (negative) exponent = -exponent;
    }
    out += 'e';
    out += std::to_string(exponent + shift);
    return out;
}

FloatScan scan_unsigned(std::string_view text, bool negative, int shift) {
    constexpr double infinity = std::numeric_limits<double>::infinity();
    const double sign = negative ? -1.0 : 1.0;
    if (equals_ignoring_case(text, "inf") || equals_ignoring_case(text, "infinity"))
        return {FloatKind::number, sign * infinity};
    if (equals_ignoring_case(text, "nan"))
        return {FloatKind::number,
                std::copysign(std::numeric_limits<double>::quiet_NaN(), sign)};
    Decimal decimal = read_decimal(text);
    if (!decimal.valid) return {FloatKind::not_number, 0.0};

    double value = 0.0;
    const std::int64_t exponent = decimal.exponent + shift;
    if (decimal.small && exact_product(decimal.significand, exponent, value))
        return {FloatKind::number, negative ? -value : value};
    std::string moved;
    if (shift != 0) {
        moved = shifted_text(text, shift);
        text = moved;
    }
    const char *end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error == std::errc::result_out_of_range)
        value = leading_exponent(text) >= 0 ? infinity : 0.0;
    else if (error != std::errc() || stop != end)
        return {FloatKind::undecided, 0.0};  // cannot happen; let the host judge
    return {FloatKind::number, negative ? -value : value};
}

}  // namespace

namespace {

// The ASCII characters a text that float() accepts can hold: digits, point,
// signs, underscores, exponent marks, the letters of "inf", "infinity" and
// "nan", and white space.
constexpr bool may_be_in_float(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    switch (lower(static_cast<char>(c))) {
        case '.': case '+': case '-': case '_': case 'e':
        case 'i': case 'n': case 'f': case 't': case 'y': case 'a':
        case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
            return true;
        default:
            return false;
    }
}

struct FloatChars {
    bool table[128];
    constexpr FloatChars() : table() {
        for (unsigned c = 0; c < 128; ++c) table[c] = may_be_in_float(static_cast<unsigned char>(c));
    }
};
constexpr FloatChars kFloatChars;

}  // namespace

FloatScan scan_float(std::string_view text, int shift) noexcept {
    // A plain decimal of up to 15 digits ("-12.5") is an exact integer and a
    // power of ten, so one division or product rounds it correctly.
    double value = 0.0;
    if (const PlainDecimal d = leading_plain_decimal(text); d.size == text.size() && d.value(shift, value))
        return {FloatKind::number, value};
    // One pass settles the other common cases: a non-ASCII text is the
    // host's to read, and a character no float text holds makes it no number.
    bool impossible = false;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x80) return {FloatKind::undecided, 0.0};
        impossible = impossible || !kFloatChars.table[c];
    }
    if (impossible) return {FloatKind::not_number, 0.0};

    std::size_t begin = 0, end = text.size();
    while (begin < end && is_space(text[begin])) ++begin;
    while (end > begin && is_space(text[end - 1])) --end;
    std::string_view body = text.substr(begin, end - begin);
    if (body.empty()) return {FloatKind::not_number, 0.0};

    bool negative = false;
    if (body.front() == '+' || body.front() == '-') {
        negative = body.front() == '-';
        body.remove_prefix(1);
    }
    if (body.find('_') == std::string_view::npos) return scan_unsigned(body, negative, shift);

    if (!underscores_between_digits(body)) return {FloatKind::not_number, 0.0};
    try {
        std::string digits;
        digits.reserve(body.size());
        for (char c : body)
            if (c != '_') digits.push_back(c);
        return scan_unsigned(digits, negative, shift);
    } catch (...) {  // allocation failure: the host reports it properly
        return {FloatKind::undecided, 0.0};
    }
}

PlainDecimal leading_plain_decimal(std::string_view text) noexcept {
    constexpr int kMaxDigits = 15;
    PlainDecimal d;
    std::size_t i = 0;
    const std::size_t n = text.size();
    if (i < n && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    int digits = 0;
    for (; i < n && is_digit(text[i]); ++i, ++digits)
        d.significand = d.significand * 10 + static_cast<unsigned>(text[i] - '0');
    if (i < n && text[i] == '.')
        for (++i; i < n && is_digit(text[i]); ++i, ++digits, ++d.fraction)
            d.significand = d.significand * 10 + static_cast<unsigned>(text[i] - '0');
    if (digits > 0 && digits <= kMaxDigits) d.size = i;
    return d;
}

bool PlainDecimal::value(int shift, double &out) const noexcept {
    if (size == 0 || !exact_product(significand, static_cast<std::int64_t>(shift) - fraction, out)) return false;
    if (negative) out = -out;
    return true;
}

int scale_exponent(std::string_view unit) noexcept {
    if (unit.size() != 1) return 0;
    switch (lower(unit.front())) {
        case 'p': return -12;
        case 'n': return -9;
        case 'u': return -6;
        case 'm': return -3;
        default: return 0;
    }
}

double scale_factor(std::string_view unit) noexcept {
    const int exponent = scale_exponent(unit);
    return exponent == 0 ? 1.0 : 1.0 / kPowers[-exponent];
}

double shift_decimal(double value, int shift) noexcept {
    if (shift == 0 || value == 0.0 || !std::isfinite(value)) return value;
    // The shortest text that reads back as `value`: what was written, for
    // any decimal of up to 15 significant digits.
    char buffer[32];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    if (error != std::errc()) return value * std::pow(10.0, shift);
    return scan_float(std::string_view(buffer, static_cast<std::size_t>(end - buffer)), shift).value;
}

}  // namespace tessel::text
