// Comment and word splitting of one statement, and the word tests the IR
// builder makes, against the rules they implement:
// - the statement and the comment are the trimmed text before and from the
//   first "$", else the first "*";
// - words are views into the statement that rejoin to it with single blanks,
//   cut at exactly the blanks outside quotes;
// - source_keyword and ascii_identifier agree with str.strip().lower() and
//   str.isidentifier() on ASCII.
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "text/chars.hpp"
#include "text/words.hpp"

using namespace tessel::text;

namespace {

void check_comment_split(std::string_view line) {
    const CommentSplit split = split_comments(line);
    std::size_t at = line.find('$');
    if (at == std::string_view::npos) at = line.find('*');
    FUZZ_CHECK(split.found == (at != std::string_view::npos));
    if (!split.found) {
        FUZZ_CHECK(split.statement.data() == line.data() &&
                   split.statement.size() == line.size() && split.comment.empty());
        return;
    }
    FUZZ_CHECK(split.statement == strip(line.substr(0, at)));
    FUZZ_CHECK(split.comment == strip(line.substr(at)));
    FUZZ_CHECK(split.comment.front() == line[at]);
}

// Positions of the blanks that end words: those met outside quotes.
std::vector<std::size_t> cutting_blanks(std::string_view line) {
    std::vector<std::size_t> cuts;
    char quote = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote == 0 && c == ' ')
            cuts.push_back(i);
        else if (c == '"' || c == '\'')
            quote = quote == 0 ? c : (quote == c ? 0 : quote);
    }
    return cuts;
}

void check_words(std::string_view line) {
    std::vector<std::string_view> words;
    WordSplitter splitter(line);
    for (std::string_view word; splitter.next(word);) words.push_back(word);
    std::string_view word;
    FUZZ_CHECK(!splitter.next(word));

    const std::vector<std::size_t> cuts = cutting_blanks(line);
    FUZZ_CHECK(words.size() == cuts.size() + 1);
    std::size_t start = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::size_t end = i < cuts.size() ? cuts[i] : line.size();
        FUZZ_CHECK(words[i].data() == line.data() + start && words[i].size() == end - start);
        start = end + 1;
    }
}

int reference_keyword(std::string_view word) {
    std::string lower(strip(word));
    for (char &c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    static constexpr std::string_view kKeywords[] = {"vcvs", "vccs", "ccvs", "cccs"};
    for (int k = 0; k < 4; ++k)
        if (lower == kKeywords[k]) return k;
    return -1;
}

Identifier reference_identifier(std::string_view word) {
    for (char c : word)
        if (static_cast<unsigned char>(c) >= 0x80) return Identifier::AskUnicode;
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (word.empty() || !letter(word[0])) return Identifier::No;
    for (char c : word.substr(1))
        if (!letter(c) && !digit(c)) return Identifier::No;
    return Identifier::Yes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, std::size_t size) {
    const std::string_view line = as_text(data, size);
    check_comment_split(line);
    check_words(line);
    check_words(split_comments(line).statement);

    WordSplitter splitter(line);
    std::vector<std::string_view> words;
    for (std::string_view word; splitter.next(word);) {
        words.push_back(word);
        FUZZ_CHECK(source_keyword(word) == reference_keyword(word));
        FUZZ_CHECK(ascii_identifier(word) == reference_identifier(word));
        FUZZ_CHECK(has_equals(word) == (word.find('=') != std::string_view::npos));
    }
    // split_words is the same walk with the empty words dropped.
    Words kept;
    for (std::string_view w : words)
        if (!w.empty()) kept.push_back(w);
    Words split;
    split_words(line, split);
    FUZZ_CHECK(split == kept);

    const std::size_t found = detail::find_source_keyword(words);
    int best = -1;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const int k = reference_keyword(words[i]);
        if (k >= 0 && (best < 0 || k < reference_keyword(words[static_cast<std::size_t>(best)])))
            best = static_cast<int>(i);
    }
    FUZZ_CHECK((found != words.size()) == (best >= 0));
    if (best >= 0) FUZZ_CHECK(found == static_cast<std::size_t>(best));
    return 0;
}
