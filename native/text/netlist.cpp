#include "text/netlist.hpp"

#include <cstring>
#include <utility>

namespace tessel::text {

CommandKind command_kind(std::string_view word) {
    if (word == ".subckt") return CommandKind::Subckt;
    if (word == ".ends") return CommandKind::Ends;
    if (word == ".global") return CommandKind::Global;
    return CommandKind::Unsupported;
}

std::size_t Netlist::reserve_for(std::string_view text) {
    std::size_t lines = 1;
    const char *end = text.data() + text.size();
    for (const char *p = text.data(); p != end && (p = static_cast<const char *>(std::memchr(p, '\n', end - p))); ++p)
        ++lines;
    elements.reserve(lines);
    order.reserve(lines);
    comments.reserve(lines);
    children.reserve(lines);
    words.reserve(lines * 4);  // a few nets a line; more only grows the table
    return lines;
}

void Steps::handle_sources(Words &words, Arena &arena) {
    rewrite_sources(words, arena, [this](std::string_view w) { return is_identifier(w); });
}

void Steps::ir_ports(const Words &words, Words &out) {
    for (std::string_view w : words)
        if (!has_equals(w)) out.push_back(w);
}

Span NetlistBuilder::pool(const Words &words) {
    Span span{static_cast<std::uint32_t>(ir_.words.size()), static_cast<std::uint32_t>(words.size())};
    ir_.words.insert(ir_.words.end(), words.begin(), words.end());
    return span;
}

void NetlistBuilder::feed(std::string_view line, Position where) {
    const std::uint32_t id = ++ir_.lines;
    steps_.line_begun(id, where);
    read(id, where, steps_.split_comments(line));
}

void NetlistBuilder::feed_split(const CommentSplit &split, Position where) {
    const std::uint32_t id = ++ir_.lines;
    steps_.line_begun(id, where);
    read(id, where, split);
}

void NetlistBuilder::read(std::uint32_t id, Position where, const CommentSplit &split) {
    if (!split.comment.empty()) ir_.comments.push_back({id, split.comment});
    if (split.statement.empty()) return;
    words_.clear();
    steps_.split_words(split.statement, words_);
    if (words_.empty()) return;
    if (!words_.front().empty() && words_.front().front() == '.')
        command(id, where);
    else
        element(id, where, split.comment);
}

void NetlistBuilder::command(std::uint32_t id, Position where) {
    const std::string_view cmd = words_.front();
    const CommandKind kind = command_kind(cmd);
    if (kind == CommandKind::Subckt) {
        if (words_.size() < 2)
            throw BuildError(BuildError::Kind::SubcktWithoutName,
                             "not enough values to unpack (expected at least 1, got 0)", id, where);
        Subckt subckt{};
        subckt.id = id;
        subckt.where = where;
        subckt.component = words_[1];
        words_.erase(words_.begin(), words_.begin() + 2);
        ports_.clear();
        steps_.ir_ports(words_, ports_);
        subckt.ports = pool(ports_);
        subckt.parent_id = open_.empty() ? 0 : ir_.subckts[open_.back()].id;
        const auto index = static_cast<std::uint32_t>(ir_.subckts.size());
        ir_.subckts.push_back(subckt);
        steps_.subckt_opened(ir_, index, words_);
        open_.push_back(index);
    } else if (kind == CommandKind::Ends) {
        if (open_.empty())
            throw BuildError(BuildError::Kind::EndsBeforeBegin, ".ends before begin.", id, where);
        Subckt &subckt = ir_.subckts[open_.back()];
        open_.pop_back();
        subckt.children = {static_cast<std::uint32_t>(ir_.children.size()),
                           static_cast<std::uint32_t>(pending_.size())};
        ir_.children.insert(ir_.children.end(), pending_.begin(), pending_.end());
        pending_.clear();
        subckt.closed = true;
        subckt.end = where;
        const auto index = static_cast<std::uint32_t>(&subckt - ir_.subckts.data());
        ir_.order.push_back({true, index});
        steps_.subckt_closed(ir_, index);
    } else if (kind == CommandKind::Unsupported) {
        std::string message = "Unsupported command: ";
        message.append(cmd).push_back('.');
        throw BuildError(BuildError::Kind::UnsupportedCommand, std::move(message), id, where);
    }
}

void NetlistBuilder::element(std::uint32_t id, Position where, std::string_view comment) {
    if (open_.empty()) {  // outside any subcircuit: ignored
        steps_.element_ignored(id, where, words_);
        return;
    }
    Element element{};
    element.id = id;
    element.where = where;
    element.name = words_.front();
    element.comment = comment;
    words_.erase(words_.begin());
    steps_.handle_sources(words_, ir_.arena);
    ports_.clear();
    steps_.ir_ports(words_, ports_);
    // R... and C... are resistors and capacitors with nets only; anything
    // else names its component last.
    const char first = element.name.empty() ? '\0' : element.name.front();
    if (first == 'R') {
        element.component = "resistor";
    } else if (first == 'C') {
        element.component = "capacitor";
    } else {
        if (ports_.empty())
            throw BuildError(BuildError::Kind::ElementWithoutComponent, "tuple index out of range",
                             id, where);
        element.component = ports_.back();
        ports_.pop_back();
    }
    element.nets = pool(ports_);
    element.parent = open_.back();
    const auto index = static_cast<std::uint32_t>(ir_.elements.size());
    ir_.elements.push_back(element);
    steps_.element_read(ir_, index, words_);
    pending_.push_back(index);
    ir_.order.push_back({false, index});
}

}  // namespace tessel::text
