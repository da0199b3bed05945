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

int source_keyword(std::string_view word) {
    if (word.size() < 4) return -1;
    if (word.size() > 4) {
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

}  // namespace tessel::spiceread::text
