// scan_float against Python's float() grammar checked by hand, with the value
// from strtod (correctly rounded, like the host's own conversion), bit for
// bit; and scale_factor against its five factors.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "check.hpp"
#include "text/number.hpp"

using namespace tessel::text;

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }

std::string lowercase(std::string_view s) {
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// digit (["_"] digit)* at `i`; false (and `i` unchanged) when there is none.
bool digitpart(std::string_view s, std::size_t &i) {
    if (i >= s.size() || !digit(s[i])) return false;
    ++i;
    while (i < s.size()) {
        if (digit(s[i])) {
            ++i;
        } else if (s[i] == '_' && i + 1 < s.size() && digit(s[i + 1])) {
            i += 2;
        } else {
            break;
        }
    }
    return true;
}

// [digitpart] "." digitpart | digitpart ["."], then ("e" | "E") [sign] digitpart.
bool decimal(std::string_view s) {
    std::size_t i = 0;
    const bool whole = digitpart(s, i);
    bool fraction = false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        fraction = digitpart(s, i);
    }
    if (!whole && !fraction) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        if (!digitpart(s, i)) return false;
    }
    return i == s.size();
}

bool same_bits(double a, double b) {
    std::uint64_t x, y;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y || (std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b));
}

void check_float(std::string_view text) {
    const FloatScan got = scan_float(text);
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) {
            FUZZ_CHECK(got.kind == FloatKind::undecided);
            return;
        }
    // float() strips " \t\n\v\f\r" only, on ASCII text.
    const std::size_t first = text.find_first_not_of(" \t\n\v\f\r");
    std::string_view body = first == std::string_view::npos
                                ? std::string_view()
                                : text.substr(first, text.find_last_not_of(" \t\n\v\f\r") + 1 - first);
    const bool negative = body.starts_with('-');
    if (negative || body.starts_with('+')) body.remove_prefix(1);

    const std::string word = lowercase(body);
    double want;
    if (word == "inf" || word == "infinity") {
        want = HUGE_VAL;
    } else if (word == "nan") {
        want = std::nan("");
    } else if (decimal(body)) {
        std::string digits;
        for (char c : body)
            if (c != '_') digits += c;
        want = std::strtod(digits.c_str(), nullptr);
    } else {
        FUZZ_CHECK(got.kind == FloatKind::not_number);
        return;
    }
    FUZZ_CHECK(got.kind == FloatKind::number);
    FUZZ_CHECK(same_bits(got.value, negative ? std::copysign(want, -1.0) : want));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    const std::string_view text = as_text(data, size);
    check_float(text);

    const double factor = scale_factor(text);
    double want = 1.0;
    if (size == 1) {
        switch (data[0] | 0x20) {
            case 'p': want = 1e-12; break;
            case 'n': want = 1e-9; break;
            case 'u': want = 1e-6; break;
            case 'm': want = 1e-3; break;
        }
    }
    FUZZ_CHECK(factor == want);
    return 0;
}
