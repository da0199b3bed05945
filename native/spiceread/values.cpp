// Value evaluation: setting value text to a Python value.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_parse_value(nb::module_ &m) { def_placeholder(m, "_parse_value"); }
void def_eval(nb::module_ &m) { def_placeholder(m, "_eval"); }

}  // namespace tessel::spiceread
