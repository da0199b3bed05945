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
    std::uint64_t w = 0;
    std::memcpy(&w, p, n);
    h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    return h ^ (h >> 29);
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
