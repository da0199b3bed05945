#include "common/warnings.hpp"

#include <string>

#include "common/objects.hpp"

namespace tessel {

void warn_caller(nb::handle category, nb::handle message) {
    Py_ssize_t size = 0;
    const char *utf8 = PyUnicode_AsUTF8AndSize(message.ptr(), &size);
    if (utf8 && std::char_traits<char>::length(utf8) == static_cast<std::size_t>(size)) {
        if (PyErr_WarnEx(category.ptr(), utf8, 1) < 0) throw nb::python_error();
        return;
    }
    PyErr_Clear();
    static const nb::handle warn = keep_forever(nb::module_::import_("warnings").attr("warn"));
    call_with(warn, {message, category, nb::int_(1)});
}

}  // namespace tessel
