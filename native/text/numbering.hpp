// Numbering the distinct texts of a netlist: a hash of short texts, and small
// numbers for texts in order of first mention (the nets of a subcircuit).
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace tessel::text {

// A hash of a short text, eight bytes at a time.
inline std::uint64_t hash_bytes(std::string_view text) {
    const char *p = text.data();
    std::size_t n = text.size();
    std::uint64_t h = n * 0x9E3779B97F4A7C15ull;
    for (; n >= 8; p += 8, n -= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    // The last 1 to 7 bytes without a loop: two overlapping 4-byte reads, or
    // the first, middle and last byte (the length is in the hash already).
    std::uint64_t w = 0;
    if (n >= 4) {
        std::uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + n - 4, 4);
        w = lo | std::uint64_t{hi} << 32;
    } else if (n > 0) {
        const auto byte = [p](std::size_t i) { return std::uint64_t{static_cast<unsigned char>(p[i])}; };
        w = byte(0) | byte(n / 2) << 8 | byte(n - 1) << 16;
    }
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 29);
}

// Whether the `n` bytes at `a` and at `b` are the same, without a call for
// the short words of a netlist: the loads that cover them, as hash_bytes.
inline bool same_bytes(const char *a, const char *b, std::size_t n) {
    const auto load8 = [](const char *p) { std::uint64_t w; std::memcpy(&w, p, 8); return w; };
    const auto load4 = [](const char *p) { std::uint32_t w; std::memcpy(&w, p, 4); return w; };
    if (n >= 8) {
        for (std::size_t i = 0; i + 8 < n; i += 8)
            if (load8(a + i) != load8(b + i)) return false;
        return load8(a + n - 8) == load8(b + n - 8);
    }
    if (n >= 4) return load4(a) == load4(b) && load4(a + n - 4) == load4(b + n - 4);
    return n == 0 || (a[0] == b[0] && a[n / 2] == b[n / 2] && a[n - 1] == b[n - 1]);
}

// Small numbers for distinct texts, from 0 in order of first mention; the
// texts must outlive the numbering.
class TextIds {
public:
    void clear();
    std::uint32_t id(std::string_view text);
    std::string_view text(std::uint32_t id) const { return texts_[id]; }

private:
    std::vector<std::string_view> texts_;
    std::vector<std::uint32_t> slots_;  // id + 1, or 0 for an empty slot
};

}  // namespace tessel::text
