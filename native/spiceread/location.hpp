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

}  // namespace tessel::spiceread
