// Module-level names of an extension module, resolved at the time of use.
//
// The package's extension modules behave like Python modules to their
// callers: a module-level name (a lazy binding such as `sax`, or one of the
// module's own functions) is looked up in the module's namespace when it is
// used, so rebinding it (monkeypatching) takes effect.  Hot paths look a name
// up once per call and compare it with the object bound at load time
// (`is_own`) to take the direct C++ route while nobody has replaced it.
#pragma once

#include <initializer_list>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// The namespace of one extension module.  The module lives for the life of
// the process (single-phase, never re-initialised), so the references held
// here are deliberately never released.
class ModuleScope {
public:
    // Called first thing in the module's initialisation.
    void attach(nb::handle module);
    // Called last thing in the module's initialisation: what is bound now is
    // the module's own, what `ModuleName::is_own` compares with.
    void snapshot_own();

    PyObject *dict() const { return dict_; }
    PyObject *module() const { return module_; }
    // Borrowed; nullptr when the name was not bound at load.
    PyObject *own(PyObject *key) const;

private:
    PyObject *module_ = nullptr;
    PyObject *dict_ = nullptr;
    PyObject *own_ = nullptr;
};

class ModuleName {
public:
    ModuleName(ModuleScope &scope, const char *text)
        : scope_(scope), text_(text) {}

    // The object the name is bound to now; NameError when unbound.
    nb::object get() const;
    // Whether `value` is the module's own: the object bound to this name at
    // load time.
    bool is_own(nb::handle value) const {
        return value.ptr() == scope_.own(key());
    }
    const char *text() const { return text_; }

private:
    PyObject *key() const;

    ModuleScope &scope_;
    const char *text_;
    mutable PyObject *key_ = nullptr;  // interned, immortal for our purposes
};

// The namespace of a class `qualname` defined by module `m` (its
// `__module__`, `__qualname__` and `__doc__`), for `type(name, bases, ns)`.
nb::dict class_namespace(nb::handle m, const char *qualname, const char *doc);

// `lazy_import` of the host package's `tessel.core.lazy` into module `m`, and
// each name bound to `lazy_import(module)`, or `lazy_import(module, attribute)`.
struct LazyName {
    const char *name, *module, *attribute = nullptr;
};
void bind_lazy(nb::module_ &m, std::initializer_list<LazyName> names);

// `import a, b` into module `m`, for each name in `modules`.
void bind_modules(nb::module_ &m, std::initializer_list<const char *> modules);
// `from module import a, b` into module `m`.
void bind_from(nb::module_ &m, const char *module, std::initializer_list<const char *> names);

}  // namespace tessel
