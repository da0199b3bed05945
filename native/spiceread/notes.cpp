#include "spiceread/notes.hpp"

#include <string>

#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "spiceread/process.hpp"

namespace tessel::spiceread {

namespace {

bool has_notes(nb::handle error) {
    nb::object found = nb::steal(PyObject_GetAttr(error.ptr(), process().names.notes));
    if (!found.is_valid()) PyErr_Clear();
    return found.is_valid();
}

}  // namespace

void Source::add_note(nb::python_error &error, nb::handle note) {
    nb::object result =
        nb::steal(PyObject_CallMethodOneArg(error.value().ptr(), process().names.add_note, note.ptr()));
    if (!result.is_valid()) PyErr_Clear();  // the error at hand is what the caller must see
}

void Source::note(nb::python_error &error, text::Position where) const {
    if (has_notes(error.value())) return;
    if (nb::object text = note_for(where)) add_note(error, text);
}

nb::object Source::note_for(text::Position where) const {
    if (!where.known() || !name.is_valid()) return {};
    // A str's own lone surrogates come back as they were; bytes of a file
    // that do not decode (the note of a decoding error) are shown escaped.
    const std::string shown = text::statement_shown(this->text, where);
    nb::object line;
    try {
        line = str_from_utf8(shown);
    } catch (nb::python_error &) {
        line = checked(PyUnicode_DecodeUTF8(shown.data(), static_cast<Py_ssize_t>(shown.size()),
                                            "backslashreplace"));
    }
    return checked(PyUnicode_FromFormat("%U:%u: %U", format_text(name).ptr(), where.first_line, line.ptr()));
}

}  // namespace tessel::spiceread
