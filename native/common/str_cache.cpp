#include "common/str_cache.hpp"

#include <cstring>

#include "common/utf8.hpp"
#include "text/numbering.hpp"

namespace tessel {

StrCache::StrCache() : slots_(new Slot[kSlots]) {}

nb::object StrCache::get(std::string_view text) {
    if (text.size() > kMaxSize) return str_from_utf8(text);
    Slot &slot = slots_[text::hash_bytes(text) & (kSlots - 1)];
    if (slot.str.is_valid() && slot.size == text.size() &&
        text::same_bytes(slot.bytes, text.data(), text.size()))
        return slot.str;
    nb::str str = str_from_utf8(text);
    slot.str = str;
    slot.size = static_cast<std::uint8_t>(text.size());
    std::memcpy(slot.bytes, text.data(), text.size());
    return str;
}

}  // namespace tessel
