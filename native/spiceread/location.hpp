// Location comments: the placement of an instance, read from the
// "location=" annotation in the comment of its line.
#pragma once

#include <string_view>

#include <nanobind/nanobind.h>

#include "spiceread/notes.hpp"
#include "spiceread/route.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// `_parse_location_comment(comment)` through `route`, for a comment given as
// UTF-8 (`object` invalid) or as a host object; a ParseWarning names `where`.
nb::object placement_of(std::string_view utf8, nb::handle object, Route &route, const Where &where = {});

// The placement of a comment read ahead of the assembly, where nobody can
// tell: while `_parse_location_comment` and `_parse_value` are the module's
// own and no value needs evaluating, the placement or None (no placement);
// otherwise an invalid object, and the comment waits for the assembly.
nb::object ready_placement(std::string_view comment, Route &route);

}  // namespace tessel::spiceread
