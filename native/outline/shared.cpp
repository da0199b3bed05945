#include "outline/shared.hpp"

#include <bit>
#include <cstring>

#include "common/objects.hpp"
#include "common/utf8.hpp"

namespace tessel::outline {

namespace {

constexpr std::size_t kFirstSize = 1024;  // a power of two
constexpr std::size_t kLongest = 48;      // longer words rarely recur

std::uint64_t mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

// A word's hash, eight bytes at a time.
std::uint64_t hash_of(std::string_view s) {
    std::uint64_t h = 0x9e3779b97f4a7c15ULL ^ s.size();
    std::size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        std::uint64_t chunk;
        std::memcpy(&chunk, s.data() + i, 8);
        h = (h ^ chunk) * 0x100000001b3ULL;
        h ^= h >> 29;
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, s.data() + i, s.size() - i);
    return mix(h ^ tail);
}

}  // namespace

SharedObjects::SharedObjects() : texts_(kFirstSize), reals_(kFirstSize) {}

// Doubles the table once it is half full.
template <class Slot>
void SharedObjects::grow(std::vector<Slot> &slots) {
    std::vector<Slot> old(slots.size() * 2);
    old.swap(slots);
    const std::size_t mask = slots.size() - 1;
    for (Slot &slot : old) {
        if (!slot.object.is_valid()) continue;
        std::size_t at = slot.hash & mask;
        while (slots[at].object.is_valid()) at = (at + 1) & mask;
        slots[at] = std::move(slot);
    }
}

nb::object SharedObjects::text(std::string_view utf8) {
    if (utf8.size() > kLongest) return str_from_utf8(utf8);
    const std::uint64_t hash = hash_of(utf8);
    const std::size_t mask = texts_.size() - 1;
    std::size_t at = hash & mask;
    for (;; at = (at + 1) & mask) {
        const Text &slot = texts_[at];
        if (!slot.object.is_valid()) break;
        if (slot.hash == hash && slot.utf8 == utf8) return slot.object;
    }
    nb::object str = str_from_utf8(utf8);
    texts_[at] = Text{hash, utf8, str};
    if (++text_count_ * 2 > texts_.size()) grow(texts_);
    return str;
}

nb::object SharedObjects::number(std::size_t value) {
    // Lines, ids and indices grow one by one; a column far past every value
    // asked so far (a very long line) is not worth a table that large.
    constexpr std::size_t kStep = 4096;
    if (value >= numbers_.size() + kStep) return new_int(static_cast<long long>(value));
    if (value >= numbers_.size()) numbers_.resize(value + 1);
    nb::object &number = numbers_[value];
    if (!number.is_valid()) number = new_int(static_cast<long long>(value));
    return number;
}

nb::object SharedObjects::real(double value) {
    // By bit pattern, so that 0.0 and -0.0 stay apart.
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t hash = mix(bits);
    const std::size_t mask = reals_.size() - 1;
    std::size_t at = hash & mask;
    for (;; at = (at + 1) & mask) {
        const Real &slot = reals_[at];
        if (!slot.object.is_valid()) break;
        if (slot.bits == bits) return slot.object;
    }
    nb::object made = new_float(value);
    reals_[at] = Real{hash, bits, made};
    if (++real_count_ * 2 > reals_.size()) grow(reals_);
    return made;
}

}  // namespace tessel::outline
