#include "outline/facts.hpp"

#include <optional>
#include <unordered_map>
#include <vector>

#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "text/location.hpp"
#include "text/value.hpp"

namespace tessel::outline {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The letters after a leading decimal number ("meg" of "3meg"), or "" when
// the text is not a number followed by letters only.  One pass.
std::string_view letters_after_number(std::string_view t) {
    std::size_t i = 0, n = t.size();
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    const std::size_t digits = i;
    while (i < n && is_digit(t[i])) ++i;
    bool any = i > digits;
    if (i < n && t[i] == '.') {
        const std::size_t after = ++i;
        while (i < n && is_digit(t[i])) ++i;
        any = any || i > after;
    }
    if (!any) return {};
    if (i + 1 < n && (t[i] == 'e' || t[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < n && (t[j] == '+' || t[j] == '-')) ++j;
        const std::size_t exponent = j;
        while (j < n && is_digit(t[j])) ++j;
        if (j > exponent) i = j;
    }
    const std::size_t start = i;
    while (i < n && is_letter(t[i])) ++i;
    return i == n && i > start ? t.substr(start) : std::string_view{};
}

// The outermost bracket that `value` opens and never closes (outside
// quotes), or '\0'.
char unclosed_bracket(std::string_view value) {
    std::vector<char> open;
    char quote = '\0';
    for (char c : value) {
        if (quote) {
            if (c == quote) quote = '\0';
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(' || c == '[' || c == '{') {
            open.push_back(c);
        } else if ((c == ')' || c == ']' || c == '}') && !open.empty()) {
            open.pop_back();
        }
    }
    return open.empty() ? '\0' : open.front();
}

nb::object error_text(const nb::python_error &error) {
    nb::object type = nb::borrow(reinterpret_cast<PyObject *>(Py_TYPE(error.value().ptr())));
    nb::object name = type.attr("__name__");
    nb::object message = nb::steal(PyObject_Str(error.value().ptr()));
    if (!message.is_valid()) {
        PyErr_Clear();
        return name;
    }
    return nb::steal(checked(PyUnicode_FromFormat("%U: %U", name.ptr(), message.ptr())).release());
}

}  // namespace

nb::object constant(const char *text) {
    // Keyed by the literal's address: the texts are few and fixed.
    static std::unordered_map<const char *, PyObject *> made;
    PyObject *&str = made[text];
    if (!str) str = interned(text);
    return nb::borrow(str);
}

nb::object unpack_message(std::size_t expected, std::size_t got) {
    try {
        raise_unpack(expected, got);
    } catch (nb::python_error &error) {
        return nb::steal(checked(PyObject_Str(error.value().ptr())).release());
    }
    return constant("");
}

const Evaluations::Verdict &Evaluations::of(std::string_view utf8) {
    auto [it, added] = verdicts_.try_emplace(std::string(utf8));
    Verdict &verdict = it->second;
    if (!added) return verdict;
    static const nb::handle literal_eval = keep_forever(nb::module_::import_("ast").attr("literal_eval"));
    verdict.text = str_from_utf8(utf8);
    verdict.error = constant("");
    nb::object result = nb::steal(PyObject_CallOneArg(literal_eval.ptr(), verdict.text.ptr()));
    if (result.is_valid()) {
        verdict.kind = "literal";
    } else if (PyErr_ExceptionMatches(PyExc_ValueError)) {
        PyErr_Clear();
        verdict.kind = "unresolved";
    } else {
        nb::python_error error;
        verdict.kind = "invalid";
        verdict.error = error_text(error);
    }
    return verdict;
}

ValueFacts value_facts(std::string_view value, nb::handle written, Evaluations &evaluations) {
    ValueFacts facts;
    facts.error = constant("");
    facts.bracket = unclosed_bracket(value);
    if (value.empty()) {
        facts.text = constant("");
        return facts;
    }
    std::string buffer;
    text::ValueText v = text::read_value(value, buffer);
    const bool unchanged = v.text.data() == value.data() && v.text.size() == value.size();
    std::optional<text::Number> number = text::value_number(v, ascii_number);
    if (number || !v.is_eval) facts.text = unchanged ? nb::borrow(written) : nb::object(str_from_utf8(v.text));
    if (number) {
        facts.kind = "number";
        facts.number = number->value;
        if (text::is_probably_metres(number->value)) {
            facts.metre = "converted";
            facts.micrometres = number->micrometres;
        } else if (number->value <= text::kMetresLow) {
            facts.metre = "below";
        } else if (number->value >= text::kMetresHigh) {
            facts.metre = "above";
        }
        // Whether the text without its last character made the number.
        text::ValueText whole = v;
        whole.prefix = {text::FloatKind::not_number, 0.0};
        if (!text::value_number(whole, ascii_number, false)) {
            facts.unit = std::string(v.text.substr(v.prefix_text.size()));
            facts.scaled = v.shift != 0;
        }
        // What a length written with its suffix but left in metres likely meant.
        if (facts.scaled && facts.metre == std::string_view("above"))
            facts.micrometres = text::shift_decimal(number->value, text::kMicrometresShift);
        return facts;
    }
    if (!v.is_eval) {
        facts.kind = "text";
        facts.unit = std::string(letters_after_number(v.text));
        return facts;
    }
    const Evaluations::Verdict &verdict = evaluations.of(v.text);
    facts.text = verdict.text;
    facts.kind = verdict.kind;
    facts.error = verdict.error;
    return facts;
}

LocationFacts location_facts(std::string_view comment) {
    LocationFacts facts;
    facts.error = constant("");
    std::string buffer;
    text::LocationText location = text::read_location(comment, buffer);
    using Status = text::LocationText::Status;
    switch (location.status) {
        case Status::None: return facts;
        case Status::SeveralMarkers:
            facts.status = "several_markers";
            facts.error = unpack_message(2, location.parts);
            return facts;
        case Status::SeveralGroups:
            facts.status = "several_groups";
            facts.error = unpack_message(2, location.parts);
            return facts;
        case Status::Found: break;
    }
    std::size_t count = 0;
    text::CoordinatePieces pieces(location.coordinates);
    for (std::string_view piece; pieces.next(piece);) ++count;
    facts.status = count == 3 ? "found" : "count";
    if (count != 3) facts.error = unpack_message(3, count);
    return facts;
}

}  // namespace tessel::outline
