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

// The stream `_iter_relevant_lines` returns for a text when its stages are
// all the module's own.
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
    std::string_view content() const { return text_.view; }

private:
    nb::str content_;
    Utf8Text text_;
    text::RelevantLineScanner scanner_;
    bool done_ = false;
};

// `_iter_relevant_lines(content)` through `route`: the module's own stream,
// or the composition of the stages as they are bound now.
nb::object iter_relevant_lines(nb::handle content, Route &route);

// The stream behind `lines`, or nullptr when `lines` is some other iterable.
RelevantLineStream *as_relevant_line_stream(nb::handle lines);

}  // namespace tessel::spiceread
