#include "spiceread/strings.hpp"

#include <cstring>

#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/process.hpp"
#include "text/chars.hpp"

namespace tessel::spiceread {

nb::object positional_port(Py_ssize_t i) {
    if (static_cast<std::size_t>(i) < Process::kPositional)
        return nb::borrow(process().positional[static_cast<std::size_t>(i)]);
    return checked(PyUnicode_FromFormat("o%zd", i + 1));
}

nb::object join_instance_port(nb::handle name_object, nb::handle port_object) {
    PyObject *name = name_object.ptr(), *port = port_object.ptr();
    if (!PyUnicode_CheckExact(name) || !PyUnicode_CheckExact(port))
        return checked(PyUnicode_FromFormat("%S,%S", format_text(name).ptr(),
                                            format_text(port).ptr()));
    const Py_ssize_t n1 = PyUnicode_GET_LENGTH(name), n2 = PyUnicode_GET_LENGTH(port);
    const Py_UCS4 max1 = PyUnicode_MAX_CHAR_VALUE(name), max2 = PyUnicode_MAX_CHAR_VALUE(port);
    nb::object result = checked(PyUnicode_New(n1 + 1 + n2, max1 > max2 ? max1 : max2));
    PyObject *out = result.ptr();
    if (PyUnicode_IS_ASCII(name) && PyUnicode_IS_ASCII(port)) {
        auto *data = static_cast<char *>(PyUnicode_DATA(out));
        std::memcpy(data, PyUnicode_DATA(name), static_cast<std::size_t>(n1));
        data[n1] = ',';
        std::memcpy(data + n1 + 1, PyUnicode_DATA(port), static_cast<std::size_t>(n2));
        return result;
    }
    checked(PyUnicode_CopyCharacters(out, 0, name, 0, n1));
    checked(PyUnicode_WriteChar(out, n1, ','));
    checked(PyUnicode_CopyCharacters(out, n1 + 1, port, 0, n2));
    return result;
}

nb::object InstancePorts::join(nb::handle name, nb::handle port) {
    if (!PyUnicode_CheckExact(name.ptr()) || !PyUnicode_CheckExact(port.ptr())) return join_instance_port(name, port);
    const auto key = reinterpret_cast<std::uintptr_t>(name.ptr()) * 0x9E3779B97F4A7C15ull ^
                     reinterpret_cast<std::uintptr_t>(port.ptr());
    Slot &slot = slots_[(key >> 4) & (kSlots - 1)];
    if (!slot.name.is(name) || !slot.port.is(port))
        slot = {nb::borrow(name), nb::borrow(port), join_instance_port(name, port)};
    return slot.joined;
}

bool may_hold_comma(PyObject *text) {
    if (!PyUnicode_CheckExact(text)) return true;
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (PyUnicode_IS_ASCII(text)) return text::find_byte(ascii_view(text), ',') != std::string_view::npos;
    const Py_ssize_t at = PyUnicode_FindChar(text, ',', 0, n, 1);
    if (at == -2) throw nb::python_error();
    return at >= 0;
}

bool has_one_comma(PyObject *text) {
    const Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    if (PyUnicode_IS_ASCII(text)) {
        const std::string_view ascii = ascii_view(text);
        const std::size_t first = text::find_byte(ascii, ',');
        return first != std::string_view::npos && text::find_byte(ascii, ',', first + 1) == std::string_view::npos;
    }
    const Py_ssize_t first = PyUnicode_FindChar(text, ',', 0, n, 1);
    if (first == -2) throw nb::python_error();
    if (first < 0) return false;
    const Py_ssize_t second = PyUnicode_FindChar(text, ',', first + 1, n, 1);
    if (second == -2) throw nb::python_error();
    return second < 0;
}

std::pair<nb::object, nb::object> split_instance_port(nb::handle text) {
    nb::object parts;
    if (PyUnicode_CheckExact(text.ptr())) {
        parts = checked(PyUnicode_Split(text.ptr(), process().names.comma, -1));
    } else {
        parts = text.attr("split")(",");
    }
    return unpack_pair(parts);
}

}  // namespace tessel::spiceread
