#include "common/single_phase.hpp"

#include <nanobind/nanobind.h>

namespace nb = nanobind;

namespace tessel {

namespace {

// Makes the module from nanobind's definition.  nanobind hands out a
// multi-phase definition whose exec slot sets up its machinery and runs the
// module body.  A single-phase module may not carry slots, so the module is
// made from a slot-free copy of the definition (same per-module state) and
// the exec slot is run by hand.
nb::object create_module(PyModuleDef &def, const char *qualified_name,
                         PyObject *(*nanobind_init)()) {
    PyObject *nb_def_object = nanobind_init();
    if (!nb_def_object) return {};
    if (!PyObject_TypeCheck(nb_def_object, &PyModuleDef_Type)) {
        PyErr_Format(PyExc_SystemError,
                     "%s: nanobind did not return a module definition",
                     qualified_name);
        return {};
    }
    auto *nb_def = reinterpret_cast<PyModuleDef *>(nb_def_object);
    int (*exec)(PyObject *) = nullptr;
    for (PyModuleDef_Slot *slot = nb_def->m_slots; slot && slot->slot; ++slot)
        if (slot->slot == Py_mod_exec)
            exec = reinterpret_cast<int (*)(PyObject *)>(slot->value);
    if (!exec) {
        PyErr_Format(PyExc_SystemError, "%s: no exec slot", qualified_name);
        return {};
    }

    def.m_name = qualified_name;
    def.m_size = nb_def->m_size;
    def.m_free = nb_def->m_free;
    nb::object module = nb::steal(PyModule_Create(&def));
    if (!module.is_valid() || exec(module.ptr()) < 0) return {};
    return module;
}

}  // namespace

PyObject *single_phase_init(const char *qualified_name,
                            PyObject *(*nanobind_init)()) {
    // This file is compiled into each extension separately, so these are
    // per extension module.  The module object is deliberately never
    // released: the process outlives the interpreter, and a reference dropped
    // by a static destructor after finalisation would touch freed memory.
    static PyModuleDef def = {
        PyModuleDef_HEAD_INIT, nullptr, nullptr, 0, nullptr,
        nullptr,               nullptr, nullptr, nullptr};
    static nb::object &module = *new nb::object();
    static bool imported_by_main = false;

    // Any interpreter but the main one is refused before anything is made,
    // so that the refusal leaves the module free for the main interpreter.
    PyThreadState *tstate = PyThreadState_Get();
    if (PyThreadState_GetInterpreter(tstate) != PyInterpreterState_Main()) {
        PyErr_Format(PyExc_ImportError,
                     "%s cannot be loaded into a second interpreter of this "
                     "process",
                     qualified_name);
        return nullptr;
    }

    // From 3.13 on, an import in another interpreter first runs this function
    // in the main interpreter, on a fresh thread state with no Python frame,
    // then drops the module and refuses it there (or calls this function again
    // from that interpreter, which the check above refuses).  The main
    // interpreter's own import later calls this function again and must get
    // the same module.  An error raised here would cross interpreters, so
    // that call only makes the module.  Every import made by the main
    // interpreter itself runs under importlib's frames.
    bool for_another_interpreter =
        !nb::steal(reinterpret_cast<PyObject *>(PyThreadState_GetFrame(tstate)))
             .is_valid();
    if (imported_by_main && !for_another_interpreter) {
        PyErr_Format(PyExc_RuntimeError,
                     "%s cannot be initialised twice in one process",
                     qualified_name);
        return nullptr;
    }
    if (!module.is_valid()) {
        module = create_module(def, qualified_name, nanobind_init);
        if (!module.is_valid()) return nullptr;
    }
    if (!for_another_interpreter) imported_by_main = true;
    return nb::borrow(module).release().ptr();
}

}  // namespace tessel
