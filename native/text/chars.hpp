// Character classes of the netlist text, on UTF-8 bytes.
//
// The reader must agree with the host's own string operations to the code
// point: `str.splitlines` ends lines at \n \r \r\n \v \f \x1c \x1d \x1e \x85
// \u2028 \u2029, and `str.strip`, `str.isspace` and the `\s` of `re` all
// share one white-space set (the ASCII controls \t-\r and \x1c-\x1f, the
// blank, and \x85 \xa0 \u1680 \u2000-\u200a \u2028 \u2029 \u202f \u205f
// \u3000).  Every non-ASCII member of that set starts with one of the lead
// bytes C2, E1, E2 or E3, so one table look-up per byte settles the common
// case and only those four lead bytes need a closer look.
//
// Input is well-formed UTF-8, or the "surrogatepass" form of a string with
// lone surrogates (ED A0 80..ED BF BF), which classifies as ordinary text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace tessel::text {

enum class Kind : std::uint8_t { Ordinary, Space, LineBreak };

struct CharClass {
    Kind kind;
    std::uint8_t size;  // bytes taken by the character (1 for ordinary bytes)
};

namespace detail {

// 0: ordinary byte; 1: ASCII white space; 2: ASCII line break;
// 3: lead byte of a possible non-ASCII white space.
constexpr std::uint8_t kByteClass[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 2, 2, 2, 0, 0,  // 00-0f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 2, 2, 1,  // 10-1f
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 20-2f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 30-3f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 40-4f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 50-5f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 60-6f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 70-7f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 80-8f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 90-9f
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // a0-af
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // b0-bf
    0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // c0-cf
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // d0-df
    0, 3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // e0-ef
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // f0-ff
};

inline CharClass classify_lead(const unsigned char *p, const unsigned char *end) {
    const std::ptrdiff_t left = end - p;
    switch (p[0]) {
    case 0xC2:  // U+0085 (a line break), U+00A0
        if (left >= 2) {
            if (p[1] == 0x85) return {Kind::LineBreak, 2};
            if (p[1] == 0xA0) return {Kind::Space, 2};
        }
        break;
    case 0xE1:  // U+1680
        if (left >= 3 && p[1] == 0x9A && p[2] == 0x80) return {Kind::Space, 3};
        break;
    case 0xE2:  // U+2000-200A, U+2028/2029 (line breaks), U+202F, U+205F
        if (left >= 3) {
            if (p[1] == 0x80) {
                const unsigned char c = p[2];
                if (c >= 0x80 && c <= 0x8A) return {Kind::Space, 3};
                if (c == 0xA8 || c == 0xA9) return {Kind::LineBreak, 3};
                if (c == 0xAF) return {Kind::Space, 3};
            } else if (p[1] == 0x81 && p[2] == 0x9F) {
                return {Kind::Space, 3};
            }
        }
        break;
    case 0xE3:  // U+3000
        if (left >= 3 && p[1] == 0x80 && p[2] == 0x80) return {Kind::Space, 3};
        break;
    default:
        break;
    }
    return {Kind::Ordinary, 1};
}

}  // namespace detail

// Whether every byte is ASCII and none a carriage return: such bytes are
// their own text, whatever text mode with universal newlines would make of them.
inline bool plain_ascii(std::string_view s) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    constexpr std::uint64_t kReturns = kOnes * '\r';
    const char *p = s.data();
    std::size_t n = s.size();
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        const std::uint64_t r = w ^ kReturns;  // a zero byte where a '\r' was
        if ((w | ((r - kOnes) & ~r)) & kHigh) return false;
    }
    for (; n > 0; ++p, --n)
        if (static_cast<unsigned char>(*p) >= 0x80 || *p == '\r') return false;
    return true;
}

// text.find(c, from), with a plain loop over the short words of a netlist,
// where a call of memchr costs more than the scan it saves.
inline std::size_t find_byte(std::string_view text, char c, std::size_t from = 0) {
    constexpr std::size_t kShort = 16;
    if (from >= text.size()) return std::string_view::npos;
    if (text.size() - from > kShort) return text.find(c, from);
    for (std::size_t i = from; i < text.size(); ++i)
        if (text[i] == c) return i;
    return std::string_view::npos;
}

// Whether the byte may start white space or a line break: false settles it.
inline bool maybe_special(unsigned char c) { return detail::kByteClass[c] != 0; }

// The class of the character at `p` (p < end).  A line break "\r\n" is one
// character of size 2.
inline CharClass classify(const unsigned char *p, const unsigned char *end) {
    switch (detail::kByteClass[*p]) {
    case 0: return {Kind::Ordinary, 1};
    case 1: return {Kind::Space, 1};
    case 2:
        if (*p == '\r' && end - p >= 2 && p[1] == '\n') return {Kind::LineBreak, 2};
        return {Kind::LineBreak, 1};
    default: return detail::classify_lead(p, end);
    }
}

inline const unsigned char *bytes(std::string_view s) {
    return reinterpret_cast<const unsigned char *>(s.data());
}

// `str.strip()` with no argument.
inline std::string_view strip(std::string_view s) {
    const unsigned char *p = bytes(s), *end = p + s.size();
    while (p < end) {
        if (!maybe_special(*p)) break;
        CharClass c = classify(p, end);
        if (c.kind == Kind::Ordinary) break;
        p += c.size;
    }
    // Walk back one character at a time: a white-space character ends at
    // `end`, and its lead byte can only be one of the bytes tested here.
    while (end > p) {
        const unsigned char last = end[-1];
        if (last < 0x80) {
            if (detail::kByteClass[last] == 0) break;
            --end;
            continue;
        }
        if (end - p >= 2 && end[-2] == 0xC2 &&
            classify(end - 2, end).kind != Kind::Ordinary) {
            end -= 2;
            continue;
        }
        if (end - p >= 3 && end[-3] >= 0xE1 && end[-3] <= 0xE3 &&
            classify(end - 3, end).kind != Kind::Ordinary) {
            end -= 3;
            continue;
        }
        break;
    }
    return {reinterpret_cast<const char *>(p), static_cast<std::size_t>(end - p)};
}

// `re.sub(r"\s+", " ", s)`, appended to `out`.
inline void standardize_spaces(std::string_view s, std::string &out) {
    const unsigned char *p = bytes(s), *end = p + s.size();
    bool in_space = false;
    while (p < end) {
        const unsigned char *run = p;
        while (p < end && !maybe_special(*p)) ++p;
        if (p != run) {
            out.append(reinterpret_cast<const char *>(run), p - run);
            in_space = false;
            continue;
        }
        CharClass c = classify(p, end);
        if (c.kind == Kind::Ordinary) {
            out.append(reinterpret_cast<const char *>(p), c.size);
            in_space = false;
        } else if (!in_space) {
            out.push_back(' ');
            in_space = true;
        }
        p += c.size;
    }
}

// Whether standardizing leaves `s` as it is: its only white space is
// single blanks.
inline bool is_standard(std::string_view s) {
    const unsigned char *p = bytes(s), *end = p + s.size();
    bool prev_blank = false;
    while (p < end) {
        if (!maybe_special(*p)) {
            ++p;
            prev_blank = false;
            continue;
        }
        CharClass c = classify(p, end);
        if (c.kind != Kind::Ordinary) {
            if (*p != ' ' || prev_blank) return false;
            prev_blank = true;
        } else {
            prev_blank = false;
        }
        p += c.size;
    }
    return true;
}

}  // namespace tessel::text
