// Stable storage for the texts a reading makes up (lines rebuilt by the
// scanner, words rewritten for controlled sources): views into it stay valid
// for the life of the arena, however much is added later.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace tessel::text {

class Arena {
public:
    // A copy of `a` followed by `b`.
    std::string_view store(std::string_view a, std::string_view b = {}) {
        const std::size_t size = a.size() + b.size();
        char *out = allocate(size);
        if (!a.empty()) std::char_traits<char>::copy(out, a.data(), a.size());
        if (!b.empty()) std::char_traits<char>::copy(out + a.size(), b.data(), b.size());
        return {out, size};
    }

private:
    static constexpr std::size_t kChunk = 64 * 1024;

    char *allocate(std::size_t size) {
        if (size > kChunk / 4) {  // a long text gets a block of its own
            big_.push_back(std::make_unique<char[]>(size ? size : 1));
            return big_.back().get();
        }
        if (chunks_.empty() || used_ + size > kChunk) {
            chunks_.push_back(std::make_unique<char[]>(kChunk));
            used_ = 0;
        }
        char *out = chunks_.back().get() + used_;
        used_ += size;
        return out;
    }

    std::vector<std::unique_ptr<char[]>> chunks_;
    std::vector<std::unique_ptr<char[]>> big_;
    std::size_t used_ = 0;
};

}  // namespace tessel::text
