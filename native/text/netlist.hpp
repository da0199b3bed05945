// The netlist's intermediate representation in C++, and the builder that
// makes it from relevant lines.
//
// A relevant line is a statement (a command, an element line, or nothing)
// and perhaps a comment; its line id is its 1-based position in the stream.
// The builder knows three commands (".subckt", ".ends", ".global"), element
// lines inside a subcircuit, and the controlled-source keywords.  Subcircuit
// and element records keep the file lines they came from, so that whatever
// goes wrong with one later can say where.
//
// The steps the builder takes on each statement are the virtual members of
// `Steps`: the defaults are the reader's own, and a host may put others in
// their place.  Setting values are not evaluated here: the builder hands
// each record's words to `Steps` at the point where they are evaluated.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text/arena.hpp"
#include "text/relevant_lines.hpp"
#include "text/words.hpp"

namespace tessel::text {

// A range of one of the netlist's pools.
struct Span {
    std::uint32_t begin = 0;
    std::uint32_t size = 0;
};

// Its fields in an order that leaves no padding: a reading writes one per line.
struct Element {
    std::uint32_t id;          // line id
    std::uint32_t parent;      // index of the innermost open subcircuit
    Position where;
    Span nets;                 // in `Netlist::words`: the nets, in terminal order
    std::string_view name;     // the first word
    std::string_view component;  // as written ("resistor"/"capacitor" for R.../C...)
    std::string_view comment;  // the comment of its line; empty when none
};

struct Subckt {
    std::uint32_t id;          // line id of its ".subckt"
    Position where;
    std::string_view component;
    Span ports;                // in `Netlist::words`
    std::uint32_t parent_id;   // line id of the enclosing subcircuit, 0 at top level
    Span children;             // in `Netlist::children`: element indices, once closed
    bool closed = false;
    Position end;              // where its ".ends" stands, once closed
};

struct Comment {
    std::uint32_t id;
    std::string_view text;     // marker included
};

// An entry of the IR in its order: an element when its line is read, a
// subcircuit when its ".ends" is.
struct Record {
    bool is_subckt;
    std::uint32_t index;
};

struct Netlist {
    std::vector<Element> elements;
    std::vector<Subckt> subckts;  // in the order they were opened
    std::vector<Record> order;
    std::vector<Comment> comments;
    std::vector<std::string_view> words;
    std::vector<std::uint32_t> children;
    std::uint32_t lines = 0;      // relevant lines read
    Arena arena;                  // texts made up on the way

    // Room for the netlist of `text` (a record per raw line, at most), so
    // that the tables are not copied as they grow; the number of raw lines.
    std::size_t reserve_for(std::string_view text);

    const std::string_view *words_of(Span s) const { return words.data() + s.begin; }
    const std::uint32_t *children_of(Span s) const { return children.data() + s.begin; }
};

// A statement the builder refuses.  `what()` is the message.
class BuildError : public std::runtime_error {
public:
    enum class Kind {
        EndsBeforeBegin,          // ".ends" with no open subcircuit
        UnsupportedCommand,       // any command but the three
        SubcktWithoutName,        // ".subckt" alone
        ElementWithoutComponent,  // no positional word for the component
    };
    BuildError(Kind kind, std::string message, std::uint32_t id, Position where)
        : std::runtime_error(message), kind(kind), id(id), where(where), message(std::move(message)) {}

    Kind kind;
    std::uint32_t id;
    Position where;
    std::string message;  // the whole message (what() stops at a NUL)
};

// The commands the builder knows, compared exactly (case included).
enum class CommandKind { Subckt, Ends, Global, Unsupported };
CommandKind command_kind(std::string_view word);

class Steps {
public:
    virtual ~Steps() = default;

    virtual CommentSplit split_comments(std::string_view line) { return text::split_comments(line); }
    // The statement's words, empty words dropped, appended to `out`.
    virtual void split_words(std::string_view statement, Words &out) { text::split_words(statement, out); }
    virtual void handle_sources(Words &words, Arena &arena);
    // Whether a word holding non-ASCII characters is an identifier.
    virtual bool is_identifier(std::string_view) { return false; }
    // The words without "=", appended to `out`.
    virtual void ir_ports(const Words &words, Words &out);

    // A subcircuit was opened (`words`: those after its name) or an element
    // read (`words`: those after its name, sources rewritten): evaluate its
    // settings now.
    virtual void subckt_opened(const Netlist &, std::uint32_t, const Words &) {}
    virtual void element_read(const Netlist &, std::uint32_t, const Words &) {}
    // A subcircuit was closed: the elements read since the last close are its children.
    virtual void subckt_closed(const Netlist &, std::uint32_t) {}

    // A relevant line is about to be read: its line id and where it stands.
    virtual void line_begun(std::uint32_t /*id*/, Position /*where*/) {}
    // An element line outside any subcircuit, which the reader ignores
    // (`words`: all of its words, its name first).
    virtual void element_ignored(std::uint32_t /*id*/, Position /*where*/, const Words & /*words*/) {}
};

class NetlistBuilder {
public:
    NetlistBuilder(Netlist &netlist, Steps &steps) : ir_(netlist), steps_(steps) {}

    // One relevant line; `line` must stay valid as long as the netlist (or
    // be stored in its arena).  Throws BuildError for a refused statement.
    void feed(std::string_view line, Position where);
    // One relevant line whose comment the caller has split off already (its
    // parts must stay valid likewise); `Steps::split_comments` is not asked.
    void feed_split(const CommentSplit &split, Position where);

private:
    void read(std::uint32_t id, Position where, const CommentSplit &split);
    void command(std::uint32_t id, Position where);
    void element(std::uint32_t id, Position where, std::string_view comment);
    Span pool(const Words &words);

    Netlist &ir_;
    Steps &steps_;
    std::vector<std::uint32_t> open_;      // indices of open subcircuits, innermost last
    std::vector<std::uint32_t> pending_;   // element indices since the last ".ends"
    Words words_, ports_;
};

}  // namespace tessel::text
