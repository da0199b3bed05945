// Line pipeline: the relevant-line stream and its Python-visible stages.
//
// Every stage is a lazy stream object of its own (an iterator type with a
// C-level `__next__`), pulling one item from the stage before it when asked.
// `_iter_relevant_lines` hands out the fused scanner of the text core while
// the five stages and `_chain` are the module's own; once one of them has
// been replaced, it composes whatever the names are bound to, as the
// stage-by-stage definition says.
#include "spiceread/lines.hpp"

#include <utility>
#include <vector>

#include "common/args.hpp"
#include "common/checks.hpp"
#include "common/streams.hpp"
#include "common/objects.hpp"
#include "spiceread/module.hpp"
#include "text/chars.hpp"
#include "text/words.hpp"

namespace tessel::spiceread {

namespace {

// The result of a one-line transformation: `item` itself when nothing
// changed and it is an exact str, else a new str.
nb::object same_or_new(nb::handle item, std::string_view original,
                       std::string_view result) {
    if (result.size() == original.size() && PyUnicode_CheckExact(item.ptr()))
        return nb::borrow(item);
    return str_from_utf8(result);
}

// A stage that maps each line to one line or to nothing.  `Op::apply`
// returns an invalid object to drop the line.
template <typename Op>
class MapStream {
public:
    explicit MapStream(nb::handle lines) : source_(lines) {}

    nb::object next() {
        try {
            while (nb::object item = source_.pull()) {
                require_str_item(item, Op::kName);
                if (nb::object out = op_.apply(item)) return out;
            }
        } catch (...) {
            source_.finish();
            throw;
        }
        return {};
    }

private:
    Upstream source_;
    Op op_;
};

struct StripOp {
    static constexpr const char *kName = "_strip_lines";
    nb::object apply(nb::handle item) {
        Utf8Text text = utf8_of(item);
        return same_or_new(item, text.view, text::strip(text.view));
    }
};

struct StandardizeOp {
    static constexpr const char *kName = "_standardize_spaces";
    std::string buffer;
    nb::object apply(nb::handle item) {
        Utf8Text text = utf8_of(item);
        if (text::is_standard(text.view))
            return same_or_new(item, text.view, text.view);
        buffer.clear();
        text::standardize_spaces(text.view, buffer);
        return str_from_utf8(buffer);
    }
};

struct FilterOp {
    static constexpr const char *kName = "_filter_empty";
    nb::object apply(nb::handle item) {
        if (PyUnicode_GET_LENGTH(item.ptr()) == 0) return {};
        return nb::borrow(item);
    }
};

using StripStream = MapStream<StripOp>;
using StandardizeStream = MapStream<StandardizeOp>;
using FilterStream = MapStream<FilterOp>;

// Folds "+" lines into the line before.  The pending line stays the object
// it arrived as until something is appended to it.
class JoinStream {
public:
    explicit JoinStream(nb::handle lines) : source_(lines) {}

    nb::object next() {
        try {
            return advance();
        } catch (...) {
            source_.finish();
            pending_.reset();
            joined_.clear();
            throw;
        }
    }

private:
    static constexpr const char *kName = "_join_continuations";

    nb::object advance() {
        if (!started_) {
            started_ = true;
            // An empty stream has no first line: it yields nothing.
            pending_ = source_.pull();
            if (!pending_.is_valid()) return {};
            require_str_item(pending_, kName);
        }
        if (!pending_.is_valid()) return {};
        while (nb::object item = source_.pull()) {
            require_str_item(item, kName);
            Utf8Text text = utf8_of(item);
            if (!text.view.empty() && text.view.front() == '+') {
                if (!extended_) {
                    Utf8Text first = utf8_of(pending_);
                    joined_.assign(first.view);
                    extended_ = true;
                }
                joined_.push_back(' ');
                joined_.append(text::strip(text.view.substr(1)));
                continue;
            }
            nb::object out = take_pending();
            pending_ = std::move(item);
            return out;
        }
        return take_pending();
    }

    nb::object take_pending() {
        nb::object out = extended_ ? nb::object(str_from_utf8(joined_))
                                   : std::move(pending_);
        pending_.reset();
        extended_ = false;
        joined_.clear();
        return out;
    }

    Upstream source_;
    nb::object pending_;
    std::string joined_;  // the pending line, once continuations were added
    bool started_ = false;
    bool extended_ = false;
};

class WordStream {
public:
    explicit WordStream(nb::str line)
        : line_(std::move(line)), text_(utf8_of(line_)), splitter_(text_.view) {}

    nb::object next() {
        std::string_view word;
        if (!splitter_.next(word)) return {};
        return str_from_utf8(word);
    }

private:
    nb::str line_;
    Utf8Text text_;
    text::WordSplitter splitter_;
};

// `_chain(*funcs)`: the function list is fixed when `_chain` is called.
class Chain {
public:
    explicit Chain(std::vector<nb::object> funcs) : funcs_(std::move(funcs)) {}

    nb::object call(nb::object x) const {
        for (const nb::object &func : funcs_) x = func(x);
        return x;
    }

private:
    std::vector<nb::object> funcs_;
};

nb::object split_comments(nb::handle line) {
    nb::str str = exact_str(line, "_split_comments", "line");
    Utf8Text text = utf8_of(str);
    text::CommentSplit split = text::split_comments(text.view);
    if (!split.found) return nb::make_tuple(str, nb::str(""));
    return nb::make_tuple(str_from_utf8(split.statement),
                          str_from_utf8(split.comment));
}

nb::object chain(nb::args funcs, nb::kwargs kwargs) {
    if (PyDict_GET_SIZE(kwargs.ptr()) != 0) raise_unexpected_keyword("_chain", kwargs);
    std::vector<nb::object> list;
    list.reserve(funcs.size());
    for (nb::handle func : funcs) list.push_back(nb::borrow(func));
    return nb::cast(Chain(std::move(list)), nb::rv_policy::move);
}

// The composed function takes one argument, `x`, by position or by name.
nb::object call_chain(const Chain &self, nb::args args, nb::kwargs kwargs) {
    // As Python binds `def f(x)`: an unknown keyword first, then the count.
    nb::object unknown = checked(PyDict_Copy(kwargs.ptr()));
    if (checked(PyDict_Contains(unknown.ptr(), nb::str("x").ptr()))) checked(PyDict_DelItemString(unknown.ptr(), "x"));
    if (PyDict_GET_SIZE(unknown.ptr()) != 0) raise_unexpected_keyword("f", unknown);
    BoundArgs bound = bind_args("f", args, kwargs, {"x"});
    if (PyDict_GET_SIZE(bound.kwargs.ptr()) != 0)
        raise_error(PyExc_TypeError, nb::str("f() got multiple values for argument 'x'"));
    return self.call(bound.params[0]);
}

}  // namespace

nb::object RelevantLines::object() const {
    return text.is_valid() ? new_stream<RelevantLineStream>(nb::borrow<nb::str>(as_text(text))) : lines;
}

namespace {

bool own_stages(Route &route) {
    return route.own({Name::_chain, Name::_strip_lines, Name::_join_continuations, Name::_standardize_spaces,
                      Name::_filter_empty});
}

// `_iter_relevant_lines` itself: its stages through `route`.
RelevantLines iter_relevant_lines(nb::handle content, Route &route) {
    nb::str text = exact_str(content, "_iter_relevant_lines", "content");
    if (own_stages(route)) return {std::move(text), {}};
    nb::object lines = checked(PyUnicode_Splitlines(text.ptr(), 0));
    nb::handle strip = route.get(Name::_strip_lines);
    nb::object chained = call_with(route.get(Name::_chain),
                                   {strip, route.get(Name::_join_continuations),
                                    route.get(Name::_standardize_spaces), strip,
                                    route.get(Name::_filter_empty)});
    return {{}, call(chained, lines)};
}

}  // namespace

bool own_lines(Route &route) { return route.own(Name::_iter_relevant_lines) && own_stages(route); }

nb::object as_text(nb::handle content) {
    if (!PyBytes_CheckExact(content.ptr())) return nb::borrow(content);
    return checked(PyUnicode_DecodeASCII(PyBytes_AS_STRING(content.ptr()), PyBytes_GET_SIZE(content.ptr()), "strict"));
}

RelevantLines plain_lines(nb::handle bytes, Route &route) {
    if (own_lines(route)) return {nb::borrow(bytes), {}};
    return relevant_lines(as_text(bytes), route);
}

RelevantLines relevant_lines(nb::handle content, Route &route) {
    if (!route.own(Name::_iter_relevant_lines)) return {{}, call(route.get(Name::_iter_relevant_lines), content)};
    return iter_relevant_lines(content, route);
}

RelevantLineStream *as_relevant_line_stream(nb::handle lines) {
    return nb::isinstance<RelevantLineStream>(lines) ? nb::inst_ptr<RelevantLineStream>(lines) : nullptr;
}

void def_split_comments(nb::module_ &m, const char *name, const char *signature) {
    m.def(name, &split_comments, nb::arg("line"), nb::sig(signature));
}

void def_split_words(nb::module_ &m, const char *name, const char *signature) {
    def_stream_type<WordStream>(m, "_word_stream");
    m.def(name, [](nb::handle line) { return new_stream<WordStream>(exact_str(line, "_split_words", "line")); },
          nb::arg("line"), nb::sig(signature));
}

void def_chain(nb::module_ &m, const char *name, const char *signature) {
    hide_type(m, nb::class_<Chain>(m, "_chained").def("__call__", &call_chain), "_chained");
    m.def(name, &chain, nb::sig(signature));
}

template <typename Stream>
void def_stage(nb::module_ &m, const char *name, const char *signature, const char *type_name) {
    def_stream_type<Stream>(m, type_name);
    m.def(name, [](nb::handle lines) { return new_stream<Stream>(lines); }, nb::arg("lines"), nb::sig(signature));
}

void def_strip_lines(nb::module_ &m, const char *name, const char *signature) {
    def_stage<StripStream>(m, name, signature, "_strip_stream");
}

void def_join_continuations(nb::module_ &m, const char *name, const char *signature) {
    def_stage<JoinStream>(m, name, signature, "_join_stream");
}

void def_standardize_spaces(nb::module_ &m, const char *name, const char *signature) {
    def_stage<StandardizeStream>(m, name, signature, "_standardize_stream");
}

void def_filter_empty(nb::module_ &m, const char *name, const char *signature) {
    def_stage<FilterStream>(m, name, signature, "_filter_stream");
}

void def_iter_relevant_lines(nb::module_ &m, const char *name, const char *signature) {
    def_stream_type<RelevantLineStream>(m, "_relevant_line_stream");
    m.def(name, [](nb::handle content) {
        Route route;
        return iter_relevant_lines(content, route).object();
    }, nb::arg("content"), nb::sig(signature));
}

}  // namespace tessel::spiceread
