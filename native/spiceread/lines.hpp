// Python side of the text core: the relevant-line stream that the IR builder reads
// without going through Python.
#pragma once

#include <string>
#include <string_view>

#include <nanobind/nanobind.h>

#include "common/utf8.hpp"

#include "spiceread/text/relevant_lines.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// Requires an item pulled from an iterable of text to be text.
void require_str_item(nb::handle item, const char *func);

// The stream `_iter_relevant_lines` returns for a text when all five stages
// are the module's own.
class RelevantLineStream {
public:
    explicit RelevantLineStream(nb::str content);

    // The next relevant line, as UTF-8 valid until the next call.
    bool next_view(std::string_view &line);
    bool surrogates() const { return text_.surrogates; }

private:
    nb::str content_;
    Utf8Text text_;
    text::RelevantLineScanner scanner_;
    std::string line_;
    bool done_ = false;
};

// `_iter_relevant_lines(content)`.
nb::object iter_relevant_lines(nb::handle content);

// The stream behind `lines`, or nullptr when `lines` is some other iterable.
RelevantLineStream *as_relevant_line_stream(nb::handle lines);

}  // namespace tessel::spiceread
