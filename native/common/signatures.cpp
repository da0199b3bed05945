#include "common/signatures.hpp"

#include <nanobind/eval.h>

namespace tessel {

void publish_signature(nb::module_ &m, const char *name) {
    nb::object published = m.attr(name);
    bool has_dict = nb::hasattr(published, "__dict__");
    nb::object func = has_dict ? published.attr("__wrapped__") : published;
    // (signature text, docstring, defaults): nb::sig text is kept verbatim,
    // defaults written out, so it compiles as the header of a Python function.
    nb::tuple overload = nb::borrow<nb::tuple>(func.attr("__nb_signature__")[0]);

    // Annotations stay text: the names they use need not be importable here.
    nb::dict scope;
    nb::exec(nb::str("from __future__ import annotations\n{}: ...\n").format(overload[0]),
             scope);
    nb::object signature =
        nb::module_::import_("inspect").attr("signature")(scope[name]);

    nb::object target =
        has_dict ? published
                 : nb::module_::import_("builtins").attr("staticmethod")(func);
    target.attr("__signature__") = signature;
    target.attr("__doc__") = overload[1];
    m.attr(name) = target;
}

}  // namespace tessel
