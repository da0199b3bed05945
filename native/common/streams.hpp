// Lazy streams written in C++: an iterator type for any class with
// `nb::object next()` (an invalid object at the end), and the upstream such
// a stream pulls its items from.
#pragma once

#include <exception>
#include <new>
#include <utility>

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// Pulls items from an iterable, which it turns into an iterator only when
// first pulled (a generator would not touch its argument before that either).
class Upstream {
public:
    explicit Upstream(nb::handle iterable) : iterable_(nb::borrow(iterable)) {}

    // The next item; an invalid object at the end.
    nb::object pull() {
        if (!iterator_.is_valid()) {
            if (!iterable_.is_valid()) return {};
            iterator_ = nb::steal(PyObject_GetIter(iterable_.ptr()));
            iterable_.reset();
            if (!iterator_.is_valid()) throw nb::python_error();
        }
        PyObject *item = PyIter_Next(iterator_.ptr());
        if (!item) {
            iterator_.reset();
            if (PyErr_Occurred()) throw nb::python_error();
            return {};
        }
        return nb::steal(item);
    }

    // Drops the upstream for good (end of the stream, or a failure in it).
    void finish() {
        iterable_.reset();
        iterator_.reset();
    }

private:
    nb::object iterable_;
    nb::object iterator_;
};

namespace detail {

inline PyObject *iter_self(PyObject *self) { return Py_NewRef(self); }

template <typename T>
PyObject *stream_next(PyObject *self) noexcept {
    try {
        return nb::inst_ptr<T>(self)->next().release().ptr();
    } catch (nb::python_error &e) {
        e.restore();
    } catch (const std::bad_alloc &) {
        PyErr_NoMemory();
    } catch (const std::exception &e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    }
    return nullptr;
}

}  // namespace detail

// Helper types are implementation details: they are registered with the
// module for nanobind's sake and taken out of its namespace again.  Their
// reference stays held for the life of the process (nanobind's registry of
// types does not hold one).
inline void hide_type(nb::module_ &m, nb::handle type, const char *name) {
    type.inc_ref();
    nb::delattr(m, name);
}

// Registers `T` as a hidden iterator type (`__iter__`, a C-level `__next__`).
template <typename T>
void def_stream_type(nb::module_ &m, const char *name) {
    static PyType_Slot slots[] = {
        {Py_tp_iter, reinterpret_cast<void *>(&detail::iter_self)},
        {Py_tp_iternext, reinterpret_cast<void *>(&detail::stream_next<T>)},
        {0, nullptr},
    };
    hide_type(m, nb::class_<T>(m, name, nb::type_slots(slots)), name);
}

// A new stream object of type `T`, made from `args`.
template <typename T, typename... Args>
nb::object new_stream(Args &&...args) {
    return nb::cast(T(std::forward<Args>(args)...), nb::rv_policy::move);
}

}  // namespace tessel
