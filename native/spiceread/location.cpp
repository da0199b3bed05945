// Location comments: the placement of an instance, read from the
// "location=" annotation in the comment of its line.
//
// The comment is walked as UTF-8; the three coordinates go through the
// module's `_parse_value` with no parameters.  Malformed annotations fail
// with the ValueError texts of Python's own unpacking.
#include <string>
#include <vector>

#include "common/checks.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/module.hpp"
#include "spiceread/values.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_parse_value{scope(), "_parse_value"};

constexpr std::string_view kMarker = "location=";

// str.split(separator) of UTF-8 text.
std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t at; (at = text.find(separator, start)) != std::string_view::npos;
         start = at + separator.size())
        parts.push_back(text.substr(start, at - start));
    parts.push_back(text.substr(start));
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
// space, the same set as str.isspace.
std::string without_white_space(std::string_view text) {
    std::string kept;
    kept.reserve(text.size());
    for (std::size_t i = 0, length = 1; i < text.size(); i += length) {
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

nb::object parse_location_comment(nb::handle comment_arg) {
    nb::str comment = exact_str(comment_arg, "_parse_location_comment", "comment");
    Utf8Text utf8 = utf8_of(comment);
    std::string_view text = utf8.view;

    nb::dict placement;
    if (text.find(kMarker) == std::string_view::npos) return placement;

    std::vector<std::string_view> annotated = split(text, kMarker);
    if (annotated.size() != 2) raise_unpack(2, annotated.size());
    std::string_view rest = annotated[1];
    std::string location = without_white_space(rest.substr(0, rest.find(' ')));

    std::string_view port = "()", coordinates = location;
    if (location.find(")(") != std::string::npos) {
        std::vector<std::string_view> groups = split(location, ")(");
        if (groups.size() != 2) raise_unpack(2, groups.size());
        port = groups[0];
        coordinates = groups[1];
    }
    port = strip_parentheses(port);
    coordinates = strip_parentheses(coordinates);

    // Every piece is evaluated, in order, before the count is checked, so a
    // piece's warning comes out even when the annotation is then refused.
    nb::object parse_value = k_parse_value.get();
    bool original = k_parse_value.is_original(parse_value);
    nb::dict no_parameters;
    std::vector<nb::object> values;
    for (std::string_view piece : split(coordinates, ","))
        values.push_back(original ? parse_value_text(piece, no_parameters)
                                  : parse_value(str_from_utf8(piece)));
    if (values.size() != 3) raise_unpack(3, values.size());

    placement["x"] = values[0];
    placement["y"] = values[1];
    placement["rotation"] = values[2];
    if (!port.empty()) placement["port"] = str_from_utf8(port);
    return placement;
}

}  // namespace

void def_parse_location_comment(nb::module_ &m) {
    m.def("_parse_location_comment", &parse_location_comment, nb::arg("comment").none(),
          nb::sig("def _parse_location_comment(comment: str) -> dict"));
}

}  // namespace tessel::spiceread
