#include "common/names.hpp"

namespace tessel {

void ModuleScope::attach(nb::handle module) {
    module_ = module.inc_ref().ptr();
    dict_ = PyModule_GetDict(module_);
}

void ModuleScope::snapshot_own() {
    own_ = PyDict_Copy(dict_);
    if (!own_) throw nb::python_error();
}

PyObject *ModuleScope::own(PyObject *key) const {
    return own_ ? PyDict_GetItemWithError(own_, key) : nullptr;
}

PyObject *ModuleName::key() const {
    if (!key_) {
        key_ = PyUnicode_InternFromString(text_);
        if (!key_) throw nb::python_error();
    }
    return key_;
}

nb::object ModuleName::get() const {
    PyObject *value = PyDict_GetItemWithError(scope_.dict(), key());
    if (!value) {
        if (!PyErr_Occurred())
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", text_);
        throw nb::python_error();
    }
    return nb::borrow(value);
}

nb::dict class_namespace(nb::handle m, const char *qualname, const char *doc) {
    nb::dict ns;
    ns["__doc__"] = doc;
    ns["__module__"] = m.attr("__name__");
    ns["__qualname__"] = qualname;
    return ns;
}

void bind_lazy(nb::module_ &m, std::initializer_list<LazyName> names) {
    nb::object lazy_import = nb::module_::import_("tessel.core.lazy").attr("lazy_import");
    m.attr("lazy_import") = lazy_import;
    for (const LazyName &n : names)
        m.attr(n.name) = n.attribute ? lazy_import(n.module, n.attribute) : lazy_import(n.module);
}

void bind_modules(nb::module_ &m, std::initializer_list<const char *> modules) {
    for (const char *name : modules) m.attr(name) = nb::module_::import_(name);
}

void bind_from(nb::module_ &m, const char *module, std::initializer_list<const char *> names) {
    nb::module_ source = nb::module_::import_(module);
    for (const char *name : names) m.attr(name) = source.attr(name);
}

}  // namespace tessel
