// Value evaluation: the text of a setting value to a Python value.
//
// Owns `_parse_value` and `_eval` and the core they share with the IR
// builder (`parse_value_text`): quote stripping, the brace rewrite, the
// numeric conversion with its scale suffix, and the evaluation of single-
// quoted values (parameter lookup or `ast.literal_eval`), whose failure is a
// ParseWarning and None rather than an error.
#include "spiceread/values.hpp"

#include <optional>
#include <string>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "common/warnings.hpp"
#include "spiceread/module.hpp"
#include "spiceread/text/number.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_eval{scope(), "_eval"};
ModuleName k_ast{scope(), "ast"};

// float(text) where only the host can tell (non-ASCII digits or white
// space).  Every failure counts as "not a number", as the reader's own
// conversion swallows any error.
std::optional<double> host_float(std::string_view text) {
    nb::str source = str_from_utf8(text);
    nb::object number = nb::steal(PyFloat_FromString(source.ptr()));
    if (!number.is_valid()) {
        PyErr_Clear();
        return std::nullopt;
    }
    return PyFloat_AS_DOUBLE(number.ptr());
}

std::optional<double> to_float(std::string_view text) {
    text::FloatScan scan = text::scan_float(text);
    switch (scan.kind) {
        case text::FloatKind::number: return scan.value;
        case text::FloatKind::not_number: return std::nullopt;
        case text::FloatKind::undecided: break;
    }
    return host_float(text);
}

// Start of the last character (code point) of UTF-8 `text`.
std::size_t last_char_start(std::string_view text) {
    std::size_t i = text.size();
    if (i == 0) return 0;
    --i;
    while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
    return i;
}

// Python's value[1:-1]: a one-character text loses its only character.
std::string_view without_ends(std::string_view text) {
    return text.size() < 2 ? std::string_view{} : text.substr(1, text.size() - 2);
}

struct Unquoted {
    std::string_view text;
    bool is_eval;
};

// Double quotes come off first, so double quotes inside single quotes stay
// and are seen by the evaluation.
Unquoted strip_quotes(std::string_view text) {
    while (!text.empty() && text.front() == '"' && text.back() == '"')
        text = without_ends(text);
    bool is_eval = false;
    while (!text.empty() && text.front() == '\'' && text.back() == '\'') {
        is_eval = true;
        text = without_ends(text);
    }
    return {text, is_eval};
}

nb::object make_float(double value) {
    nb::object number = nb::steal(PyFloat_FromDouble(value));
    if (!number.is_valid()) throw nb::python_error();
    return number;
}

constexpr const char *kUnresolvedFormat =
    "Could not parse '%U'. Setting it to None (to be specified during the "
    "circuit call). You can also set the value of '%U' as a keyword argument "
    "of ts.parse_oc_spice";

// Issues the ParseWarning for `text`, which the literal evaluator refused
// with `cause`.  PyErr_WarnEx (behind warn_caller) takes a C string, which
// cannot carry a NUL or a lone surrogate: such a message goes through
// warnings.warn, which at stack level 1 names the same caller line.  A
// warning turned into an error keeps the refusal as its context, as an
// exception raised in an `except` block does.
void warn_unresolved(nb::handle text, const nb::python_error &cause) {
    try {
        nb::object message =
            nb::steal(PyUnicode_FromFormat(kUnresolvedFormat, text.ptr(), text.ptr()));
        if (!message.is_valid()) throw nb::python_error();
        Py_ssize_t size = 0;
        const char *utf8 = PyUnicode_AsUTF8AndSize(message.ptr(), &size);
        if (utf8 && std::char_traits<char>::length(utf8) == static_cast<std::size_t>(size)) {
            warn_caller(parse_warning_type(), {utf8, static_cast<std::size_t>(size)});
            return;
        }
        PyErr_Clear();
        nb::module_::import_("warnings").attr("warn")(message, parse_warning_type(), 1);
    } catch (nb::python_error &raised) {
        nb::object context = nb::borrow(cause.value());
        PyException_SetContext(raised.value().ptr(), context.release().ptr());
        throw;
    }
}

// `_eval` proper, for a str `text` and a dict `kwargs`.
nb::object eval_text(nb::handle text, nb::handle kwargs) {
    if (PyObject *parameter = PyDict_GetItemWithError(kwargs.ptr(), text.ptr()))
        return nb::borrow(parameter);
    if (PyErr_Occurred()) throw nb::python_error();

    nb::object literal_eval = k_ast.get().attr("literal_eval");
    nb::object value = nb::steal(PyObject_CallOneArg(literal_eval.ptr(), text.ptr()));
    if (!value.is_valid()) {
        // Well-formed but not a literal (a name, an expression): the caller
        // may supply it later.  A syntax error abandons the parse.
        if (!PyErr_ExceptionMatches(PyExc_ValueError)) throw nb::python_error();
        nb::python_error refusal;
        warn_unresolved(text, refusal);
        return nb::none();
    }
    if (PySet_Check(value.ptr())) {
        nb::object items = nb::steal(PySequence_List(value.ptr()));
        if (!items.is_valid()) throw nb::python_error();
        return items;
    }
    return value;
}

// A single-quoted value that is not a number: `_eval` as the module binds it
// now, the C++ route while nobody has replaced it.
nb::object evaluate(nb::handle text, nb::handle kwargs) {
    nb::object eval = k_eval.get();
    if (k_eval.is_original(eval)) return eval_text(text, kwargs);
    nb::object own_kwargs = nb::steal(PyDict_Copy(kwargs.ptr()));
    if (!own_kwargs.is_valid()) throw nb::python_error();
    nb::object args = nb::make_tuple(text);
    nb::object result = nb::steal(PyObject_Call(eval.ptr(), args.ptr(), own_kwargs.ptr()));
    if (!result.is_valid()) throw nb::python_error();
    return result;
}

// `_parse_value` for a non-empty `value`; `source` is the str that `value`
// was taken from, if any, returned as is when the value stays that text.
nb::object resolve(std::string_view value, nb::handle kwargs, nb::handle source) {
    auto [text, is_eval] = strip_quotes(value);

    std::string bracketed;  // "{a,b}" reads as the list "[a,b]"
    if (text.size() >= 2 && text.front() == '{' && text.back() == '}') {
        bracketed.reserve(text.size());
        bracketed.append("[").append(without_ends(text)).append("]");
        text = bracketed;
        source = nb::handle();
    }

    // The whole text first, so "1e-6" is a number before "e-6" could look
    // like a suffix; only then the last character as a scale suffix.
    std::string_view unit;
    std::optional<double> number = to_float(text);
    if (!number) {
        std::size_t last = last_char_start(text);
        unit = text.substr(last);
        number = to_float(text.substr(0, last));
    }
    // A quoted number is the number: evaluating its float could only fail.
    if (number) return make_float(*number * text::scale_factor(unit));

    nb::object result = source.is_valid() && text.size() == value.size()
                            ? nb::borrow(source)
                            : nb::object(str_from_utf8(text));
    return is_eval ? evaluate(result, kwargs) : result;
}

// The one positional parameter of `name(param, /, **kwargs)`, so that a
// keyword value of the same name is a value, not a second `param`.
nb::handle only_positional(const char *name, const char *param, const nb::args &args) {
    std::size_t given = args.size();
    if (given == 1) return args[0];
    if (given == 0)
        PyErr_Format(PyExc_TypeError,
                     "%s() missing 1 required positional argument: '%s'", name, param);
    else
        PyErr_Format(PyExc_TypeError,
                     "%s() takes 1 positional argument but %zu were given", name, given);
    throw nb::python_error();
}

nb::object parse_value(nb::args args, nb::kwargs kwargs) {
    nb::handle value = only_positional("_parse_value", "value", args);
    if (!truthy(value)) return nb::none();
    if (!PyUnicode_Check(value.ptr()))
        raise_arg_type("_parse_value", "value", "str", value);
    Utf8Text text = utf8_of(value);
    return resolve(text.view, kwargs, value);
}

nb::object eval(nb::args args, nb::kwargs kwargs) {
    nb::handle key_or_value = only_positional("_eval", "key_or_value", args);
    exact_str(key_or_value, "_eval", "key_or_value");
    return eval_text(key_or_value, kwargs);
}

}  // namespace

nb::object parse_value_text(std::string_view utf8_value, nb::handle kwargs) {
    if (utf8_value.empty()) return nb::none();
    return resolve(utf8_value, kwargs, nb::handle());
}

void def_parse_value(nb::module_ &m) {
    m.def("_parse_value", &parse_value, nb::sig("def _parse_value(value, /, **kwargs)"));
}

void def_eval(nb::module_ &m) {
    m.def("_eval", &eval, nb::sig("def _eval(key_or_value: str, /, **kwargs)"));
}

}  // namespace tessel::spiceread
