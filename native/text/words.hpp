// Statement-level text operations: comment splitting, word splitting with
// quotes, and the controlled-source rewrite of an element's words.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "text/arena.hpp"
#include "text/chars.hpp"

namespace tessel::text {

using Words = std::vector<std::string_view>;

struct CommentSplit {
    std::string_view statement;
    std::string_view comment;  // marker included; empty when there is none
    bool found;                // a marker was found (else statement is the line)
};

// A "$" anywhere wins over a "*" before it; without "$", the first "*"
// starts the comment.  Both parts are trimmed.
CommentSplit split_comments(std::string_view line);

// Cuts a statement at blanks outside quotes.  Quote characters stay in their
// word; "..." and '...' parts hold blanks; a quote of the other kind inside
// one is ordinary text.  Consecutive blanks give empty words, and the end of
// the line always ends a (possibly empty) word.
// Where a walk over a statement stands: in ordinary text, inside "..." or
// inside '...'.
enum class QuoteMode : unsigned char { Char, String, Eval };

class WordSplitter {
public:
    explicit WordSplitter(std::string_view line) : line_(line) {}

    // The next word, or false once the last word has been given.
    bool next(std::string_view &word);

private:
    std::string_view line_;
    std::size_t pos_ = 0;
    QuoteMode mode_ = QuoteMode::Char;
    bool done_ = false;
};

// The quote mode at the end of `text` walked from ordinary text: a word
// whose mode is not Char holds a quote that its line never closes.
QuoteMode quote_mode_after(std::string_view text);

// The non-empty words of a statement, appended to `out`.
void split_words(std::string_view statement, Words &out);

// Which controlled-source keyword `word` is once trimmed and lowercased:
// 0 to 3 for "vcvs", "vccs", "ccvs", "cccs", or -1.  No non-ASCII character
// lowercases to one of the ASCII letters of the keywords, so an ASCII
// comparison is exact.
int source_keyword(std::string_view word);

enum class Identifier : unsigned char { No, Yes, AskUnicode };

// `str.isidentifier` for ASCII words; AskUnicode when the word holds a
// non-ASCII character (only the Unicode tables can tell then).
Identifier ascii_identifier(std::string_view word);

inline bool has_equals(std::string_view word) {
    return find_byte(word, '=') != std::string_view::npos;
}

// Rewrites the words of an element line around its controlled-source
// keyword (the first occurrence of the first of "vcvs", "vccs", "ccvs",
// "cccs" that occurs at all): identifiers after it become leading ports and
// empty settings, other words `gain`, `unknown1`, ... settings.  New words
// are stored in `arena`.  `is_identifier(word)` decides words that hold
// non-ASCII characters.  Words without a keyword are left as they are.
template <typename IsIdentifier>
void rewrite_sources(Words &words, Arena &arena, IsIdentifier &&is_identifier);

// A setting word split at its "="s: `parts` is how many pieces there are
// (a setting has exactly two: key and value).
struct SettingWord {
    std::string_view key;
    std::string_view value;
    std::size_t parts;
};
SettingWord split_setting(std::string_view word);

// --- implementation -------------------------------------------------------

namespace detail {
std::size_t find_source_keyword(const Words &words);  // words.size() when none
}

template <typename IsIdentifier>
void rewrite_sources(Words &words, Arena &arena, IsIdentifier &&is_identifier) {
    const std::size_t at = detail::find_source_keyword(words);
    if (at == words.size()) return;
    // ports, keyword, control words; identifiers among the control words
    // go in front of the ports in reverse order.
    Words out;
    out.reserve(words.size() * 2);
    std::size_t leading = 0, gains = 0;
    for (std::size_t k = words.size(); k-- > at + 1;) {
        const std::string_view w = words[k];
        if (has_equals(w)) continue;
        Identifier id = ascii_identifier(w);
        if (id == Identifier::Yes || (id == Identifier::AskUnicode && is_identifier(w))) ++leading;
    }
    out.resize(leading);
    std::size_t front = leading;
    out.insert(out.end(), words.begin(), words.begin() + static_cast<std::ptrdiff_t>(at) + 1);
    for (std::size_t k = at + 1; k < words.size(); ++k) {
        const std::string_view w = words[k];
        if (has_equals(w)) {
            out.push_back(w);
            continue;
        }
        Identifier id = ascii_identifier(w);
        if (id == Identifier::Yes || (id == Identifier::AskUnicode && is_identifier(w))) {
            out[--front] = w;
            out.push_back(arena.store(w, "="));
        } else {
            char key[32];
            std::size_t n = 0;
            if (gains == 0) {
                for (char c : std::string_view("gain=")) key[n++] = c;
            } else {
                for (char c : std::string_view("unknown")) key[n++] = c;
                char digits[24];
                std::size_t d = 0;
                for (std::size_t v = gains; v; v /= 10) digits[d++] = static_cast<char>('0' + v % 10);
                while (d) key[n++] = digits[--d];
                key[n++] = '=';
            }
            out.push_back(arena.store(std::string_view(key, n), w));
            ++gains;
        }
    }
    words.swap(out);
}

}  // namespace tessel::text
