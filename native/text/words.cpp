#include "text/words.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "text/chars.hpp"

namespace tessel::text {

CommentSplit split_comments(std::string_view line) {
    std::size_t at = line.find('$');
    if (at == std::string_view::npos) at = line.find('*');
    if (at == std::string_view::npos) return {line, {}, false};
    return {strip(line.substr(0, at)), strip(line.substr(at)), true};
}

namespace {

// 1: blank, 2: double quote, 3: single quote; 0: any other byte.
constexpr unsigned char word_byte(unsigned char c) {
    return c == ' ' ? 1 : c == '"' ? 2 : c == '\'' ? 3 : 0;
}

struct WordBytes {
    unsigned char table[256];
    constexpr WordBytes() : table() {
        for (unsigned c = 0; c < 256; ++c) table[c] = word_byte(static_cast<unsigned char>(c));
    }
};
constexpr WordBytes kWordBytes;

// The mode after a quote of kind 2 (double) or 3 (single): a quote of the
// other kind inside quotes is ordinary text.
QuoteMode after_quote(QuoteMode mode, unsigned char kind) {
    const QuoteMode inside = kind == 2 ? QuoteMode::String : QuoteMode::Eval;
    if (mode == QuoteMode::Char) return inside;
    return mode == inside ? QuoteMode::Char : mode;
}

}  // namespace

bool WordSplitter::next(std::string_view &word) {
    if (done_) return false;
    const std::size_t start = pos_;
    const std::size_t size = line_.size();
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(line_.data());
    for (;; ++pos_) {
        while (pos_ < size && kWordBytes.table[bytes[pos_]] == 0) ++pos_;
        if (pos_ == size) break;
        switch (kWordBytes.table[bytes[pos_]]) {
            case 1:
                if (mode_ != QuoteMode::Char) break;
                word = line_.substr(start, pos_ - start);
                ++pos_;
                return true;
            default:
                mode_ = after_quote(mode_, kWordBytes.table[bytes[pos_]]);
                break;
        }
    }
    done_ = true;
    word = line_.substr(start);
    return true;
}

namespace {

// `at(pos)` for each blank and quote of the `size` bytes, in order: sixteen
// bytes at a time where the machine compares them at once.
template <typename At>
void for_each_word_byte(const unsigned char *bytes, std::size_t size, At &&at) {
    std::size_t pos = 0;
#if defined(__SSE2__)
    const auto word_bytes = [](const unsigned char *block) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block));
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')),
                                                       _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))),
                                          _mm_cmpeq_epi8(v, _mm_set1_epi8('\'')));
        return static_cast<unsigned>(_mm_movemask_epi8(hits));
    };
    for (; pos + 16 <= size; pos += 16)
        for (unsigned mask = word_bytes(bytes + pos); mask != 0; mask &= mask - 1)
            at(pos + static_cast<std::size_t>(std::countr_zero(mask)));
    if (pos < size) {  // the last few, in a block of their own (NUL is no word byte)
        unsigned char block[16] = {};
        std::memcpy(block, bytes + pos, size - pos);
        for (unsigned mask = word_bytes(block); mask != 0; mask &= mask - 1)
            at(pos + static_cast<std::size_t>(std::countr_zero(mask)));
        return;
    }
#endif
    for (; pos < size; ++pos)
        if (kWordBytes.table[bytes[pos]] != 0) at(pos);
}

}  // namespace

void split_words(std::string_view statement, Words &out) {
    // WordSplitter's walk with empty words dropped, in one loop.
    const unsigned char *bytes = reinterpret_cast<const unsigned char *>(statement.data());
    QuoteMode mode = QuoteMode::Char;
    std::size_t start = 0;
    for_each_word_byte(bytes, statement.size(), [&](std::size_t pos) {
        const unsigned char kind = kWordBytes.table[bytes[pos]];
        if (kind != 1) {
            mode = after_quote(mode, kind);
        } else if (mode == QuoteMode::Char) {
            if (pos > start) out.push_back(statement.substr(start, pos - start));
            start = pos + 1;
        }
    });
    if (statement.size() > start) out.push_back(statement.substr(start));
}

QuoteMode quote_mode_after(std::string_view text) {
    QuoteMode mode = QuoteMode::Char;
    for (unsigned char c : text)
        if (const unsigned char kind = kWordBytes.table[c]; kind > 1) mode = after_quote(mode, kind);
    return mode;
}

int source_keyword(std::string_view word) {
    if (word.size() < 4) return -1;
    if (word.size() > 4) {
        // Only white space around it can make a longer word a keyword.
        const unsigned char first = static_cast<unsigned char>(word.front());
        const unsigned char last = static_cast<unsigned char>(word.back());
        if (!maybe_special(first) && last < 0x80 && !maybe_special(last)) return -1;
        word = strip(word);
        if (word.size() != 4) return -1;
    }
    char lower[4];
    for (std::size_t i = 0; i < 4; ++i) {
        char c = word[i];
        lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    static constexpr std::string_view kKeywords[] = {"vcvs", "vccs", "ccvs", "cccs"};
    const std::string_view text(lower, 4);
    for (int k = 0; k < 4; ++k)
        if (text == kKeywords[k]) return k;
    return -1;
}

Identifier ascii_identifier(std::string_view word) {
    if (word.empty()) return Identifier::No;
    bool ok = true;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(word[i]);
        if (c >= 0x80) return Identifier::AskUnicode;
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
        const bool digit = c >= '0' && c <= '9';
        if (!(letter || (digit && i > 0))) ok = false;
    }
    return ok ? Identifier::Yes : Identifier::No;
}


std::size_t detail::find_source_keyword(const Words &words) {
    int best = 4;
    std::size_t at = words.size();
    for (std::size_t i = 0; i < words.size(); ++i) {
        const int keyword = source_keyword(words[i]);
        if (keyword >= 0 && keyword < best) {
            best = keyword;
            at = i;
        }
    }
    return at;
}

SettingWord split_setting(std::string_view word) {
    const std::size_t eq = find_byte(word, '=');
    if (eq == std::string_view::npos) return {word, {}, 1};
    std::size_t parts = 2;
    for (std::size_t p = find_byte(word, '=', eq + 1); p != std::string_view::npos; p = find_byte(word, '=', p + 1))
        ++parts;
    return {word.substr(0, eq), word.substr(eq + 1), parts};
}

}  // namespace tessel::text
