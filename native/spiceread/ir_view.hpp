// The IR as netlist assembly reads it.  Assembly is written once, against
// this interface; the IR behind it is either the reading's own C++ IR or a
// dict of Python records (what `_parse_into_ir` returned, or what a caller
// of `_recursive_netlist_from_ir` built), read through their attributes.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

#include "spiceread/settings.hpp"
#include "text/numbering.hpp"
#include "spiceread/ir.hpp"
#include "common/objects.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

struct SubcktView {
    nb::object component;
    nb::object ports;       // its declared ports
    SettingsInput settings;
    std::size_t children = 0;
    text::Position where;   // unknown for a record
    nb::object record;      // the Python record, when there is one
    nb::object child_ids;   // its `children_ids` as a list or tuple (records)
    std::uint32_t index = 0;  // subcircuit index (the reading's own IR)
    ReadySubckt ready;      // what the reading made ready of its netlist, if anything
};

// One child of a subcircuit, refilled for each child.
struct Child {
    nb::object name, component;
    std::vector<std::uint32_t> nets;  // net ids (see IrView)
    SettingsInput settings;
    bool has_comment = false;
    std::string_view comment_utf8;  // the comment, when `comment` is invalid
    nb::object comment;
    text::Position where;
};

// The nets of the subcircuit being assembled are numbered from 0 in the
// order in which they are first named (its declared ports first): assembly
// groups terminals by number, and asks for a net's name only where the
// name goes into the netlist.
class IrView {
public:
    virtual ~IrView() = default;
    // How many subcircuits to assemble, in the IR's order.
    virtual std::size_t subckt_count() = 0;
    // Subcircuit `k`; its nets are numbered afresh.
    virtual void subckt(std::size_t k, SubcktView &out) = 0;
    // The numbers of the declared ports of `subckt`, in order.
    virtual void declared_ports(const SubcktView &subckt, std::vector<std::uint32_t> &out) = 0;
    // Child `k` of `subckt` (a missing record is a KeyError).
    virtual void child(const SubcktView &subckt, std::size_t k, Child &out) = 0;
    // The name of net `id` of the current subcircuit.
    virtual nb::object net_name(std::uint32_t id) = 0;
    // The declared ports of the file's own subcircuit named `component`, or
    // None: what an instance of a subcircuit that the PDK does not know
    // takes for port names.
    nb::object local_ports(nb::handle component);
    // Where the IR's text came from (a record has no position).
    virtual const Source *source() const { return nullptr; }

protected:
    // Enters in `table` the declared ports of each subcircuit by component.
    virtual void declared_port_lists(const nb::dict &table) = 0;

private:
    nb::object local_;
};

// The reading's own IR.
class OwnIrView final : public IrView {
public:
    explicit OwnIrView(Ir &ir);
    std::size_t subckt_count() override { return subckts_.size(); }
    void subckt(std::size_t k, SubcktView &out) override;
    void declared_ports(const SubcktView &subckt, std::vector<std::uint32_t> &out) override;
    void child(const SubcktView &subckt, std::size_t k, Child &out) override;
    nb::object net_name(std::uint32_t id) override { return ir_.str(nets_.text(id)); }
    const Source *source() const override { return &ir_.source; }

private:
    void declared_port_lists(const nb::dict &table) override;
    nb::object ports_of(const text::Subckt &s);
    SettingsInput settings_input(SettingsRef &ref);

    Ir &ir_;
    text::TextIds nets_;
    std::vector<std::uint32_t> subckts_;  // closed subcircuits, in the IR's order
};

// A dict of records and a dict of comments, as Python hands them over.
class RecordIrView final : public IrView {
public:
    // `comments`: a dict, or None.
    RecordIrView(nb::handle ir, nb::handle comments, Route &route)
        : ir_(ir), comments_(comments), route_(route) {}

    // The `Subckt` records of the IR, in its order (picked on first use).
    const std::vector<nb::object> &subckts();

    std::size_t subckt_count() override { return subckts().size(); }
    void subckt(std::size_t k, SubcktView &out) override { describe(subckts()[k], out); }
    void declared_ports(const SubcktView &subckt, std::vector<std::uint32_t> &out) override;
    void child(const SubcktView &subckt, std::size_t k, Child &out) override;
    nb::object net_name(std::uint32_t id) override { return names_[id]; }

    // `record` as the subcircuit to assemble; its nets are numbered afresh.
    void describe(nb::handle record, SubcktView &out);

private:
    void declared_port_lists(const nb::dict &table) override;
    std::uint32_t net_id(nb::handle net);

    nb::dict ids_ = new_dict();      // net -> number
    std::vector<nb::object> names_;  // number -> net
    nb::handle ir_, comments_;
    Route &route_;
    std::vector<nb::object> subckts_;
    bool picked_ = false;
};

}  // namespace tessel::spiceread
