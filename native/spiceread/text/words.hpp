// Statement-level text operations: comment splitting, word splitting with
// quotes, and the tests the IR builder makes on single words.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
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

// Position of the controlled-source keyword in `words`: the first of "vcvs",
// "vccs", "ccvs", "cccs" (in that order) that occurs at all, compared with
// each word trimmed and lowercased.  No non-ASCII character lowercases to one
// of the ASCII letters of the keywords, so an ASCII comparison is exact.
std::optional<std::size_t> find_source_keyword(std::span<const std::string_view> words);

enum class Identifier : unsigned char { No, Yes, AskUnicode };

// `str.isidentifier` for ASCII words; AskUnicode when the word holds a
// non-ASCII character (the Unicode tables of the host decide then).
Identifier ascii_identifier(std::string_view word);

inline bool has_equals(std::string_view word) {
    return word.find('=') != std::string_view::npos;
}

}  // namespace tessel::spiceread::text
