#include "text/positions.hpp"

#include "text/chars.hpp"

namespace tessel::text {

namespace {

bool is_lead(unsigned char c) { return (c & 0xC0) != 0x80; }

bool all_ascii(const unsigned char *p, const unsigned char *end) {
    unsigned char any = 0;
    for (; p < end; ++p) any |= *p;
    return any < 0x80;
}

}  // namespace

std::size_t LinePlaces::line_end(std::size_t from) const {
    const unsigned char *p = bytes(content_) + from, *end = bytes(content_) + content_.size();
    while (p < end) {
        if (!maybe_special(*p)) {
            ++p;
            continue;
        }
        CharClass c = classify(p, end);
        if (c.kind == Kind::LineBreak) break;
        p += c.size;
    }
    return static_cast<std::size_t>(p - bytes(content_));
}

void LinePlaces::seek(std::uint32_t number) {
    const unsigned char *base = bytes(content_), *end = base + content_.size();
    while (cursor_line_ < number && cursor_ < content_.size()) {
        const unsigned char *p = base + line_end(cursor_);
        if (p == end) break;
        cursor_ = static_cast<std::size_t>(p + classify(p, end).size - base);
        ++cursor_line_;
    }
}

bool LinePlaces::add_runs(std::size_t from, std::string_view text, std::size_t &offset) {
    const unsigned char *base = bytes(content_), *end = base + content_.size();
    const unsigned char *p = base + from;
    auto kind_at = [&](const unsigned char *q) {
        return maybe_special(*q) ? classify(q, end) : CharClass{Kind::Ordinary, 1};
    };
    // A continuation's first run follows a blank, as do runs after white space.
    bool blank = offset > 0;
    while (p < end) {
        CharClass c = kind_at(p);
        if (c.kind == Kind::LineBreak) break;
        if (c.kind == Kind::Space) {
            blank = offset > 0;
            p += c.size;
            continue;
        }
        const unsigned char *run = p;
        for (CharClass d = c; p < end && d.kind == Kind::Ordinary;) {
            p += d.size;
            if (p < end) d = kind_at(p);
        }
        if (blank) {
            if (offset >= text.size() || text[offset] != ' ') return false;
            ++offset;
        }
        const std::size_t size = static_cast<std::size_t>(p - run);
        if (text.substr(offset, size) != std::string_view(reinterpret_cast<const char *>(run), size))
            return false;
        pieces_.push_back({offset, static_cast<std::size_t>(run - base), size, cursor_line_, cursor_,
                           all_ascii(base + cursor_, run + size)});
        offset += size;
        blank = false;
    }
    return true;
}

bool LinePlaces::starts_line(std::size_t raw) const {
    if (raw == 0) return true;
    const unsigned char *b = bytes(content_);
    const unsigned char before = b[raw - 1];
    if (before < 0x80) return detail::kByteClass[before] == 2;
    // U+0085, U+2028 and U+2029 end with these bytes.
    return (raw >= 2 && b[raw - 2] == 0xC2 && before == 0x85) ||
           (raw >= 3 && b[raw - 3] == 0xE2 && b[raw - 2] == 0x80 && (before == 0xA8 || before == 0xA9));
}

void LinePlaces::place(const RelevantLine &line) {
    pieces_.clear();
    piece_ = 0;
    const std::string_view text = line.text;
    const char *base = content_.data();
    if (!line.where.known()) return;
    if (text.data() >= base && text.data() + text.size() <= base + content_.size()) {
        // A view of one raw line: the whole line (the usual case) or its
        // words without the white space around them.
        const auto raw = static_cast<std::size_t>(text.data() - base);
        if (starts_line(raw)) {
            cursor_line_ = line.where.first_line;
            cursor_ = raw;
        } else {
            seek(line.where.first_line);
        }
        const unsigned char *b = bytes(content_);
        pieces_.push_back({0, raw, text.size(), cursor_line_, cursor_, all_ascii(b + cursor_, b + raw + text.size())});
        return;
    }
    seek(line.where.first_line);
    std::size_t offset = 0;
    for (std::uint32_t number = line.where.first_line; number <= line.where.last_line; ++number) {
        seek(number);
        if (cursor_line_ != number) break;
        const std::size_t mark = pieces_.size();
        std::size_t from = cursor_, at = offset;
        // The first raw line is the head of its group (taken from its start)
        // unless its text is that of a continuation (after its "+").
        if (number == line.where.first_line && add_runs(from, text, at)) {
            offset = at;
            continue;
        }
        pieces_.resize(mark);
        const unsigned char *p = bytes(content_) + from, *end = bytes(content_) + content_.size();
        while (p < end && maybe_special(*p) && classify(p, end).kind == Kind::Space) p += classify(p, end).size;
        if (p < end && *p == '+') ++p;
        at = offset;
        if (!add_runs(static_cast<std::size_t>(p - bytes(content_)), text, at)) {
            pieces_.resize(mark);
            break;
        }
        offset = at;
    }
}

const LinePlaces::Piece &LinePlaces::piece_of(std::size_t offset) {
    if (piece_ >= pieces_.size() || pieces_[piece_].offset > offset) piece_ = 0;
    while (piece_ + 1 < pieces_.size() && pieces_[piece_ + 1].offset <= offset) ++piece_;
    return pieces_[piece_];
}

RawPoint LinePlaces::point(std::size_t raw, const Piece &piece) {
    if (piece.ascii) return {piece.line, static_cast<std::uint32_t>(raw - piece.line_start + 1)};
    const unsigned char *b = bytes(content_);
    if (counted_start_ != piece.line_start || counted_raw_ > raw) {
        counted_start_ = piece.line_start;
        counted_raw_ = piece.line_start;
        counted_ = 0;
    }
    for (; counted_raw_ < raw; ++counted_raw_) counted_ += is_lead(b[counted_raw_]);
    return {piece.line, counted_ + 1};
}

RawPoint LinePlaces::start(std::size_t offset) {
    if (pieces_.empty()) return {};
    const Piece &piece = piece_of(offset);
    return point(piece.raw + (offset - piece.offset), piece);
}

RawPoint LinePlaces::end(std::size_t offset) {
    if (pieces_.empty() || offset == 0) return {};
    const Piece &piece = piece_of(offset - 1);
    return point(piece.raw + (offset - piece.offset), piece);
}

}  // namespace tessel::text
