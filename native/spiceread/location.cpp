// Location comments: the placement of an instance, read from the
// "location=" annotation in the comment of its line.
//
// The annotation's syntax is read by the text core; the three coordinates
// go through `_parse_value` with no parameters.  Malformed annotations fail
// with the ValueError texts of Python's own unpacking.
#include <optional>
#include <string>
#include <string_view>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "common/utf8.hpp"
#include "spiceread/location.hpp"
#include "spiceread/module.hpp"
#include "spiceread/process.hpp"
#include "spiceread/values.hpp"
#include "text/location.hpp"

namespace tessel::spiceread {

namespace {

// `_parse_location_comment` itself, on the comment's UTF-8.  `ready_only`:
// gives up (an invalid object) where the reading would evaluate a value,
// warn or fail, and gives None for a comment without a placement.
nb::object placement_own(std::string_view comment, Route &route, const Where &where = {},
                         bool ready_only = false) {
    std::string buffer;
    text::LocationText location = text::read_location(comment, buffer);
    using Status = text::LocationText::Status;
    switch (location.status) {
        case Status::None: return ready_only ? nb::none() : nb::object(new_dict());
        case Status::SeveralMarkers:
        case Status::SeveralGroups:
            if (ready_only) return {};
            raise_unpack(2, location.parts);
        case Status::Found: break;
    }
    // Every piece is evaluated, in order, before the count is checked, so a
    // piece's warning comes out even when the annotation is then refused.
    // The value evaluation only reads its parameters (a replaced `_eval` gets
    // a copy), so one empty dict serves every call.
    const nb::handle no_parameters = process().no_parameters;
    Value values[3];
    std::size_t count = 0;
    text::CoordinatePieces pieces(location.coordinates);
    for (std::string_view piece; pieces.next(piece); ++count) {
        Value value;
        if (!ready_only) {
            value = resolve_value(piece, no_parameters, route, where);
        } else if (std::optional<Value> plain = plain_value(piece)) {
            value = std::move(*plain);
        } else {
            return {};
        }
        if (count < 3) values[count] = std::move(value);
    }
    if (count != 3) {
        if (ready_only) return {};
        raise_unpack(3, count);
    }

    const Interned &keys = process().names;
    nb::dict placement = new_dict();
    set_item(placement, keys.x, values[0].get());
    set_item(placement, keys.y, values[1].get());
    set_item(placement, keys.rotation, values[2].get());
    if (!location.port.empty()) set_item(placement, keys.port, str_from_utf8(location.port));
    return placement;
}

nb::object parse_location_comment(nb::handle comment) {
    exact_str(comment, "_parse_location_comment", "comment");
    Route route;
    return placement_own(utf8_of(comment).view, route);
}

}  // namespace

nb::object placement_of(std::string_view utf8, nb::handle object, Route &route, const Where &where) {
    if (!route.own(Name::_parse_location_comment))
        return call(route.get(Name::_parse_location_comment),
                    object.is_valid() ? nb::object(nb::borrow(object)) : nb::object(str_from_utf8(utf8)));
    if (!object.is_valid()) return placement_own(utf8, route, where);
    exact_str(object, "_parse_location_comment", "comment");
    return placement_own(utf8_of(object).view, route);
}

nb::object ready_placement(std::string_view comment, Route &route) {
    if (!route.own({Name::_parse_location_comment, Name::_parse_value})) return {};
    return placement_own(comment, route, {}, true);
}

void def_parse_location_comment(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &parse_location_comment, nb::arg("comment").none(), nb::sig(signature));
}

}  // namespace tessel::spiceread
