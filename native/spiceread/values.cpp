// Value evaluation: `_parse_value` and `_eval`, and the road the IR builder
// and the location reader take through them.
//
// Quote stripping, the brace rewrite and the numbers with their scale
// suffix are read by the text core; what is left is text, or a single-
// quoted value to evaluate: a parameter of the caller, or a literal for
// `ast.literal_eval`, whose refusal is a ParseWarning and None rather than
// an error.
#include "spiceread/values.hpp"

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "common/args.hpp"
#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "common/warnings.hpp"
#include "spiceread/module.hpp"
#include "spiceread/process.hpp"
#include "text/number.hpp"
#include "text/value.hpp"

namespace tessel::spiceread {

namespace {

// Float objects made lately, one per key: the same width, length or
// rotation recurs thousands of times in a netlist.  Direct-mapped on the
// key's bits.
class RecentFloats {
public:
    template <typename Make>
    nb::handle get(double key, Make &&make) {
        std::uint64_t bits;
        std::memcpy(&bits, &key, sizeof bits);
        Slot &slot = slots_[(bits * 0x9E3779B97F4A7C15ull) >> (64 - kBits)];
        if (!slot.number.is_valid() || slot.bits != bits) {
            slot.number = new_float(make(key));
            slot.bits = bits;
        }
        return slot.number;
    }

private:
    static constexpr int kBits = 12;
    struct Slot {
        std::uint64_t bits = 0;
        nb::object number;
    };
    Slot slots_[std::size_t{1} << kBits];
};

// Both live for the process (process.hpp) and are never destroyed: their
// objects would be released after the interpreter is gone.
RecentFloats &recent_numbers() {
    static RecentFloats *const floats = new RecentFloats;
    return *floats;
}

RecentFloats &recent_micrometres() {
    static RecentFloats *const floats = new RecentFloats;
    return *floats;
}

}  // namespace

nb::handle shared_float(double value) {
    return recent_numbers().get(value, [](double v) { return v; });
}

nb::handle micrometres_of(double metres) {
    return recent_micrometres().get(metres, [](double m) { return text::shift_decimal(m, text::kMicrometresShift); });
}

nb::handle Value::get() {
    if (is_number_ && !object_.is_valid()) object_ = nb::borrow(shared_float(number_.value));
    return object_.is_valid() ? nb::handle(object_) : nb::handle(Py_None);
}

namespace {

constexpr const char *kUnresolvedFormat =
    "Could not parse '%U'. Setting it to None (to be specified during the "
    "circuit call). You can also set the value of '%U' as a keyword argument "
    "of ts.parse_oc_spice";

// Issues the ParseWarning for `text`, which the literal evaluator refused
// with `cause`.  A warning turned into an error keeps the refusal as its
// context, as an exception raised in an `except` block does.
void warn_unresolved(nb::handle text, const nb::python_error &cause, const Where &where) {
    try {
        warn_caller(process().parse_warning,
                    checked(PyUnicode_FromFormat(kUnresolvedFormat, text.ptr(), text.ptr())), where.note());
    } catch (nb::python_error &raised) {
        nb::object context = nb::borrow(cause.value());
        PyException_SetContext(raised.value().ptr(), context.release().ptr());
        throw;
    }
}

// `_eval` proper, for a str `text` and a dict `kwargs`.
nb::object eval_text(nb::handle text, nb::handle kwargs, Route &route, const Where &where = {}) {
    if (nb::object parameter = dict_get(kwargs, text)) return parameter;
    nb::object literal_eval = route.get(Name::ast).attr("literal_eval");
    nb::object value = nb::steal(PyObject_CallOneArg(literal_eval.ptr(), text.ptr()));
    if (!value.is_valid()) {
        // Well-formed but not a literal (a name, an expression): the caller
        // may supply it later.  A syntax error abandons the reading.
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw nb::python_error();
        nb::python_error refusal;
        warn_unresolved(text, refusal, where);
        return nb::none();
    }
    if (PySet_Check(value.ptr())) return checked(PySequence_List(value.ptr()));
    return value;
}

// `_parse_value` of a non-empty value text short of evaluating it: the
// number or text it stands for, or for a single-quoted value (`to_eval`) the
// text to evaluate.  `source` is the str it came from, if any, returned as
// it is when the value stays that text.
Value unevaluated(std::string_view value, nb::handle source, bool setting, bool &to_eval,
                  StrCache *strings = nullptr) {
    std::string buffer;
    text::ValueText v = text::read_value(value, buffer);
    to_eval = false;
    // A quoted number is the number: evaluating its float could only fail.
    if (std::optional<text::Number> number = text::value_number(v, ascii_number, setting))
        return Value::number(*number);
    to_eval = v.is_eval;
    if (source.is_valid() && v.text.data() == value.data() && v.text.size() == value.size())
        return Value::object(nb::borrow(source));
    return Value::object(strings ? strings->get(v.text) : str_from_utf8(v.text));
}

// `_parse_value` for a non-empty value text (see `unevaluated`).
Value parse_value_text(std::string_view value, nb::handle kwargs, nb::handle source, Route &route,
                       const Where &where = {}, bool setting = false, StrCache *strings = nullptr) {
    bool to_eval;
    Value result = unevaluated(value, source, setting, to_eval, strings);
    if (!to_eval) return result;
    nb::object text = nb::borrow(result.get());
    if (route.own(Name::_eval)) return Value::object(eval_text(text, kwargs, route, where));
    return Value::object(call_with_kwargs(route.get(Name::_eval), {text}, kwargs));
}

nb::object parse_value(nb::args args, nb::kwargs kwargs) {
    nb::handle value = only_positional("_parse_value", "value", args);
    if (!truthy(value)) return nb::none();
    if (!PyUnicode_Check(value.ptr())) raise_arg_type("_parse_value", "value", "str", value);
    Route route;
    return nb::borrow(parse_value_text(utf8_of(value).view, kwargs, value, route).get());
}

nb::object eval(nb::args args, nb::kwargs kwargs) {
    nb::handle key_or_value = only_positional("_eval", "key_or_value", args);
    exact_str(key_or_value, "_eval", "key_or_value");
    Route route;
    return eval_text(key_or_value, kwargs, route);
}

}  // namespace

Value resolve_value(std::string_view value, nb::handle kwargs, Route &route, const Where &where, bool setting,
                    StrCache *strings) {
    if (!route.own(Name::_parse_value))
        return Value::object(call_with_kwargs(route.get(Name::_parse_value), {str_from_utf8(value)}, kwargs));
    if (value.empty()) return Value::object(nb::none());
    return parse_value_text(value, kwargs, nb::handle(), route, where, setting, strings);
}

std::optional<Value> plain_value(std::string_view value) {
    if (value.empty()) return Value::object(nb::none());
    bool to_eval;
    Value result = unevaluated(value, nb::handle(), false, to_eval);
    if (to_eval) return std::nullopt;
    return result;
}

void def_parse_value(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &parse_value, nb::sig(signature));
}

void def_eval(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &eval, nb::sig(signature));
}

}  // namespace tessel::spiceread
