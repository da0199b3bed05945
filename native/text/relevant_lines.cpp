#include "text/relevant_lines.hpp"

#include <bit>
#include <cstdint>
#include <cstring>

#include "text/chars.hpp"

namespace tessel::text {

// The relevant line being built: a span of the text for as long as the line
// reads exactly as that span, copied into the buffer from the first place
// where it does not (a run of white space, a tab, a continuation).
class RelevantLineScanner::Builder {
public:
    explicit Builder(std::string &buffer) : buffer_(buffer) { buffer_.clear(); }

    // Adds the run [run, run_end), behind a blank when `blank` and the line
    // is not empty.
    void add(const unsigned char *run, const unsigned char *run_end, bool blank) {
        if (!copied_) {
            if (!begin_) {
                begin_ = run;
                end_ = run_end;
                return;
            }
            if (blank ? (run == end_ + 1 && *end_ == ' ') : run == end_) {
                end_ = run_end;
                return;
            }
            buffer_.assign(reinterpret_cast<const char *>(begin_), end_ - begin_);
            copied_ = true;
        }
        if (blank) buffer_.push_back(' ');
        buffer_.append(reinterpret_cast<const char *>(run), run_end - run);
    }

    bool empty() const { return !begin_; }

    std::string_view text() const {
        if (copied_) return buffer_;
        return {reinterpret_cast<const char *>(begin_), static_cast<std::size_t>(end_ - begin_)};
    }

private:
    std::string &buffer_;
    const unsigned char *begin_ = nullptr;
    const unsigned char *end_ = nullptr;
    bool copied_ = false;
};

void RelevantLineScanner::take_rest_of_line(const unsigned char *p, Builder &line,
                                            bool pending_blank) {
    const unsigned char *end = end_;
    while (p < end) {
        const unsigned char *run = p;
        while (p < end && !maybe_special(*p)) ++p;
        if (p == run) {
            CharClass c = classify(p, end);
            if (c.kind == Kind::LineBreak) {
                pos_ = p + c.size;
                ++line_;
                return;
            }
            if (c.kind == Kind::Space) {
                pending_blank = true;
                p += c.size;
                continue;
            }
            p += c.size;  // an ordinary character behind a lead byte
        }
        line.add(run, p, pending_blank && !line.empty());
        pending_blank = false;
    }
    pos_ = end;
}

const unsigned char *RelevantLineScanner::continuation_at() const {
    const unsigned char *p = pos_;
    while (p < end_) {
        if (!maybe_special(*p)) return *p == '+' ? p : nullptr;
        CharClass c = classify(p, end_);
        if (c.kind != Kind::Space) return nullptr;
        p += c.size;
    }
    return nullptr;
}

namespace {

// Where a raw line that already reads as a relevant line ends (its line
// break, or the end of the text): one that holds no white space but single
// blanks between words.  nullptr for any other line.
const unsigned char *clean_line_end(const unsigned char *p, const unsigned char *end) {
    if (p == end || maybe_special(*p)) return nullptr;
    bool blank = false;
    // Eight bytes at a time while they are printable ASCII with single
    // blanks; the byte loop below settles the rest.
    constexpr std::uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    constexpr std::uint64_t kLow = 0x7F7F7F7F7F7F7F7Full, kBlanks = kOnes * ' ';
    for (; std::endian::native == std::endian::little && end - p >= 8; p += 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        // A high bit for each byte below ' ' (the hasless test) or above 0x7F.
        if (((w - kBlanks) & ~w & kHigh) | (w & kHigh)) break;
        const std::uint64_t x = w ^ kBlanks;
        const std::uint64_t blanks = ~(((x & kLow) + kLow) | x | kLow);  // exactly the blanks' high bits
        if ((blanks & (blanks << 8)) || (blank && (blanks & 0x80))) break;
        blank = (blanks >> 63) != 0;  // the last byte, the word's highest
    }
    for (; p < end; ++p) {
        const unsigned char c = *p;
        if (!maybe_special(c)) {
            blank = false;
        } else if (c == ' ' && !blank) {
            blank = true;
        } else {
            return c == '\n' && !blank ? p : nullptr;
        }
    }
    return blank ? nullptr : end;
}

}  // namespace

namespace {

// Calls `at_break(end_of_line, start_of_next)` for each line break.
template <typename AtBreak>
void for_each_break(std::string_view content, AtBreak &&at_break) {
    const unsigned char *p = bytes(content), *end = p + content.size();
    while (p < end) {
        if (!maybe_special(*p)) {
            ++p;
            continue;
        }
        CharClass c = classify(p, end);
        if (c.kind == Kind::LineBreak && !at_break(p, p + c.size)) return;
        p += c.size;
    }
}

}  // namespace

std::string_view raw_line(std::string_view content, std::uint32_t number) {
    const unsigned char *start = bytes(content), *stop = start + content.size();
    std::uint32_t line = 1;
    bool found = number == 1;
    for_each_break(content, [&](const unsigned char *eol, const unsigned char *next) {
        if (found) {
            stop = eol;
            return false;
        }
        if (++line == number) {
            start = next;
            found = true;
        }
        return true;
    });
    if (!found) return {};
    return {reinterpret_cast<const char *>(start), static_cast<std::size_t>(stop - start)};
}

std::string statement_shown(std::string_view content, Position where) {
    constexpr std::size_t kShown = 120;
    std::string statement(strip(raw_line(content, where.first_line)));
    if (where.last_line > where.first_line) statement += " ...";
    std::size_t chars = 0, cut = 0;
    for (std::size_t i = 0; i < statement.size(); ++i) {
        if ((static_cast<unsigned char>(statement[i]) & 0xC0) == 0x80) continue;
        if (++chars == kShown - 2) cut = i;
        if (chars > kShown) return statement.substr(0, cut) + "...";
    }
    return statement;
}

std::uint32_t line_at(std::string_view content, std::size_t offset) {
    std::uint32_t line = 1;
    for_each_break(content.substr(0, offset), [&](const unsigned char *, const unsigned char *) {
        ++line;
        return true;
    });
    return line;
}

bool RelevantLineScanner::next(RelevantLine &out) {
    while (pos_ < end_) {
        // The common case: a clean raw line that the next one does not continue.
        if (const unsigned char *stop = clean_line_end(pos_, end_)) {
            const unsigned char *start = pos_;
            pos_ = stop < end_ ? stop + 1 : end_;
            if (!continuation_at()) {
                out.text = {reinterpret_cast<const char *>(start), static_cast<std::size_t>(stop - start)};
                out.where = {line_, line_};
                if (stop < end_) ++line_;
                return true;
            }
            pos_ = start;
        }
        Builder line(buffer_);
        // The line's position is that of the raw lines that gave it text.
        std::uint32_t first = 0, last = 0;
        auto take = [&](const unsigned char *from, bool blank) {
            const std::uint32_t raw = line_;
            take_rest_of_line(from, line, blank);
            if (line.empty()) return;
            if (!first) first = raw;
            last = raw;
        };
        // The first raw line of a group is taken as it stands, even when it
        // begins with "+".
        take(pos_, false);
        while (const unsigned char *plus = continuation_at()) take(plus + 1, true);
        if (!line.empty()) {
            out.text = line.text();
            out.where = {first, last};
            return true;
        }
    }
    return false;
}

}  // namespace tessel::text
