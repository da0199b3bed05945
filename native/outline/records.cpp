#include "outline/records.hpp"

#include <stdexcept>

#include "common/objects.hpp"

namespace tessel::outline {

namespace {

struct Field {
    const char *name;
    const char *doc;
};

Field kWord[] = {
    {"text", "the text as the reader reads it (white space reduced to single blanks)"},
    {"line", "1-based raw line of its first character"},
    {"col", "1-based column (code points) of its first character"},
    {"end_line", "raw line of its last character"},
    {"end_col", "column just after its last character (exclusive)"},
    {nullptr, nullptr}};
Field kSetting[] = {
    {"key", "Word: the key"},
    {"value", "Word: the value text as written, after the '='"},
    {"parts", "pieces the word makes at its '='s (the reader takes exactly 2)"},
    {"kind", "none, number, text, literal, unresolved, invalid or refused"},
    {"text", "the value without its quotes, braces made brackets"},
    {"number", "the float the reader makes of it, or None"},
    {"unit", "letters after the number: the last character when it was tried as a scale suffix"},
    {"scaled", "whether a scale suffix (p, n, u, m) scaled the number"},
    {"metre", "the metre rule on the number: converted (from metres, times 1e6), below or above "
              "its window, or '' for no number"},
    {"bracket", "an opening bracket the value leaves unclosed, or ''"},
    {"error", "what the literal evaluator said of an invalid value, or ''"},
    {"micrometres", "the number in micrometres (10^6 times, rounded once) where the metre rule converts "
                    "it, or where a scale suffix leaves it above the rule's window; else None"},
    {nullptr, nullptr}};
Field kElement[] = {
    {"name", "Word: the instance name"},
    {"component", "Word: the component (at the name for R... and C...)"},
    {"nets", "tuple of Word: the nets, in terminal order"},
    {"settings", "tuple of Setting"},
    {"subckt", "index of the subcircuit it is written in"},
    {"owner", "index of the subcircuit the reader puts it in, or -1 when none"},
    {"comment", "Word of its comment, or None"},
    {"location", "its comment's location annotation: '', found, several_markers, several_groups or count"},
    {"location_error", "the reader's message for a malformed annotation, or ''"},
    {"id", "line id (position among the relevant lines)"},
    {"statement", "Word: the statement without its comment"},
    {"source", "whether its words were read as a controlled source's (keyword, controls, gain)"},
    {nullptr, nullptr}};
Field kSubckt[] = {
    {"name", "Word: the subcircuit's name"},
    {"ports", "tuple of Word: its declared ports"},
    {"settings", "tuple of Setting"},
    {"parent", "index of the enclosing subcircuit, or -1"},
    {"end", "Word of its .ends, or None when it is never closed"},
    {"elements", "tuple of element indices the reader gives it"},
    {"id", "line id"},
    {"statement", "Word: the .subckt statement"},
    {nullptr, nullptr}};
Field kNet[] = {
    {"name", "the net's name"},
    {"terminals", "tuple of Word: the nets as written on its elements' lines, in order"},
    {"elements", "tuple of element indices, one per terminal"},
    {nullptr, nullptr}};
Field kCommand[] = {
    {"word", "Word: the command word"},
    {"kind", "subckt, ends, global or unsupported"},
    {"lowered", "the kind the word has in lower case"},
    {"id", "line id"},
    {"statement", "Word: the statement"},
    {nullptr, nullptr}};
Field kRefusal[] = {
    {"kind", "ends_before_begin, unsupported_command, subckt_without_name, "
             "element_without_component, several_equals or invalid_literal"},
    {"message", "what the reader says"},
    {"word", "Word: the word or statement refused"},
    {"id", "line id"},
    {nullptr, nullptr}};
Field kCut[] = {
    {"word", "Word: the word as written across the marker"},
    {"marker", "Word: the comment marker"},
    {nullptr, nullptr}};
Field kQuote[] = {
    {"word", "Word: the word its line leaves inside quotes"},
    {"quote", "the quote character left open"},
    {nullptr, nullptr}};
Field kComment[] = {
    {"word", "Word: the comment, marker included"},
    {"line", "first raw line of its statement"},
    {"end_line", "last raw line of its statement"},
    {"id", "line id"},
    {"location", "its location annotation: '', found, several_markers, several_groups or count"},
    {nullptr, nullptr}};
Field kIgnored[] = {
    {"name", "Word: the element's name"},
    {"statement", "Word: the statement"},
    {"id", "line id"},
    {nullptr, nullptr}};
Field kOutline[] = {
    {"subckts", "tuple of Subckt, in the order they are opened"},
    {"elements", "tuple of Element, in reading order"},
    {"ignored", "tuple of Ignored: element lines outside any subcircuit"},
    {"commands", "tuple of Command"},
    {"comments", "tuple of Comment"},
    {"refusals", "tuple of Refusal: every statement the reader refuses, in reading order"},
    {"cuts", "tuple of Cut: words a comment marker cuts"},
    {"quotes", "tuple of Quote: quotes a line leaves open"},
    {"lines", "number of relevant lines"},
    {nullptr, nullptr}};

struct Spec {
    const char *name;
    const char *doc;
    Field *fields;
};

constexpr Spec kSpecs[] = {
    {"Word", "A word (or statement) with where it stands in the file.", kWord},
    {"Setting", "A key=value word, with what the reader makes of its value.", kSetting},
    {"Element", "An element line inside a subcircuit.", kElement},
    {"Subckt", "A subcircuit definition.", kSubckt},
    {"Net", "A net of a subcircuit, with its terminals.", kNet},
    {"Command", "A dot command.", kCommand},
    {"Refusal", "A statement the reader refuses.", kRefusal},
    {"Cut", "A word that a comment marker cuts.", kCut},
    {"Quote", "A quote that its line leaves open.", kQuote},
    {"Comment", "A comment, with the lines of its statement.", kComment},
    {"Ignored", "An element line outside any subcircuit (the reader ignores it).", kIgnored},
    {"Outline", "The structure of a netlist text.", kOutline},
};
constexpr int kTypes = sizeof(kSpecs) / sizeof(kSpecs[0]);

PyTypeObject *types[kTypes] = {};
Py_ssize_t sizes[kTypes] = {};

}  // namespace

// `Setting.word`: the whole key=value word, made when asked for (most
// settings are never asked, and a Word each would be a sixth of an outline).
nb::object setting_word(nb::handle setting) {
    PyObject *key = PyTuple_GET_ITEM(setting.ptr(), 0), *value = PyTuple_GET_ITEM(setting.ptr(), 1);
    if (PyLong_AsLong(PyTuple_GET_ITEM(setting.ptr(), 2)) != 2) return nb::borrow(key);  // refused: the key is the word
    nb::object text = checked(PyUnicode_FromFormat("%U=%U", PyTuple_GET_ITEM(key, 0), PyTuple_GET_ITEM(value, 0)));
    return record(Type::Word, {text, nb::handle(PyTuple_GET_ITEM(key, 1)), nb::handle(PyTuple_GET_ITEM(key, 2)),
                               nb::handle(PyTuple_GET_ITEM(value, 3)), nb::handle(PyTuple_GET_ITEM(value, 4))});
}

void def_records(nb::module_ &m) {
    // Named tuples: made in C as tuples are, read by name or position, and
    // printed, compared and pickled as the standard library's own.
    nb::object namedtuple = nb::module_::import_("collections").attr("namedtuple");
    nb::str module = nb::str("tessel.core._outline");
    for (int k = 0; k < kTypes; ++k) {
        nb::list fields;
        for (const Field *f = kSpecs[k].fields; f->name; ++f) fields.append(nb::str(f->name));
        nb::object type = namedtuple(kSpecs[k].name, fields, nb::arg("module") = module);
        if (kSpecs[k].fields == kSetting) {
            // A subclass with the computed field `word`, still a tuple of the same layout.
            nb::dict body;
            body["__slots__"] = nb::tuple();
            body["__module__"] = module;
            nb::object getter = nb::cpp_function(&setting_word, nb::name("word"));
            body["word"] = nb::module_::import_("builtins").attr("property")(
                getter, nb::none(), nb::none(), "Word: the whole key=value word (the key for a refused one)");
            type = nb::handle(reinterpret_cast<PyObject *>(&PyType_Type))(kSpecs[k].name, nb::make_tuple(type), body);
        }
        type.attr("__doc__") = nb::str(kSpecs[k].doc);
        for (const Field *f = kSpecs[k].fields; f->name; ++f) {
            nb::object getter = type.attr(f->name);
            if (PyObject_SetAttrString(getter.ptr(), "__doc__", nb::str(f->doc).ptr()) < 0) PyErr_Clear();
        }
        m.attr(kSpecs[k].name) = type;
        sizes[k] = static_cast<Py_ssize_t>(nb::len(fields));
        types[k] = reinterpret_cast<PyTypeObject *>(keep_forever(std::move(type)).ptr());
    }
}

void set_field(nb::handle made, Py_ssize_t index, nb::handle value) {
    if (Py_REFCNT(made.ptr()) != 1) throw std::logic_error("set_field() on a record already handed out");
    nb::object old = nb::steal(PyTuple_GET_ITEM(made.ptr(), index));
    PyTuple_SET_ITEM(made.ptr(), index, nb::borrow(value).release().ptr());
}

nb::object untracked(nb::object tuple) {
    PyObject_GC_UnTrack(tuple.ptr());
    return tuple;
}

nb::object record(Type type, std::initializer_list<nb::handle> fields) {
    const int k = static_cast<int>(type);
    PyTypeObject *t = types[k];
    nb::object out = checked(t->tp_alloc(t, sizes[k]));
    Py_ssize_t i = 0;
    for (nb::handle field : fields) PyTuple_SET_ITEM(out.ptr(), i++, nb::borrow(field).release().ptr());
    // Records hold only texts, numbers and other records: they cannot be part
    // of a cycle, and the collector need not walk millions of them.
    PyObject_GC_UnTrack(out.ptr());
    return out;
}

}  // namespace tessel::outline
