// The module's classes: the IR records `Subckt` and `Conn` (real dataclasses
// of this module), the exception `ParseError` and the warning `ParseWarning`.
#include "spiceread/records.hpp"

#include <utility>

#include "common/names.hpp"
#include "common/objects.hpp"

namespace tessel::spiceread {

namespace {

using Field = std::pair<const char *, nb::object>;

// dataclass(type(name, (), {annotations, __doc__, __module__, __qualname__}))
nb::object make_record(nb::handle m, const char *name, const char *doc,
                       std::initializer_list<Field> fields) {
    nb::dict annotations;
    for (const auto &[field, type] : fields) annotations[field] = type;
    nb::dict ns = class_namespace(m, name, doc);
    ns["__annotations__"] = annotations;
    nb::object cls = nb::handle((PyObject *)&PyType_Type)(name, nb::tuple(), ns);
    return nb::module_::import_("dataclasses").attr("dataclass")(cls);
}

nb::object new_exception(nb::handle m, const char *name, const char *doc, PyObject *base) {
    nb::str qualified = nb::str("{}.{}").format(m.attr("__name__"), name);
    return checked(PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr));
}

}  // namespace

void def_classes(nb::module_ &m, Process &process) {
    nb::module_ builtins = nb::module_::import_("builtins");
    nb::object int_ = builtins.attr("int"), str_ = builtins.attr("str");
    nb::object tuple_ = builtins.attr("tuple"), dict_ = builtins.attr("dict");
    nb::object float_ = builtins.attr("float");
    nb::object str_tuple = tuple_[nb::make_tuple(str_, nb::ellipsis())];
    nb::object int_tuple = tuple_[nb::make_tuple(int_, nb::ellipsis())];
    nb::object settings = dict_[nb::make_tuple(str_, float_ | str_)];

    nb::object parse_error = new_exception(
        m, "ParseError", "Error while parsing spice.", PyExc_RuntimeError);
    nb::object parse_warning = new_exception(
        m, "ParseWarning", "Warning while parsing spice.", PyExc_Warning);
    nb::object subckt = make_record(
        m, "Subckt", "Subcircuit.",
        {{"id", int_}, {"component", str_}, {"ports", str_tuple},
         {"settings", settings}, {"parent_id", int_},
         {"children_ids", int_tuple}});
    nb::object conn = make_record(
        m, "Conn", "Connection.",
        {{"id", int_}, {"name", str_}, {"component", str_},
         {"ports", str_tuple}, {"settings", settings}, {"parent_id", int_}});

    m.attr("ParseError") = parse_error;
    m.attr("ParseWarning") = parse_warning;
    m.attr("Subckt") = subckt;
    m.attr("Conn") = conn;
    process.parse_error = keep_forever(std::move(parse_error));
    process.parse_warning = keep_forever(std::move(parse_warning));
    process.subckt = keep_forever(std::move(subckt));
    process.conn = keep_forever(std::move(conn));
}

namespace {

// `type` made by `object.__new__`, its fields assigned in order.
nb::object new_record(nb::handle type, std::initializer_list<std::pair<PyObject *, nb::handle>> fields) {
    nb::object obj = checked(PyBaseObject_Type.tp_new((PyTypeObject *)type.ptr(), process().no_args.ptr(), nullptr));
    for (const auto &[name, value] : fields) checked(PyObject_GenericSetAttr(obj.ptr(), name, value.ptr()));
    return obj;
}

}  // namespace

nb::object new_subckt(nb::handle id, nb::handle component, nb::handle ports,
                      nb::handle settings, nb::handle parent_id, nb::handle children_ids) {
    const Interned &f = process().names;
    return new_record(process().subckt, {{f.id, id}, {f.component, component}, {f.ports, ports},
                                         {f.settings, settings}, {f.parent_id, parent_id},
                                         {f.children_ids, children_ids}});
}

nb::object new_conn(nb::handle id, nb::handle name, nb::handle component,
                    nb::handle ports, nb::handle settings, nb::handle parent_id) {
    const Interned &f = process().names;
    return new_record(process().conn, {{f.id, id}, {f.name, name}, {f.component, component},
                                       {f.ports, ports}, {f.settings, settings}, {f.parent_id, parent_id}});
}

void set_children_ids(nb::handle subckt, nb::handle value) {
    checked(PyObject_SetAttr(subckt.ptr(), process().names.children_ids, value.ptr()));
}

}  // namespace tessel::spiceread
