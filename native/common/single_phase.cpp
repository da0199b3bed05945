#include "common/single_phase.hpp"

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace tessel {

PyObject *single_phase_init(const char *qualified_name,
                            PyObject *(*nanobind_init)()) {
    // This file is compiled into each extension separately, so these are
    // per extension module.
    static PyInterpreterState *owner = nullptr;
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, nullptr, nullptr, 0, nullptr,
        nullptr,               nullptr, nullptr, nullptr};

    PyInterpreterState *interp = PyInterpreterState_Get();
    if (owner) {
        if (owner != interp)
            PyErr_Format(PyExc_ImportError,
                         "%s cannot be loaded into a second interpreter of "
                         "this process",
                         qualified_name);
        else
            PyErr_Format(PyExc_RuntimeError,
                         "%s cannot be initialised twice in one process",
                         qualified_name);
        return nullptr;
    }

    // nanobind hands out a multi-phase definition whose exec slot sets up
    // its machinery and runs the module body.  A single-phase module may not
    // carry slots, so the module is made from a slot-free copy of the
    // definition (same per-module state) and the exec slot is run by hand.
    PyObject *nb_def_object = nanobind_init();
    if (!nb_def_object) return nullptr;
    if (!PyObject_TypeCheck(nb_def_object, &PyModuleDef_Type)) {
        PyErr_Format(PyExc_SystemError,
                     "%s: nanobind did not return a module definition",
                     qualified_name);
        return nullptr;
    }
    auto *nb_def = reinterpret_cast<PyModuleDef *>(nb_def_object);
    int (*exec)(PyObject *) = nullptr;
    for (PyModuleDef_Slot *slot = nb_def->m_slots; slot && slot->slot; ++slot)
        if (slot->slot == Py_mod_exec)
            exec = reinterpret_cast<int (*)(PyObject *)>(slot->value);
    if (!exec) {
        PyErr_Format(PyExc_SystemError, "%s: no exec slot", qualified_name);
        return nullptr;
    }

    def.m_name = qualified_name;
    def.m_size = nb_def->m_size;
    def.m_free = nb_def->m_free;
    nb::object module = nb::steal(PyModule_Create(&def));
    if (!module.is_valid() || exec(module.ptr()) < 0) return nullptr;
    owner = interp;
    return module.release().ptr();
}

}  // namespace tessel
