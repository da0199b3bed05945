// The relevant-line scanner: netlist text to the stream of relevant lines.
//
// One forward pass over the text does what the reader's five line stages do
// one after the other (trim, fold "+" continuations into the line before,
// reduce white space to single blanks, trim again, drop empty lines), without
// ever holding more than the line being built.  Because white space ends up
// reduced and trimmed, a relevant line is just the non-space runs of its
// pieces joined by single blanks: the first raw line of a group as it stands,
// then each continuation line after its "+".
#pragma once

#include <string>
#include <string_view>

namespace tessel::spiceread::text {

class RelevantLineScanner {
public:
    explicit RelevantLineScanner(std::string_view content)
        : pos_(reinterpret_cast<const unsigned char *>(content.data())),
          end_(pos_ + content.size()) {}

    // Puts the next relevant line into `line` (replacing what it held);
    // false when the text is used up.
    bool next(std::string &line);

private:
    // Appends the non-space runs from `from` to the end of its raw line, and
    // moves past that line's line break.
    void take_rest_of_line(const unsigned char *from, std::string &line,
                           bool pending_blank);
    // Whether the raw line at the current position continues the line before.
    const unsigned char *continuation_at() const;

    const unsigned char *pos_;
    const unsigned char *end_;
};

}  // namespace tessel::spiceread::text
