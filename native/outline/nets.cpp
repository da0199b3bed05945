// The nets of a subcircuit as the reader connects them: each net with its
// terminals, made from the outline's records when asked for, so that an
// outline need not hold them all at once.
#include "outline/nets.hpp"

#include <cstdint>
#include <vector>

#include "common/collector.hpp"
#include "common/objects.hpp"
#include "outline/records.hpp"

namespace tessel::outline {

namespace {

// Net names to their position in order of first use.  The names of one
// outline are mostly one str per text, so the first comparison is of
// identity; open addressing on the names' own hashes.
class NetPositions {
public:
    // The position of `name`, which is given the next one when it is new.
    std::uint32_t of(PyObject *name) {
        const Py_hash_t hash = PyObject_Hash(name);
        if (hash == -1) throw nb::python_error();
        if ((names_.size() + 1) * 2 > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t at = static_cast<std::size_t>(hash) & mask;; at = (at + 1) & mask) {
            Slot &slot = slots_[at];
            if (!slot.name) {
                slot = {hash, name, static_cast<std::uint32_t>(names_.size())};
                names_.push_back(name);
                return slot.position;
            }
            if (slot.name == name) return slot.position;
            if (slot.hash == hash) {
                const int equal = PyObject_RichCompareBool(slot.name, name, Py_EQ);
                if (equal < 0) throw nb::python_error();
                if (equal) return slot.position;
            }
        }
    }
    const std::vector<PyObject *> &names() const { return names_; }

private:
    struct Slot {
        Py_hash_t hash = 0;
        PyObject *name = nullptr;  // borrowed from the outline's records
        std::uint32_t position = 0;
    };
    void grow() {
        std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2);
        old.swap(slots_);
        const std::size_t mask = slots_.size() - 1;
        for (const Slot &slot : old) {
            if (!slot.name) continue;
            std::size_t at = static_cast<std::size_t>(slot.hash) & mask;
            while (slots_[at].name) at = (at + 1) & mask;
            slots_[at] = slot;
        }
    }
    std::vector<Slot> slots_;
    std::vector<PyObject *> names_;
};

nb::object tuple_of(PyObject *const *items, std::size_t size) {
    nb::object tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(size)));
    for (std::size_t k = 0; k < size; ++k)
        PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(k), nb::borrow(items[k]).release().ptr());
    return untracked(std::move(tuple));
}

}  // namespace

nb::object subckt_nets(nb::handle outline, Py_ssize_t index) {
    if (!PyTuple_Check(outline.ptr()) || PyTuple_GET_SIZE(outline.ptr()) <= kOutlineElements)
        throw nb::type_error("subckt_nets() needs an Outline");
    nb::object subckts = nb::borrow(PyTuple_GET_ITEM(outline.ptr(), kOutlineSubckts));
    nb::object elements = nb::borrow(PyTuple_GET_ITEM(outline.ptr(), kOutlineElements));
    // Its records count as allocations: a collection they set off would walk
    // every tracked object of the process (a reading's, a server's) for none.
    CollectorPause paused;
    nb::object subckt = checked(PySequence_GetItem(subckts.ptr(), index));
    nb::object children = checked(PySequence_GetItem(subckt.ptr(), kSubcktElements));
    // Every terminal with its net's position, in order; then the terminals
    // gathered by net (a counting sort), so that no net needs lists of its own.
    struct Terminal {
        PyObject *word, *element;  // borrowed from the records
        std::uint32_t net;
    };
    std::vector<Terminal> terminals;
    NetPositions positions;
    std::vector<nb::object> held;  // the elements, while their words are borrowed
    for (nb::handle child : children) {
        nb::object element = checked(PyObject_GetItem(elements.ptr(), child.ptr()));
        PyObject *words = PyTuple_GET_ITEM(element.ptr(), kElementNets);
        for (Py_ssize_t t = 0; t < PyTuple_GET_SIZE(words); ++t) {
            PyObject *word = PyTuple_GET_ITEM(words, t);
            terminals.push_back({word, child.ptr(), positions.of(PyTuple_GET_ITEM(word, kWordText))});
        }
        held.push_back(std::move(element));
    }
    const std::size_t count = positions.names().size();
    std::vector<std::size_t> start(count + 1, 0);
    for (const Terminal &t : terminals) ++start[t.net + 1];
    for (std::size_t k = 0; k < count; ++k) start[k + 1] += start[k];
    std::vector<PyObject *> words(terminals.size()), owners(terminals.size());
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (const Terminal &t : terminals) {
        const std::size_t at = next[t.net]++;
        words[at] = t.word;
        owners[at] = t.element;
    }
    nb::object tuple = checked(PyTuple_New(static_cast<Py_ssize_t>(count)));
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t size = start[k + 1] - start[k];
        nb::object net = record(Type::Net, {positions.names()[k], tuple_of(&words[start[k]], size),
                                            tuple_of(&owners[start[k]], size)});
        PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(k), net.release().ptr());
    }
    return untracked(std::move(tuple));
}

}  // namespace tessel::outline
