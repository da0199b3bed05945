// Location comments: the placement of an instance, read from the
// "location=" annotation in the comment of its line.
//
// The comment is walked as UTF-8; the three coordinates go through the
// module's `_parse_value` with no parameters.  Malformed annotations fail
// with the ValueError texts of Python's own unpacking.
#include <string>
#include <string_view>
#include <utility>

#include "common/checks.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/assembly.hpp"
#include "spiceread/module.hpp"
#include "spiceread/values.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_parse_value{scope(), "_parse_value"};

constexpr std::string_view kMarker = "location=";

// How many parts `text.split(separator)` makes.
std::size_t count_parts(std::string_view text, std::string_view separator) {
    std::size_t parts = 1;
    for (std::size_t at = text.find(separator); at != std::string_view::npos;
         at = text.find(separator, at + separator.size()))
        ++parts;
    return parts;
}

// The code point starting at `text[i]`, and its length in bytes.  The text
// comes from a str, so it is well formed (lone surrogates included, as
// three-byte sequences).
char32_t code_point(std::string_view text, std::size_t i, std::size_t &length) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[i + k]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) { length = 1; return lead; }
    if (lead < 0xE0) { length = 2; return ((lead & 0x1Fu) << 6) | (byte(1) & 0x3Fu); }
    if (lead < 0xF0) {
        length = 3;
        return ((lead & 0x0Fu) << 12) | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
    }
    length = 4;
    return ((lead & 0x07u) << 18) | ((byte(1) & 0x3Fu) << 12) | ((byte(2) & 0x3Fu) << 6) |
           (byte(3) & 0x3Fu);
}

// re.sub(r"\s*", "", text): \s of a str pattern is Python's Unicode white
// space, the same set as str.isspace.  Text with nothing to remove (the
// usual case) is returned as it is; otherwise the kept text goes to `kept`.
std::string_view without_white_space(std::string_view text, std::string &kept) {
    std::size_t clean = 0;
    while (clean < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[clean]);
        if (c >= 0x80 || Py_UNICODE_ISSPACE(c)) break;
        ++clean;
    }
    if (clean == text.size()) return text;
    kept.assign(text.substr(0, clean));
    for (std::size_t i = clean, length = 1; i < text.size(); i += length) {
        char32_t c = code_point(text, i, length);
        if (!Py_UNICODE_ISSPACE(static_cast<Py_UCS4>(c))) kept.append(text.substr(i, length));
    }
    return kept;
}

std::string_view strip_parentheses(std::string_view group) {
    while (!group.empty() && group.front() == '(') group.remove_prefix(1);
    while (!group.empty() && group.back() == ')') group.remove_suffix(1);
    return group;
}

// The keys of a placement, made once: a netlist asks for one placement per
// instance.
struct PlacementKeys {
    PyObject *x, *y, *rotation, *port;
};

const PlacementKeys &placement_keys() {
    static const PlacementKeys keys{interned("x"), interned("y"), interned("rotation"),
                                    interned("port")};
    return keys;
}

void set_item(nb::handle dict, PyObject *key, nb::handle value) {
    if (PyDict_SetItem(dict.ptr(), key, value.ptr()) < 0) throw nb::python_error();
}

nb::object parse_location_comment(nb::handle comment_arg) {
    nb::str comment = exact_str(comment_arg, "_parse_location_comment", "comment");
    Utf8Text utf8 = utf8_of(comment);
    std::string_view text = utf8.view;

    nb::dict placement;
    const std::size_t marker = text.find(kMarker);
    if (marker == std::string_view::npos) return placement;

    if (std::size_t parts = count_parts(text, kMarker); parts != 2) raise_unpack(2, parts);
    std::string_view rest = text.substr(marker + kMarker.size());
    std::string kept;
    std::string_view location = without_white_space(rest.substr(0, rest.find(' ')), kept);

    std::string_view port = "()", coordinates = location;
    constexpr std::string_view kBetween = ")(";
    if (const std::size_t between = location.find(kBetween); between != std::string_view::npos) {
        if (std::size_t parts = count_parts(location, kBetween); parts != 2)
            raise_unpack(2, parts);
        port = location.substr(0, between);
        coordinates = location.substr(between + kBetween.size());
    }
    port = strip_parentheses(port);
    coordinates = strip_parentheses(coordinates);

    // Every piece is evaluated, in order, before the count is checked, so a
    // piece's warning comes out even when the annotation is then refused.
    nb::object parse_value = k_parse_value.get();
    const bool original = k_parse_value.is_original(parse_value);
    // Only read by the value evaluation (which copies it before handing it
    // to a replaced `_eval`), so one empty dict serves every call.
    static PyObject *const no_parameters = nb::dict().release().ptr();
    nb::object values[3];
    std::size_t count = 0;
    for (std::size_t start = 0;;) {
        const std::size_t comma = coordinates.find(',', start);
        std::string_view piece = coordinates.substr(start, comma - start);
        nb::object value = original ? parse_value_text(piece, no_parameters)
                                    : parse_value(str_from_utf8(piece));
        if (count < 3) values[count] = std::move(value);
        ++count;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    if (count != 3) raise_unpack(3, count);

    const PlacementKeys &keys = placement_keys();
    set_item(placement, keys.x, values[0]);
    set_item(placement, keys.y, values[1]);
    set_item(placement, keys.rotation, values[2]);
    if (!port.empty()) set_item(placement, keys.port, str_from_utf8(port));
    return placement;
}

}  // namespace

void def_parse_location_comment(nb::module_ &m) {
    m.def("_parse_location_comment", &parse_location_comment, nb::arg("comment").none(),
          nb::sig("def _parse_location_comment(comment: str) -> dict"));
}

}  // namespace tessel::spiceread
