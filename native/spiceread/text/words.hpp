// Statement-level text operations: comment splitting, word splitting with
// quotes, and the tests the IR builder makes on single words.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace tessel::spiceread::text {

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
class WordSplitter {
public:
    explicit WordSplitter(std::string_view line) : line_(line) {}

    // The next word, or false once the last word has been given.
    bool next(std::string_view &word);

private:
    enum class Mode : unsigned char { Char, String, Eval };

    std::string_view line_;
    std::size_t pos_ = 0;
    Mode mode_ = Mode::Char;
    bool done_ = false;
};

// Which controlled-source keyword `word` is once trimmed and lowercased:
// 0 to 3 for "vcvs", "vccs", "ccvs", "cccs", or -1.  No non-ASCII character
// lowercases to one of the ASCII letters of the keywords, so an ASCII
// comparison is exact.
int source_keyword(std::string_view word);

// Position of the controlled-source keyword among `words` (a range of
// elements that `text_of` turns into views): the first occurrence of the
// first keyword, in the order above, that occurs at all.
template <typename Range, typename TextOf>
std::optional<std::size_t> find_source_keyword(const Range &words, TextOf text_of) {
    int best = 4;
    std::size_t at = 0, i = 0;
    for (const auto &word : words) {
        const int keyword = source_keyword(text_of(word));
        if (keyword >= 0 && keyword < best) {
            best = keyword;
            at = i;
        }
        ++i;
    }
    if (best == 4) return std::nullopt;
    return at;
}

enum class Identifier : unsigned char { No, Yes, AskUnicode };

// `str.isidentifier` for ASCII words; AskUnicode when the word holds a
// non-ASCII character (the Unicode tables of the host decide then).
Identifier ascii_identifier(std::string_view word);

inline bool has_equals(std::string_view word) {
    return word.find('=') != std::string_view::npos;
}

}  // namespace tessel::spiceread::text
