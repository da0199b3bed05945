#include "text/numbering.hpp"

#include <algorithm>
#include <cstring>

namespace tessel::text {

void TextIds::clear() {
    texts_.clear();
    std::fill(slots_.begin(), slots_.end(), 0);
}

std::uint32_t TextIds::id(std::string_view text) {
    if (slots_.size() < 2 * (texts_.size() + 1)) {
        // Grow to keep the table at most half full, and put the texts back.
        slots_.assign(std::max<std::size_t>(64, slots_.size() * 2), 0);
        for (std::uint32_t k = 0; k < texts_.size(); ++k) {
            std::size_t i = hash_bytes(texts_[k]) & (slots_.size() - 1);
            while (slots_[i]) i = (i + 1) & (slots_.size() - 1);
            slots_[i] = k + 1;
        }
    }
    std::size_t i = hash_bytes(text) & (slots_.size() - 1);
    for (; slots_[i]; i = (i + 1) & (slots_.size() - 1)) {
        const std::string_view t = texts_[slots_[i] - 1];
        if (t.size() == text.size() && same_bytes(t.data(), text.data(), t.size())) return slots_[i] - 1;
    }
    texts_.push_back(text);
    slots_[i] = static_cast<std::uint32_t>(texts_.size());
    return slots_[i] - 1;
}

}  // namespace tessel::text
