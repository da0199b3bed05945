// Port resolution: port names of a component, in canonical order.
#include "spiceread/module.hpp"

namespace tessel::spiceread {

void def_get_ports_from_model(nb::module_ &m) { def_placeholder(m, "_get_ports_from_model"); }
void def_get_ports_from_component(nb::module_ &m) { def_placeholder(m, "_get_ports_from_component"); }
void def_get_ports(nb::module_ &m) {
    def_placeholder(m, "_get_ports");
    m.attr("_get_ports") =
        nb::module_::import_("functools").attr("lru_cache")()(m.attr("_get_ports"));
}
void def_sort_ports(nb::module_ &m) { def_placeholder(m, "_sort_ports"); }
void def_get_port(nb::module_ &m) { def_placeholder(m, "_get_port"); }

}  // namespace tessel::spiceread
