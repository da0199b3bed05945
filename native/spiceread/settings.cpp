// Settings mapping and metre-to-micrometre conversion.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_map_settings_keys(nb::module_ &m) { def_placeholder(m, "_map_settings_keys"); }
void def_convert_um(nb::module_ &m) { def_placeholder(m, "_convert_um"); }
void def_is_probably_um(nb::module_ &m) { def_placeholder(m, "_is_probably_um"); }
void def_patch_settings(nb::module_ &m) { def_placeholder(m, "_patch_settings"); }

}  // namespace tessel::spiceread
