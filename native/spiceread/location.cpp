// Location comments: placements read from "location=" annotations.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_parse_location_comment(nb::module_ &m) { def_placeholder(m, "_parse_location_comment"); }

}  // namespace tessel::spiceread
