#include "common/warnings.hpp"

#include <string>

#include "common/objects.hpp"

namespace tessel {

void warn_caller(nb::handle category, nb::handle message, nb::handle note) {
    if (!note.is_valid()) {
        Py_ssize_t size = 0;
        const char *utf8 = PyUnicode_AsUTF8AndSize(message.ptr(), &size);
        if (utf8 && std::char_traits<char>::length(utf8) == static_cast<std::size_t>(size)) {
            if (PyErr_WarnEx(category.ptr(), utf8, 1) < 0) throw nb::python_error();
            return;
        }
        PyErr_Clear();
    }
    // `warnings.warn` of a warning instance: its category is the instance's
    // class, and it is filtered, recorded and shown by its text as any other.
    static const nb::handle warn = keep_forever(nb::module_::import_("warnings").attr("warn"));
    // Interned: a type's attribute cache may keep the name it was asked with.
    static PyObject *const add_note = interned("add_note");
    nb::object warning = call(category, message);
    if (note.is_valid()) call(get_attr(warning, add_note), note);
    call_with(warn, {warning, category, nb::int_(1)});
}

}  // namespace tessel
