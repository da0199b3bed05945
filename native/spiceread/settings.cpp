// Settings mapping and metre-to-micrometre conversion.
//
// Every settings dict that enters a netlist gets its keys renamed through
// the caller's `settings_keymap` (in sorted key order) and its lengths,
// recognised by value alone (a float strictly between 1e-10 and 1e-2 is
// taken for metres), converted to micrometres.  While the module's names are
// the originals, renaming and conversion run as one pass over the dict.
#include "spiceread/assembly.hpp"
#include "spiceread/module.hpp"

#include <utility>
#include <vector>

#include "common/checks.hpp"
#include "common/objects.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_map_settings_keys{scope(), "_map_settings_keys"};
ModuleName k_convert_um{scope(), "_convert_um"};
ModuleName k_is_probably_um{scope(), "_is_probably_um"};
ModuleName k_patch_settings{scope(), "_patch_settings"};

constexpr double kLow = 1e-10, kHigh = 1e-2, kMetreToMicrometre = 1e6;

bool is_probably_um(double val, double low = kLow, double high = kHigh) {
    return low < val && val < high;
}

// `v * 1e6` for a float (or float subclass) taken for metres.
nb::object to_micrometres(PyObject *v) {
    if (PyFloat_CheckExact(v))
        return nb::steal(PyFloat_FromDouble(PyFloat_AS_DOUBLE(v) * kMetreToMicrometre));
    nb::object factor = nb::steal(PyFloat_FromDouble(kMetreToMicrometre));
    PyObject *product = PyNumber_Multiply(v, factor.ptr());
    if (!product) throw nb::python_error();
    return nb::steal(product);
}

// The converted value when `v` is a length in metres, else null.
nb::object converted(PyObject *v) {
    if (!PyFloat_Check(v)) return {};
    double val = PyFloat_AsDouble(v);
    if (val == -1.0 && PyErr_Occurred()) throw nb::python_error();
    return is_probably_um(val) ? to_micrometres(v) : nb::object();
}

// Held strongly: a key's hash or a value's multiplication may run Python
// code that changes the settings dict while it is being read.
using Item = std::pair<nb::object, nb::object>;

// The items of a settings dict in ascending key order, as `sorted(settings)`
// gives them.  Element lines carry a handful of settings, so they are sorted
// in place on the stack; text keys are compared inline, anything else goes
// through the list sort (which raises for keys that cannot be ordered).
class SortedItems {
public:
    explicit SortedItems(PyObject *settings) {
        Py_ssize_t n = PyDict_GET_SIZE(settings);
        if (n > kInline) heap_.resize(static_cast<size_t>(n));
        Item *items = data();
        Py_ssize_t pos = 0, i = 0;
        PyObject *key, *value;
        bool all_text = true;
        while (PyDict_Next(settings, &pos, &key, &value)) {
            items[i++] = {nb::borrow(key), nb::borrow(value)};
            all_text = all_text && PyUnicode_CheckExact(key);
        }
        size_ = i;
        if (all_text) {
            // Insertion sort: stable, and fastest for the few keys of a line.
            for (Py_ssize_t k = 1; k < size_; ++k) {
                Item moving = std::move(items[k]);
                Py_ssize_t j = k;
                for (; j > 0 &&
                       PyUnicode_Compare(moving.first.ptr(), items[j - 1].first.ptr()) < 0;
                     --j)
                    items[j] = std::move(items[j - 1]);
                items[j] = std::move(moving);
            }
        } else {
            sort_by_list(settings);
        }
    }

    const Item *begin() const { return data(); }
    const Item *end() const { return data() + size_; }

private:
    static constexpr Py_ssize_t kInline = 8;

    Item *data() { return heap_.empty() ? inline_ : heap_.data(); }
    const Item *data() const { return heap_.empty() ? inline_ : heap_.data(); }

    void sort_by_list(PyObject *settings) {
        nb::object keys = nb::steal(PyDict_Keys(settings));
        if (!keys.is_valid() || PyList_Sort(keys.ptr()) < 0) throw nb::python_error();
        Item *items = data();
        for (Py_ssize_t i = 0; i < size_; ++i) {
            PyObject *k = PyList_GET_ITEM(keys.ptr(), i);
            PyObject *v = PyDict_GetItemWithError(settings, k);
            if (!v) {
                if (!PyErr_Occurred()) PyErr_SetObject(PyExc_KeyError, k);
                throw nb::python_error();
            }
            items[i] = {nb::borrow(k), nb::borrow(v)};
        }
    }

    Item inline_[kInline];
    std::vector<Item> heap_;
    Py_ssize_t size_ = 0;
};

// `_map_settings_keys`, converting lengths on the way when `convert` is set.
nb::object map_keys(PyObject *settings, PyObject *keymap, bool convert) {
    nb::object result = nb::steal(PyDict_New());
    if (!result.is_valid()) throw nb::python_error();
    if (PyDict_GET_SIZE(settings) == 0) return result;
    bool renaming = PyDict_GET_SIZE(keymap) != 0;
    for (const auto &[key_object, value_object] : SortedItems(settings)) {
        PyObject *key = key_object.ptr(), *value = value_object.ptr();
        PyObject *new_key = key;
        if (renaming) {
            PyObject *mapped = PyDict_GetItemWithError(keymap, key);
            if (mapped)
                new_key = mapped;
            else if (PyErr_Occurred())
                throw nb::python_error();
        }
        nb::object new_value = convert ? converted(value) : nb::object();
        if (PyDict_SetItem(result.ptr(), new_key,
                           new_value.is_valid() ? new_value.ptr() : value) < 0)
            throw nb::python_error();
    }
    return result;
}

nb::object map_settings_keys(nb::handle settings, nb::handle settings_keymap) {
    exact_dict(settings, "_map_settings_keys", "settings");
    exact_dict(settings_keymap, "_map_settings_keys", "settings_keymap");
    return map_keys(settings.ptr(), settings_keymap.ptr(), false);
}

nb::object convert_um(nb::handle settings) {
    exact_dict(settings, "_convert_um", "settings");
    nb::object threshold = k_is_probably_um.get();
    bool inline_threshold = k_is_probably_um.is_original(threshold);
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(settings.ptr(), &pos, &key, &value)) {
        if (!PyFloat_Check(value)) continue;
        nb::object new_value;
        if (inline_threshold) {
            new_value = converted(value);
        } else {
            if (truthy(threshold(nb::handle(value)))) new_value = to_micrometres(value);
        }
        // Replacing the value of a present key leaves the iteration intact.
        if (new_value.is_valid() &&
            PyDict_SetItem(settings.ptr(), key, new_value.ptr()) < 0)
            throw nb::python_error();
    }
    return nb::borrow(settings);
}

nb::object patch_settings(nb::handle settings, nb::handle settings_keymap) {
    exact_dict(settings, "_patch_settings", "settings");
    exact_dict(settings_keymap, "_patch_settings", "settings_keymap");
    return SettingsPatcher()(settings, settings_keymap);
}

}  // namespace

SettingsPatcher::SettingsPatcher() {
    nb::object patch = k_patch_settings.get();
    if (!k_patch_settings.is_original(patch)) {
        patch_ = std::move(patch);
        return;
    }
    nb::object map = k_map_settings_keys.get();
    nb::object convert = k_convert_um.get();
    bool map_original = k_map_settings_keys.is_original(map);
    bool convert_original = k_convert_um.is_original(convert);
    if (!map_original) map_ = std::move(map);
    if (!convert_original) convert_ = std::move(convert);
    fused_ = map_original && convert_original &&
             k_is_probably_um.is_original(k_is_probably_um.get());
}

nb::object SettingsPatcher::operator()(nb::handle settings,
                                       nb::handle settings_keymap) const {
    if (patch_.is_valid()) return patch_(settings, settings_keymap);
    exact_dict(settings, "_patch_settings", "settings");
    exact_dict(settings_keymap, "_patch_settings", "settings_keymap");
    if (fused_) return map_keys(settings.ptr(), settings_keymap.ptr(), true);
    nb::object mapped = map_.is_valid() ? map_(settings, settings_keymap)
                                        : map_settings_keys(settings, settings_keymap);
    return convert_.is_valid() ? convert_(mapped) : convert_um(mapped);
}

nb::object SettingsPatcher::take_over(nb::handle settings,
                                      nb::handle settings_keymap) const {
    // Held by the record and by the caller's reference, nothing else.
    constexpr Py_ssize_t kUnshared = 2;
    PyObject *s = settings.ptr(), *keymap = settings_keymap.ptr();
    if (!fused_ || !PyDict_CheckExact(s) || !PyDict_CheckExact(keymap) ||
        Py_REFCNT(s) != kUnshared)
        return (*this)(settings, settings_keymap);
    PyObject *previous = nullptr;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    bool renaming = PyDict_GET_SIZE(keymap) != 0;
    while (PyDict_Next(s, &pos, &key, &value)) {
        if (!PyUnicode_CheckExact(key) ||
            (previous && PyUnicode_Compare(previous, key) > 0))
            return (*this)(settings, settings_keymap);
        if (renaming) {
            int found = PyDict_Contains(keymap, key);
            if (found < 0) throw nb::python_error();
            if (found) return (*this)(settings, settings_keymap);
        }
        previous = key;
    }
    pos = 0;
    while (PyDict_Next(s, &pos, &key, &value)) {
        nb::object new_value = converted(value);
        // Replacing the value of a present key leaves the iteration intact.
        if (new_value.is_valid() && PyDict_SetItem(s, key, new_value.ptr()) < 0)
            throw nb::python_error();
    }
    return nb::borrow(settings);
}

void def_map_settings_keys(nb::module_ &m) {
    m.def("_map_settings_keys", &map_settings_keys, nb::arg("settings").none(),
          nb::arg("settings_keymap").none());
}

void def_convert_um(nb::module_ &m) {
    m.def("_convert_um", &convert_um, nb::arg("settings").none());
}

void def_is_probably_um(nb::module_ &m) {
    m.def("_is_probably_um",
          [](double val, double low, double high) { return is_probably_um(val, low, high); },
          nb::arg("val"), nb::arg("low") = kLow, nb::arg("high") = kHigh);
}

void def_patch_settings(nb::module_ &m) {
    m.def("_patch_settings", &patch_settings, nb::arg("settings").none(),
          nb::arg("settings_keymap").none());
}

}  // namespace tessel::spiceread
