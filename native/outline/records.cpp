#include "outline/records.hpp"

#include "common/objects.hpp"

namespace tessel::outline {

namespace {

using Field = PyStructSequence_Field;

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
    {"word", "Word: the whole key=value word"},
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
    {"tessel.core._outline.Word", "A word (or statement) with where it stands in the file.", kWord},
    {"tessel.core._outline.Setting", "A key=value word, with what the reader makes of its value.", kSetting},
    {"tessel.core._outline.Element", "An element line inside a subcircuit.", kElement},
    {"tessel.core._outline.Subckt", "A subcircuit definition.", kSubckt},
    {"tessel.core._outline.Command", "A dot command.", kCommand},
    {"tessel.core._outline.Refusal", "A statement the reader refuses.", kRefusal},
    {"tessel.core._outline.Cut", "A word that a comment marker cuts.", kCut},
    {"tessel.core._outline.Quote", "A quote that its line leaves open.", kQuote},
    {"tessel.core._outline.Comment", "A comment, with the lines of its statement.", kComment},
    {"tessel.core._outline.Ignored", "An element line outside any subcircuit (the reader ignores it).", kIgnored},
    {"tessel.core._outline.Outline", "The structure of a netlist text.", kOutline},
};
constexpr int kTypes = sizeof(kSpecs) / sizeof(kSpecs[0]);

PyTypeObject *types[kTypes] = {};

int field_count(const Field *fields) {
    int n = 0;
    while (fields[n].name) ++n;
    return n;
}

}  // namespace

void def_records(nb::module_ &m) {
    for (int k = 0; k < kTypes; ++k) {
        PyStructSequence_Desc desc{kSpecs[k].name, kSpecs[k].doc, kSpecs[k].fields,
                                   field_count(kSpecs[k].fields)};
        types[k] = reinterpret_cast<PyTypeObject *>(checked(reinterpret_cast<PyObject *>(
            PyStructSequence_NewType(&desc))).release().ptr());
        const char *dot = kSpecs[k].name;
        for (const char *p = dot; *p; ++p)
            if (*p == '.') dot = p + 1;
        m.attr(dot) = nb::handle(reinterpret_cast<PyObject *>(types[k]));
    }
}

nb::object record(Type type, std::initializer_list<nb::handle> fields) {
    nb::object out = checked(PyStructSequence_New(types[static_cast<int>(type)]));
    Py_ssize_t i = 0;
    for (nb::handle field : fields) PyStructSequence_SetItem(out.ptr(), i++, nb::borrow(field).release().ptr());
    return out;
}

}  // namespace tessel::outline
