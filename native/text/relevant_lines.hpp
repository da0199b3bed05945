// The relevant-line scanner: netlist text to the stream of relevant lines,
// each with the file lines it came from.
//
// One forward pass over the text does what the reader's five line stages do
// one after the other (trim, fold "+" continuations into the line before,
// reduce white space to single blanks, trim again, drop empty lines), without
// ever holding more than the line being built.  Because white space ends up
// reduced and trimmed, a relevant line is just the non-space runs of its
// pieces joined by single blanks: the first raw line of a group as it stands,
// then each continuation line after its "+".  A line that already reads that
// way in the text (the usual case) is handed out as a view into the text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tessel::text {

// Where a statement stands in the file: the 1-based numbers of its first raw
// line and of its last continuation line.  Raw lines end where
// `str.splitlines` ends them.  0 when unknown (lines given without a text).
struct Position {
    std::uint32_t first_line = 0;
    std::uint32_t last_line = 0;
    bool known() const { return first_line != 0; }
};

struct RelevantLine {
    std::string_view text;  // into the content, or into the scanner's buffer
    Position where;
};

// Raw line `number` (1-based) of `content`, without its line break; empty
// when the text has fewer lines.
std::string_view raw_line(std::string_view content, std::uint32_t number);

// The statement at `where` as a note shows it: its first raw line, trimmed,
// " ..." after it when continuation lines follow, and cut to about 120
// characters (at a character boundary) with "..." when longer.
std::string statement_shown(std::string_view content, Position where);

// The number of the raw line that holds byte `offset` of `content`.
std::uint32_t line_at(std::string_view content, std::size_t offset);

class RelevantLineScanner {
public:
    explicit RelevantLineScanner(std::string_view content)
        : pos_(reinterpret_cast<const unsigned char *>(content.data())),
          end_(pos_ + content.size()) {}

    // The next relevant line; false when the text is used up.  The line's
    // text is valid until the next call (and as long as the content).
    bool next(RelevantLine &line);

private:
    class Builder;
    // Adds the non-space runs from `from` to the end of its raw line, and
    // moves past that line's line break.
    void take_rest_of_line(const unsigned char *from, Builder &line, bool pending_blank);
    // Where the raw line at the current position continues the line before
    // (its "+"), or nullptr.
    const unsigned char *continuation_at() const;

    const unsigned char *pos_;
    const unsigned char *end_;
    std::uint32_t line_ = 1;  // number of the raw line at `pos_`
    std::string buffer_;
};

}  // namespace tessel::text
