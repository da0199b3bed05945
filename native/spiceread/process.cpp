#include "spiceread/process.hpp"

#include "common/objects.hpp"

namespace tessel::spiceread {

namespace {

Process instance;

nb::handle str_tuple(std::initializer_list<const char *> names) {
    nb::list items;
    for (const char *name : names) items.append(nb::str(name));
    return keep_forever(nb::tuple(items));
}

}  // namespace

const Process &process() { return instance; }

Process &start_process() {
    Interned &n = instance.names;
    n = {interned("id"), interned("name"), interned("component"), interned("ports"),
         interned("settings"), interned("parent_id"), interned("children_ids"),
         interned("instances"), interned("connections"), interned("placements"),
         interned("x"), interned("y"), interned("rotation"), interned("port"),
         interned("wg_"), interned("o"), interned("out"), interned("e"), interned("in"),
         interned(""), interned(","), interned("__notes__"), interned("add_note")};
    instance.source_ports = str_tuple({"minus", "plus", "out", "gnd_"});
    instance.two_terminal_ports = str_tuple({"minus", "plus"});
    for (std::size_t k = 0; k < Process::kPositional; ++k) {
        PyObject *s = checked(PyUnicode_FromFormat("o%zu", k + 1)).release().ptr();
        PyUnicode_InternInPlace(&s);
        instance.positional[k] = s;
    }
    instance.path_type = keep_forever(nb::module_::import_("pathlib").attr("Path"));
    nb::module_ io = nb::module_::import_("io");
    instance.open = keep_forever(io.attr("open"));
    instance.text_wrapper = keep_forever(io.attr("TextIOWrapper"));
    instance.bytes_io = keep_forever(io.attr("BytesIO"));
    instance.no_parameters = keep_forever(new_dict());
    instance.no_args = keep_forever(nb::tuple());
    return instance;
}

}  // namespace tessel::spiceread
