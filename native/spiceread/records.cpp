// The module's classes: the IR records `Subckt` and `Conn` (real dataclasses
// of this module), the exception `ParseError` and the warning `ParseWarning`.
#include "spiceread/module.hpp"
#include "spiceread/records.hpp"

#include <utility>

namespace tessel::spiceread {

namespace {

constexpr const char *kModuleName = "tessel.core.spiceread";

// Created once at load; the module lives for the process, so these stay
// referenced for good.
PyObject *g_parse_error = nullptr;
PyObject *g_parse_warning = nullptr;
PyObject *g_subckt = nullptr;
PyObject *g_conn = nullptr;

using Field = std::pair<const char *, nb::object>;

// dataclass(type(name, (), {annotations, __doc__, __module__, __qualname__}))
nb::object make_record(const char *name, const char *doc,
                       std::initializer_list<Field> fields) {
    nb::dict annotations;
    for (const auto &[field, type] : fields) annotations[field] = type;
    nb::dict ns;
    ns["__annotations__"] = annotations;
    ns["__doc__"] = doc;
    ns["__module__"] = kModuleName;
    ns["__qualname__"] = name;
    nb::object cls = nb::handle((PyObject *)&PyType_Type)(name, nb::tuple(), ns);
    return nb::module_::import_("dataclasses").attr("dataclass")(cls);
}

nb::object new_exception(const char *name, const char *doc, PyObject *base) {
    std::string qualified = std::string(kModuleName) + "." + name;
    PyObject *type = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, base, nullptr);
    if (!type) throw nb::python_error();
    return nb::steal(type);
}

}  // namespace

nb::handle parse_error_type() { return g_parse_error; }
nb::handle parse_warning_type() { return g_parse_warning; }

void def_classes(nb::module_ &m) {
    nb::module_ builtins = nb::module_::import_("builtins");
    nb::object int_ = builtins.attr("int"), str_ = builtins.attr("str");
    nb::object tuple_ = builtins.attr("tuple"), dict_ = builtins.attr("dict");
    nb::object float_ = builtins.attr("float");
    nb::object str_tuple = tuple_[nb::make_tuple(str_, nb::ellipsis())];
    nb::object int_tuple = tuple_[nb::make_tuple(int_, nb::ellipsis())];
    nb::object settings = dict_[nb::make_tuple(str_, float_ | str_)];

    nb::object parse_error = new_exception(
        "ParseError", "Error while parsing spice.", PyExc_RuntimeError);
    nb::object parse_warning = new_exception(
        "ParseWarning", "Warning while parsing spice.", PyExc_Warning);
    nb::object subckt = make_record(
        "Subckt", "Subcircuit.",
        {{"id", int_}, {"component", str_}, {"ports", str_tuple},
         {"settings", settings}, {"parent_id", int_},
         {"children_ids", int_tuple}});
    nb::object conn = make_record(
        "Conn", "Connection.",
        {{"id", int_}, {"name", str_}, {"component", str_},
         {"ports", str_tuple}, {"settings", settings}, {"parent_id", int_}});

    m.attr("ParseError") = parse_error;
    m.attr("ParseWarning") = parse_warning;
    m.attr("Subckt") = subckt;
    m.attr("Conn") = conn;
    g_parse_error = parse_error.release().ptr();
    g_parse_warning = parse_warning.release().ptr();
    g_subckt = subckt.release().ptr();
    g_conn = conn.release().ptr();
}

namespace {

// Field names, interned once; like the classes they live as long as the
// process.
PyObject *field_name(const char *text) {
    PyObject *name = PyUnicode_InternFromString(text);
    if (!name) throw nb::python_error();
    return name;
}

struct FieldNames {
    PyObject *id = field_name("id");
    PyObject *name = field_name("name");
    PyObject *component = field_name("component");
    PyObject *ports = field_name("ports");
    PyObject *settings = field_name("settings");
    PyObject *parent_id = field_name("parent_id");
    PyObject *children_ids = field_name("children_ids");
};

const FieldNames &fields() {
    static const FieldNames names;
    return names;
}

nb::object new_instance(nb::handle type) {
    static nb::handle no_args = nb::tuple().release();
    PyObject *obj = PyBaseObject_Type.tp_new((PyTypeObject *)type.ptr(), no_args.ptr(), nullptr);
    if (!obj) throw nb::python_error();
    return nb::steal(obj);
}

void set_field(nb::handle obj, PyObject *name, nb::handle value) {
    if (PyObject_GenericSetAttr(obj.ptr(), name, value.ptr()) < 0) throw nb::python_error();
}

}  // namespace

nb::object new_subckt(nb::handle id, nb::handle component, nb::handle ports,
                      nb::handle settings, nb::handle parent_id, nb::handle children_ids) {
    const FieldNames &f = fields();
    nb::object obj = new_instance(g_subckt);
    set_field(obj, f.id, id);
    set_field(obj, f.component, component);
    set_field(obj, f.ports, ports);
    set_field(obj, f.settings, settings);
    set_field(obj, f.parent_id, parent_id);
    set_field(obj, f.children_ids, children_ids);
    return obj;
}

nb::object new_conn(nb::handle id, nb::handle name, nb::handle component,
                    nb::handle ports, nb::handle settings, nb::handle parent_id) {
    const FieldNames &f = fields();
    nb::object obj = new_instance(g_conn);
    set_field(obj, f.id, id);
    set_field(obj, f.name, name);
    set_field(obj, f.component, component);
    set_field(obj, f.ports, ports);
    set_field(obj, f.settings, settings);
    set_field(obj, f.parent_id, parent_id);
    return obj;
}

void set_children_ids(nb::handle subckt, nb::handle value) {
    if (PyObject_SetAttr(subckt.ptr(), fields().children_ids, value.ptr()) < 0)
        throw nb::python_error();
}

}  // namespace tessel::spiceread
