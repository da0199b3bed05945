// Python side of the text core: UTF-8 access to host strings, host strings
// made from UTF-8, and the relevant-line stream that the IR builder reads
// without going through Python.
#pragma once

#include <string>
#include <string_view>

#include <nanobind/nanobind.h>

#include "spiceread/text/relevant_lines.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// The UTF-8 bytes of a host string.  A string with lone surrogates cannot be
// encoded strictly; it is then held in its "surrogatepass" form, which the
// text core handles like any other non-ASCII text, and strings made from
// pieces of it must be decoded the same way.
struct Utf8Text {
    std::string_view view;
    bool surrogates = false;
    nb::object keep;  // owns the bytes of the surrogatepass form
};

// `str` must be an instance of str.
Utf8Text utf8_of(nb::handle str);

// The host string of UTF-8 bytes (surrogatepass form when `surrogates`).
nb::str make_str(std::string_view utf8, bool surrogates);

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
