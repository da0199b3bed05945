// Notes that say where a reading went wrong: "path:LINE: <the statement as
// written>", added to an exception on its way out of a reading, or to a
// ParseWarning it issues, with message and type left as they are.
#pragma once

#include <string_view>

#include <nanobind/nanobind.h>

#include "text/relevant_lines.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// Where a reading's text came from.
struct Source {
    nb::object name;        // the path as given, or "<stream>"
    std::string_view text;  // the whole text (UTF-8), when the lines came from it

    // The note for the statement at `where`, or an invalid object when the
    // position is unknown.
    nb::object note_for(text::Position where) const;
    // Adds the note for the statement at `where` to `error`, unless the
    // error already carries notes or the position is unknown.
    void note(nb::python_error &error, text::Position where) const;
    // Adds `note` to `error` as it is.
    static void add_note(nb::python_error &error, nb::handle note);
};

// A statement of a reading, as the steps that may warn about it know it.
struct Where {
    const Source *source = nullptr;
    text::Position position;

    nb::object note() const { return source ? source->note_for(position) : nb::object(); }
};

}  // namespace tessel::spiceread
