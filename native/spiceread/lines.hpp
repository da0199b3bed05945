// The line pipeline's host side: the module's own relevant-line stream,
// which the IR builder reads without going through host strings.
#pragma once

#include <string_view>

#include <nanobind/nanobind.h>

#include "common/utf8.hpp"
#include "spiceread/route.hpp"
#include "text/relevant_lines.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// The relevant lines of a text when the stages are all the module's own:
// `_iter_relevant_lines`' own stream.
class RelevantLineStream {
public:
    explicit RelevantLineStream(nb::str content)
        : content_(std::move(content)), text_(utf8_of(content_)), scanner_(text_.view) {}

    // The next relevant line, valid until the next call.
    bool next(text::RelevantLine &line) {
        if (done_ || !scanner_.next(line)) {
            done_ = true;
            return false;
        }
        return true;
    }
    // The next relevant line as a host string (`__next__`); invalid at the end.
    nb::object next() {
        text::RelevantLine line;
        return next(line) ? nb::object(str_from_utf8(line.text)) : nb::object();
    }
    std::string_view content() const { return text_.view; }

private:
    nb::str content_;
    Utf8Text text_;
    text::RelevantLineScanner scanner_;
    bool done_ = false;
};

// The relevant lines of a text, as `_iter_relevant_lines` gives them: while
// the module's own scanner stands for the line stages, the text itself (the
// IR builder scans it without a stream in between); otherwise the lines the
// step as it is bound now made.
struct RelevantLines {
    nb::object text;  // a str, or bytes of plain ASCII (see `own_lines`)
    nb::object lines;

    // The lines as a host iterable: for a text, the module's own stream of it.
    nb::object object() const;
};

// Whether the module's own scanner stands for `_iter_relevant_lines` and
// its stages: only then may bytes of plain ASCII stand for their text.
bool own_lines(Route &route);

// The str of bytes of plain ASCII, or `content` when it is no bytes.
nb::object as_text(nb::handle content);

// The relevant lines of a file's bytes of plain ASCII (see `own_lines`).
RelevantLines plain_lines(nb::handle bytes, Route &route);

// `_iter_relevant_lines(content)` through `route`.
RelevantLines relevant_lines(nb::handle content, Route &route);

// The stream behind `lines`, or nullptr when `lines` is some other iterable.
RelevantLineStream *as_relevant_line_stream(nb::handle lines);

}  // namespace tessel::spiceread
