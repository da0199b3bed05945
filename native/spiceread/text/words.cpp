#include "spiceread/text/words.hpp"

#include "spiceread/text/chars.hpp"

namespace tessel::spiceread::text {

CommentSplit split_comments(std::string_view line) {
    std::size_t at = line.find('$');
    if (at == std::string_view::npos) at = line.find('*');
    if (at == std::string_view::npos) return {line, {}, false};
    return {strip(line.substr(0, at)), strip(line.substr(at)), true};
}

bool WordSplitter::next(std::string_view &word) {
    if (done_) return false;
    const std::size_t start = pos_;
    const std::size_t size = line_.size();
    for (; pos_ < size; ++pos_) {
        const char c = line_[pos_];
        if (c == ' ') {
            if (mode_ == Mode::Char) {
                word = line_.substr(start, pos_ - start);
                ++pos_;
                return true;
            }
        } else if (c == '"') {
            if (mode_ == Mode::Char)
                mode_ = Mode::String;
            else if (mode_ == Mode::String)
                mode_ = Mode::Char;
        } else if (c == '\'') {
            if (mode_ == Mode::Char)
                mode_ = Mode::Eval;
            else if (mode_ == Mode::Eval)
                mode_ = Mode::Char;
        }
    }
    done_ = true;
    word = line_.substr(start);
    return true;
}

namespace {

bool equals_lowercase(std::string_view word, std::string_view keyword) {
    if (word.size() != keyword.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = word[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != keyword[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<std::size_t> find_source_keyword(std::span<const std::string_view> words) {
    static constexpr std::string_view kKeywords[] = {"vcvs", "vccs", "ccvs", "cccs"};
    // Cheap pre-check: a keyword word is four letters once trimmed.
    bool any = false;
    for (std::string_view w : words)
        if (w.size() >= 4 && strip(w).size() == 4) {
            any = true;
            break;
        }
    if (!any) return std::nullopt;
    for (std::string_view keyword : kKeywords)
        for (std::size_t i = 0; i < words.size(); ++i)
            if (equals_lowercase(strip(words[i]), keyword)) return i;
    return std::nullopt;
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

}  // namespace tessel::spiceread::text
