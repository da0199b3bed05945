// Settings mapping and metre-to-micrometre conversion.
//
// Every settings dict that enters a netlist gets its keys renamed through
// the caller's `settings_keymap` (in sorted key order) and its lengths,
// recognised by value alone (a float strictly between 1e-10 and 1e-2 is
// taken for metres), converted to micrometres from their decimal digits, so
// that "0.2u" becomes 0.2 and not the product of two roundings.  While the
// steps are the module's own, renaming and conversion are one pass over the
// sorted items.
#include "spiceread/settings.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/utf8.hpp"
#include "spiceread/module.hpp"
#include "spiceread/values.hpp"
#include "text/number.hpp"

namespace tessel::spiceread {

namespace {

// Whether a float (or float subclass) object multiplies as a float does.
bool float_product(PyObject *v) {
    return PyFloat_CheckExact(v) || Py_TYPE(v)->tp_as_number->nb_multiply == PyFloat_Type.tp_as_number->nb_multiply;
}

// `v * 1e6` for a float (or float subclass) object taken for metres: its
// shortest digits moved six places, rounded once, unless a subclass has a
// product of its own.
nb::object to_micrometres(PyObject *v) {
    if (float_product(v)) return nb::borrow(micrometres_of(PyFloat_AS_DOUBLE(v)));
    nb::object factor = new_float(1e6);
    return checked(PyNumber_Multiply(v, factor.ptr()));
}

// Converts `value` in place when it is a float taken for metres.
void convert_value(Value &value) {
    if (value.is_number()) {
        const text::Number &n = value.as_number();
        if (!text::is_probably_metres(n.value)) return;
        const double um = std::isnan(n.micrometres) ? text::shift_decimal(n.value, text::kMicrometresShift)
                                                    : n.micrometres;
        value = Value::number({um, NAN});
        return;
    }
    PyObject *v = value.get().ptr();
    if (!PyFloat_Check(v)) return;
    double d = PyFloat_AsDouble(v);
    if (d == -1.0 && PyErr_Occurred()) throw nb::python_error();
    if (text::is_probably_metres(d)) value = Value::object(to_micrometres(v));
}

// Keys are exact str.  The reading's own recur as one object each, and
// ASCII text orders as its bytes do.
bool key_less(const Setting &a, const Setting &b) {
    PyObject *const x = a.key.ptr(), *const y = b.key.ptr();
    if (x == y) return false;
    if (PyUnicode_IS_ASCII(x) && PyUnicode_IS_ASCII(y)) {
        const std::string_view p = ascii_view(x), q = ascii_view(y);
        return p < q;
    }
    return PyUnicode_Compare(x, y) < 0;
}

// A stable sort by text key: in place for the handful of settings of a
// line, merge sort beyond.
void sort_by_key(Setting *items, std::size_t size) {
    constexpr std::size_t kFew = 16;
    if (size > kFew) return std::stable_sort(items, items + size, key_less);
    for (std::size_t k = 1; k < size; ++k) {
        if (!key_less(items[k], items[k - 1])) continue;
        Setting moving = std::move(items[k]);
        std::size_t j = k;
        for (; j > 0 && key_less(moving, items[j - 1]); --j) items[j] = std::move(items[j - 1]);
        items[j] = std::move(moving);
    }
}

// The items of a settings dict in ascending key order, as `sorted(settings)`
// gives them; keys that cannot be ordered among themselves raise as the
// list sort does.  Items are held strongly: a key's comparison may run
// Python code that changes the dict.
std::vector<Setting> sorted_items(nb::handle settings) {
    std::vector<Setting> items;
    items.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(settings.ptr())));
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    bool all_text = true;
    while (PyDict_Next(settings.ptr(), &pos, &key, &value)) {
        items.push_back({nb::borrow(key), Value::object(nb::borrow(value))});
        all_text = all_text && PyUnicode_CheckExact(key);
    }
    if (all_text) {
        sort_by_key(items.data(), items.size());
        return items;
    }
    nb::object keys = checked(PyDict_Keys(settings.ptr()));
    if (PyList_Sort(keys.ptr()) < 0) throw nb::python_error();
    items.clear();
    for (nb::handle k : nb::borrow<nb::list>(keys)) {
        nb::object v = dict_get(settings, k);
        if (!v.is_valid()) raise_error(PyExc_KeyError, k);
        items.push_back({nb::borrow(k), Value::object(std::move(v))});
    }
    return items;
}

// Items of the reading's own IR in ascending key order, each key once with
// the value written last (the keys are all text).
std::size_t sort_own_items(Setting *items, std::size_t size) {
    sort_by_key(items, size);
    std::size_t kept = 0;
    for (std::size_t k = 0; k < size; ++k) {
        if (kept > 0 && !key_less(items[kept - 1], items[k])) {
            items[kept - 1] = std::move(items[k]);
            continue;
        }
        if (kept != k) items[kept] = std::move(items[k]);
        ++kept;
    }
    return kept;
}

// `_map_settings_keys` on sorted items, converting lengths when `convert`.
nb::object map_items(Setting *items, std::size_t size, const nb::dict &keymap, bool convert) {
    nb::dict result = new_dict();
    const bool renaming = PyDict_GET_SIZE(keymap.ptr()) != 0;
    for (std::size_t k = 0; k < size; ++k) {
        Setting &item = items[k];
        nb::object key = item.key;
        if (renaming)
            if (nb::object mapped = dict_get(keymap, key)) key = std::move(mapped);
        if (convert) convert_value(item.value);
        set_item(result, key, item.value.get());
    }
    return result;
}

// `_is_probably_um(val)` through `route`.
bool probably_metres(nb::handle val, Route &route) {
    if (!route.own(Name::_is_probably_um)) return truthy(call(route.get(Name::_is_probably_um), val));
    const double d = PyFloat_AsDouble(val.ptr());
    if (d == -1.0 && PyErr_Occurred()) throw nb::python_error();
    return text::is_probably_metres(d);
}

// `_convert_um`, in place.
nb::object convert_um(const nb::dict &settings, Route &route) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(settings.ptr(), &pos, &key, &value)) {
        if (!PyFloat_Check(value)) continue;
        nb::object held = nb::borrow(value);
        // Replacing the value of a present key leaves the iteration intact.
        if (probably_metres(held, route)) set_item(settings, nb::handle(key), to_micrometres(value));
    }
    return nb::borrow(settings);
}

// The settings as a dict, as the record holds them.
nb::object as_dict(const SettingsInput &settings) {
    if (settings.object.is_valid()) return settings.object;
    nb::dict dict = new_dict();
    for (std::size_t k = 0; k < settings.size; ++k)
        set_item(dict, settings.items[k].key, settings.items[k].value.get());
    return dict;
}

// `_map_settings_keys(settings, settings_keymap)` through `route`.
nb::object map_keys_step(nb::handle settings, const nb::dict &settings_keymap, Route &route) {
    if (!route.own(Name::_map_settings_keys)) return call(route.get(Name::_map_settings_keys), settings, settings_keymap);
    std::vector<Setting> items = sorted_items(settings);
    return map_items(items.data(), items.size(), settings_keymap, false);
}

// `_convert_um(settings)` through `route`.
nb::object convert_um_step(nb::handle settings, Route &route) {
    if (!route.own(Name::_convert_um)) return call(route.get(Name::_convert_um), settings);
    return convert_um(exact_dict(settings, "_convert_um", "settings"), route);
}

// `_patch_settings` itself, for checked settings.
nb::object patch_own(const SettingsInput &settings, const nb::dict &settings_keymap, Route &route) {
    const bool own_items = !settings.object.is_valid();
    // Renaming and conversion in one pass over the sorted items, while all
    // three steps are the module's own.
    if (route.own({Name::_map_settings_keys, Name::_convert_um, Name::_is_probably_um})) {
        if (own_items) {
            std::size_t size = sort_own_items(settings.items, settings.size);
            return map_items(settings.items, size, settings_keymap, true);
        }
        std::vector<Setting> items = sorted_items(settings.object);
        return map_items(items.data(), items.size(), settings_keymap, true);
    }
    return convert_um_step(map_keys_step(as_dict(settings), settings_keymap, route), route);
}

}  // namespace

nb::object patch_settings(const SettingsInput &settings, const nb::dict &settings_keymap, Route &route) {
    if (!route.own(Name::_patch_settings))
        return call(route.get(Name::_patch_settings), as_dict(settings), settings_keymap);
    // A record's settings are whatever it holds; the reading's own are a dict's items.
    if (settings.object.is_valid()) exact_dict(settings.object, "_patch_settings", "settings");
    return patch_own(settings, settings_keymap, route);
}

bool settles_while_reading(const nb::dict &settings_keymap, nb::handle kwargs, Route &route) {
    if (!route.own({Name::_patch_settings, Name::_map_settings_keys, Name::_convert_um, Name::_is_probably_um}))
        return false;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(settings_keymap.ptr(), &pos, &key, &value))
        if (!PyUnicode_CheckExact(key) || !PyUnicode_CheckExact(value)) return false;
    // A value that is not the reader's own comes from the caller's parameters.
    pos = 0;
    while (PyDict_Next(kwargs.ptr(), &pos, &key, &value))
        if (PyFloat_Check(value) && !float_product(value)) return false;
    return true;
}

nb::object settle(Setting *items, std::size_t size, const nb::dict &settings_keymap) {
    return map_items(items, sort_own_items(items, size), settings_keymap, true);
}

void def_map_settings_keys(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, [](nb::handle settings, nb::handle settings_keymap) {
        exact_dict(settings, "_map_settings_keys", "settings");
        nb::dict keymap = exact_dict(settings_keymap, "_map_settings_keys", "settings_keymap");
        std::vector<Setting> items = sorted_items(settings);
        return map_items(items.data(), items.size(), keymap, false);
    }, nb::arg("settings").none(), nb::arg("settings_keymap").none(), nb::sig(signature));
}

void def_convert_um(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, [](nb::handle settings) {
        Route route;
        return convert_um(exact_dict(settings, "_convert_um", "settings"), route);
    }, nb::arg("settings").none(), nb::sig(signature));
}

void def_is_probably_um(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, [](double val, double low, double high) { return text::is_probably_metres(val, low, high); },
          nb::arg("val"), nb::arg("low") = text::kMetresLow, nb::arg("high") = text::kMetresHigh,
          nb::sig(signature));
}

void def_patch_settings(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, [](nb::handle settings, nb::handle settings_keymap) {
        exact_dict(settings, "_patch_settings", "settings");
        nb::dict keymap = exact_dict(settings_keymap, "_patch_settings", "settings_keymap");
        Route route;
        return patch_own({nullptr, 0, nb::borrow(settings)}, keymap, route);
    }, nb::arg("settings").none(), nb::arg("settings_keymap").none(), nb::sig(signature));
}

}  // namespace tessel::spiceread
