// Where the bytes of a relevant line stand in the raw text: the 1-based raw
// line and column (in code points) of each of them.
//
// A relevant line is its raw lines' non-space runs joined by single blanks:
// the first raw line of a group from its start, each continuation line
// after its "+".  `LinePlaces` walks the raw lines of each line once more to
// find those runs again, so that a word of a joined line maps back to its own
// raw line.  Lines must be placed in the order the scanner gives them; the
// walk then stays linear in the text, however long its lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "text/relevant_lines.hpp"

namespace tessel::text {

struct RawPoint {
    std::uint32_t line = 0;
    std::uint32_t col = 0;  // 1-based, in code points of the raw line
};

class LinePlaces {
public:
    explicit LinePlaces(std::string_view content) : content_(content) {}

    // Makes `line` (as the scanner gave it: its text and where it stands)
    // the line that `start` and `end` answer for.
    void place(const RelevantLine &line);

    // Where byte `offset` of the placed line's text stands.
    RawPoint start(std::size_t offset);
    // Where the text that ends before byte `offset` (exclusive, > 0) ends:
    // just after its last character.
    RawPoint end(std::size_t offset);

private:
    // A run of the line's text that is a run of the content.
    struct Piece {
        std::size_t offset;      // in the line's text
        std::size_t raw;         // in the content
        std::size_t size;
        std::uint32_t line;      // raw line number
        std::size_t line_start;  // in the content
        bool ascii;              // the raw line up to the piece's end is ASCII: columns are offsets
    };
    // Moves the raw-line cursor to the start of raw line `number`.
    void seek(std::uint32_t number);
    // Adds the runs of the raw line at the cursor from byte `from` on,
    // matched against `text` from `offset`; false when they do not match.
    bool add_runs(std::size_t from, std::string_view text, std::size_t &offset);
    std::size_t line_end(std::size_t from) const;
    // Whether byte `raw` of the content begins a raw line.
    bool starts_line(std::size_t raw) const;
    RawPoint point(std::size_t raw, const Piece &piece);
    const Piece &piece_of(std::size_t offset);

    std::string_view content_;
    std::vector<Piece> pieces_;
    std::size_t piece_ = 0;
    // The raw line at the cursor.
    std::uint32_t cursor_line_ = 1;
    std::size_t cursor_ = 0;
    // The last column counted: code points in [line_start, counted_raw).
    std::size_t counted_start_ = SIZE_MAX, counted_raw_ = 0;
    std::uint32_t counted_ = 0;
};

}  // namespace tessel::text
