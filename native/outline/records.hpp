// The outline's records: named tuples (struct sequences) made here, so that
// an outline of a large netlist costs one small object per word and no
// Python code runs while it is built.
#pragma once

#include <initializer_list>

#include <nanobind/nanobind.h>

namespace tessel::outline {

namespace nb = nanobind;

enum class Type { Word, Setting, Element, Subckt, Net, Command, Refusal, Cut, Quote, Comment, Ignored, Outline };

// The positions of the fields the module reads or sets itself (records.cpp
// lists every field in order).
constexpr Py_ssize_t kWordText = 0, kElementNets = 2, kElementOwner = 5, kSubcktElements = 5, kOutlineSubckts = 0,
                     kOutlineElements = 1;

// Creates the record types and binds them in `m`; once per process.
void def_records(nb::module_ &m);

// A new record of `type` with `fields` in their order.
nb::object record(Type type, std::initializer_list<nb::handle> fields);

// Field `index` of `made`, a record that nothing but its maker holds yet,
// replaced by `value` (a fact known only once the whole text is read).
void set_field(nb::handle made, Py_ssize_t index, nb::handle value);

// `tuple`, which holds only records and atomic values, no longer tracked
// by the collector.
nb::object untracked(nb::object tuple);

}  // namespace tessel::outline
