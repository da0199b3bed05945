// The IR builder's steps as module functions of host lists: the
// controlled-source rewrite, the parent's id, the ports and the settings of
// a record's words.
#include "common/args.hpp"
#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/module.hpp"
#include "spiceread/values.hpp"
#include "text/words.hpp"

namespace tessel::spiceread {

namespace {

// The items of an iterable of words, as views kept alive by `keep`.
text::Words words_of(nb::handle iterable, const char *func, std::vector<nb::object> &keep) {
    text::Words words;
    for (nb::handle item : iterable) {
        require_str_item(item, func);
        words.push_back(utf8_kept(item, keep));
    }
    return words;
}

nb::object handle_sources(nb::handle words) {
    std::vector<nb::object> keep;
    text::Words list = words_of(words, "_handle_sources", keep);
    text::Arena arena;
    text::rewrite_sources(list, arena, is_identifier);
    return list_of_words(list.data(), list.size(), str_from_utf8);
}

nb::object get_parent_id(nb::handle parents) {
    nb::list list = exact_list(parents, "_get_parent_id", "parents");
    const Py_ssize_t size = PyList_GET_SIZE(list.ptr());
    if (size == 0) return nb::int_(0);
    return nb::handle(PyList_GET_ITEM(list.ptr(), size - 1)).attr("id");
}

nb::object get_ir_ports(nb::handle words) {
    exact_list(words, "_get_ir_ports", "words");
    nb::list kept;
    for (nb::handle w : words) {
        require_str_item(w, "_get_ir_ports");
        const Py_ssize_t at = PyUnicode_FindChar(w.ptr(), '=', 0, PyUnicode_GET_LENGTH(w.ptr()), 1);
        if (at == -2) throw nb::python_error();
        if (at == -1) kept.append(w);
    }
    return nb::tuple(kept);
}

nb::object get_ir_settings(nb::args args, nb::kwargs kwargs) {
    BoundArgs bound = bind_args("_get_ir_settings", args, kwargs, {"words"});
    exact_list(bound.params[0], "_get_ir_settings", "words");
    std::vector<nb::object> keep;
    text::Words words = words_of(bound.params[0], "_get_ir_settings", keep);
    Route route;
    nb::dict settings = new_dict();
    read_settings(words, bound.kwargs, route, {}, [&](std::string_view key, Value value) {
        set_item(settings, str_from_utf8(key), value.get());
    });
    return settings;
}

}  // namespace

void def_handle_sources(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &handle_sources, nb::arg("words"), nb::sig(signature));
}

void def_get_parent_id(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &get_parent_id, nb::arg("parents"), nb::sig(signature));
}

void def_get_ir_ports(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &get_ir_ports, nb::arg("words"), nb::sig(signature));
}

void def_get_ir_settings(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &get_ir_settings, nb::sig(signature));
}

}  // namespace tessel::spiceread
