// What the reader makes of a setting value and of a location annotation,
// found with the text core's own functions and the host's own evaluator.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include <nanobind/nanobind.h>

namespace tessel::outline {

namespace nb = nanobind;

struct ValueFacts {
    const char *kind = "none";  // none, number, text, literal, unresolved, invalid
    nb::object text;            // unquoted, braces made brackets
    std::optional<double> number;
    std::optional<double> micrometres;  // see the Setting record's field
    std::string unit;           // letters after the number
    bool scaled = false;
    const char *metre = "";   // the metre rule: below, converted or above the window
    char bracket = '\0';        // unclosed opener
    nb::object error;           // what the evaluator said of an invalid value
};

// What the literal evaluator makes of each single-quoted text, asked once
// per text (and its str made once): a netlist names the same parameters
// over and over.
class Evaluations {
public:
    struct Verdict {
        nb::object text;
        const char *kind;  // literal, unresolved or invalid
        nb::object error;  // what it said of an invalid text, or ''
    };
    const Verdict &of(std::string_view utf8);

private:
    std::unordered_map<std::string, Verdict> verdicts_;
};

// The value text after a setting's "=" (`written`: its str, kept as the
// value's text when the reader does not change it).
ValueFacts value_facts(std::string_view value, nb::handle written, Evaluations &evaluations);

struct LocationFacts {
    const char *status = "";  // '', found, several_markers, several_groups, count
    nb::object error;         // the reader's message for a malformed annotation
};

LocationFacts location_facts(std::string_view comment);

// A fixed text (a kind, a status: a literal) as a str made once for the process.
nb::object constant(const char *text);

// The reader's message for unpacking `got` values into `expected` names.
nb::object unpack_message(std::size_t expected, std::size_t got);

}  // namespace tessel::outline
