// The nets of a subcircuit as the reader connects them: each net with its
// terminals, made from the outline's records when asked for, so that an
// outline need not hold them all at once.
#include "outline/nets.hpp"

#include <vector>

#include "common/objects.hpp"
#include "outline/records.hpp"

namespace tessel::outline {

namespace {

// Field positions in the records (see records.cpp).
constexpr Py_ssize_t kOutlineSubckts = 0, kOutlineElements = 1, kSubcktElements = 5, kElementNets = 2,
                     kWordText = 0;

nb::object tuple_of(const std::vector<PyObject *> &items) {
    nb::object tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t k = 0; k < items.size(); ++k)
        PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(k), nb::borrow(items[k]).release().ptr());
    return untracked(std::move(tuple));
}

}  // namespace

nb::object subckt_nets(nb::handle outline, Py_ssize_t index) {
    if (!PyTuple_Check(outline.ptr()) || PyTuple_GET_SIZE(outline.ptr()) <= kOutlineElements)
        throw nb::type_error("subckt_nets() needs an Outline");
    nb::object subckts = nb::borrow(PyTuple_GET_ITEM(outline.ptr(), kOutlineSubckts));
    nb::object elements = nb::borrow(PyTuple_GET_ITEM(outline.ptr(), kOutlineElements));
    nb::object subckt = checked(PySequence_GetItem(subckts.ptr(), index));
    nb::object children = checked(PySequence_GetItem(subckt.ptr(), kSubcktElements));
    struct Terminals {
        PyObject *name;
        std::vector<PyObject *> words, elements;  // borrowed from the records
    };
    std::vector<Terminals> nets;
    nb::dict position;  // net name -> index in `nets`
    for (nb::handle child : children) {
        nb::object element = checked(PyObject_GetItem(elements.ptr(), child.ptr()));
        PyObject *words = PyTuple_GET_ITEM(element.ptr(), kElementNets);
        for (Py_ssize_t t = 0; t < PyTuple_GET_SIZE(words); ++t) {
            PyObject *word = PyTuple_GET_ITEM(words, t);
            PyObject *name = PyTuple_GET_ITEM(word, kWordText);
            nb::object at = dict_get(position, name);
            std::size_t k;
            if (at.is_valid()) {
                k = PyLong_AsSize_t(at.ptr());
            } else {
                k = nets.size();
                set_item(position, name, new_int(static_cast<long long>(k)));
                nets.push_back({name, {}, {}});
            }
            nets[k].words.push_back(word);
            nets[k].elements.push_back(child.ptr());
        }
    }
    nb::object tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(nets.size())));
    for (std::size_t k = 0; k < nets.size(); ++k) {
        nb::object net = record(Type::Net, {nets[k].name, tuple_of(nets[k].words), tuple_of(nets[k].elements)});
        PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(k), net.release().ptr());
    }
    return untracked(std::move(tuple));
}

}  // namespace tessel::outline
