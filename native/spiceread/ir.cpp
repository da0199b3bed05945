// IR builder: relevant lines to the (ir, comments) pair.
//
// The steps the builder calls by name (`_split_comments`, `_split_words`,
// `_filter_empty`, `_handle_sources`, `_get_ir_ports`, `_get_ir_settings`,
// `_get_parent_id`, `_parse_value`) are looked up once per build: while they
// are the module's own, a line goes through the text core as UTF-8 views and
// only what the IR keeps becomes a host object; a replaced step is called
// with host objects, as the name lookup promises.  Reading from the
// module's own relevant-line stream skips the host strings for lines too.
#include "spiceread/ir.hpp"

#include <deque>
#include <string>
#include <string_view>

#include "common/checks.hpp"
#include "common/objects.hpp"
#include "common/unpack.hpp"
#include "spiceread/ir_steps.hpp"
#include "spiceread/lines.hpp"
#include "spiceread/module.hpp"
#include "spiceread/records.hpp"
#include "spiceread/text/words.hpp"

namespace tessel::spiceread {

nb::object call_with_kwargs_copy(nb::handle fn, nb::handle positional, nb::handle kwargs) {
    nb::object copy = nb::steal(PyDict_Copy(kwargs.ptr()));
    if (!copy.is_valid()) throw nb::python_error();
    PyObject *result = PyObject_Call(fn.ptr(), positional.ptr(), copy.ptr());
    if (!result) throw nb::python_error();
    return nb::steal(result);
}

BoundArgs bind_args(const char *func, nb::args args, nb::kwargs kwargs,
                    std::initializer_list<const char *> names) {
    const std::size_t given = args.size();
    if (given > names.size()) {
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional argument%s but %zu were given",
                     func, names.size(), names.size() == 1 ? "" : "s", given);
        throw nb::python_error();
    }
    BoundArgs bound{{}, nb::borrow<nb::dict>(kwargs)};
    bool copied = false;
    std::vector<const char *> missing;
    std::size_t i = 0;
    for (const char *name : names) {
        if (i < given) {
            bound.params.push_back(args[i]);
        } else if (PyObject *value = PyDict_GetItemString(bound.kwargs.ptr(), name)) {
            nb::object keep = nb::borrow(value);
            if (!copied) {
                bound.kwargs = nb::steal<nb::dict>(PyDict_Copy(bound.kwargs.ptr()));
                copied = true;
            }
            PyDict_DelItemString(bound.kwargs.ptr(), name);
            bound.params.push_back(std::move(keep));
        } else {
            missing.push_back(name);
            bound.params.emplace_back();
        }
        ++i;
    }
    if (!missing.empty()) {
        std::string list;
        for (std::size_t k = 0; k < missing.size(); ++k) {
            if (k > 0) list += (k + 1 == missing.size()) ? (missing.size() > 2 ? ", and " : " and ") : ", ";
            list.push_back('\'');
            list += missing[k];
            list.push_back('\'');
        }
        PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s", func,
                     missing.size(), missing.size() == 1 ? "" : "s", list.c_str());
        throw nb::python_error();
    }
    return bound;
}

namespace {

ModuleName k_split_comments{scope(), "_split_comments"};
ModuleName k_split_words{scope(), "_split_words"};
ModuleName k_filter_empty{scope(), "_filter_empty"};
ModuleName k_handle_sources{scope(), "_handle_sources"};
ModuleName k_get_ir_ports{scope(), "_get_ir_ports"};
ModuleName k_get_ir_settings{scope(), "_get_ir_settings"};
ModuleName k_get_parent_id{scope(), "_get_parent_id"};

struct Step {
    explicit Step(const ModuleName &name) : object(name.get()), original(name.is_original(object)) {}
    nb::object object;
    bool original;
};

nb::object new_int(long value) {
    nb::object result = nb::steal(PyLong_FromLong(value));
    if (!result.is_valid()) throw nb::python_error();
    return result;
}

void set_item(nb::handle dict, nb::handle key, nb::handle value) {
    if (PyDict_SetItem(dict.ptr(), key.ptr(), value.ptr()) < 0) throw nb::python_error();
}

[[noreturn]] void raise_parse_error(nb::handle message) {
    PyErr_SetObject(parse_error_type().ptr(), message.ptr());
    throw nb::python_error();
}

// The words of one statement, as C++ views and/or as a host list.  Once the
// list has been handed to a replaced step, the list is what counts.
class Words {
public:
    std::vector<Word> &views(const char *func) {
        if (stale_) {
            words_of_list(list_, func, views_);
            stale_ = false;
        }
        return views_;
    }
    nb::handle list(StrCache *cache) {
        if (!list_.is_valid()) list_ = list_of_words(views_, cache);
        stale_ = true;
        return list_;
    }
    // Replaces the words by the result of a replaced step.
    void assign(nb::object result) {
        list_ = std::move(result);
        stale_ = true;
    }
    void reset() {
        views_.clear();
        list_.reset();
        stale_ = false;
    }
    std::vector<Word> &raw() { return views_; }

private:
    std::vector<Word> views_;
    nb::object list_;
    bool stale_ = false;
};

// One open subcircuit.
struct Frame {
    nb::object record;
    nb::object id;
    nb::object settings;
    nb::object element_kwargs;  // kwargs overlaid with `settings`, made on first use
};

class Builder {
public:
    Builder(nb::dict component_map, nb::handle kwargs)
        : component_map_(std::move(component_map)), kwargs_(nb::borrow(kwargs)),
          split_comments_(k_split_comments), split_words_(k_split_words),
          filter_empty_(k_filter_empty), handle_sources_(k_handle_sources),
          get_ir_ports_(k_get_ir_ports), get_ir_settings_(k_get_ir_settings),
          get_parent_id_(k_get_parent_id) {
        all_original_ = split_comments_.original && split_words_.original &&
                        filter_empty_.original && handle_sources_.original &&
                        get_ir_ports_.original && get_ir_settings_.original &&
                        get_parent_id_.original;
    }

    // One relevant line, either as a host object or as UTF-8.
    void feed(nb::handle line, std::string_view utf8, bool surrogates) {
        line_id_.reset();
        arena_.clear();
        words_.reset();
        ++count_;
        if (split_comments_.original) {
            Utf8Text text{utf8, surrogates, {}};
            if (line.is_valid()) text = utf8_of(exact_str(line, "_split_comments", "line"));
            text::CommentSplit split = text::split_comments(text.view);
            if (!split.comment.empty())
                set_item(comments_, line_id(), str_from_utf8(split.comment));
            if (split.statement.empty()) return;
            split_statement({}, {split.statement, text.surrogates, {}, text.keep});
        } else {
            nb::object object = line.is_valid() ? nb::borrow(line) : nb::object(str_from_utf8(utf8));
            auto [statement, comment] = unpack_pair(split_comments_.object(object));
            if (truthy(comment)) set_item(comments_, line_id(), comment);
            if (!truthy(statement)) return;
            split_statement(statement, {});
        }
        std::vector<Word> &words = words_.raw();
        if (words.empty()) return;
        if (!words.front().text.empty() && words.front().text.front() == '.')
            command();
        else
            element();
    }

    nb::object finish() { return nb::make_tuple(ir_, comments_); }

private:
    nb::handle line_id() {
        if (!line_id_.is_valid()) line_id_ = new_int(count_);
        return line_id_;
    }

    // Words of the statement, empty words dropped.  `statement` is the host
    // string when there is one; `text` its UTF-8 otherwise.
    void split_statement(nb::handle statement, Word text) {
        std::vector<Word> &words = words_.raw();
        if (split_words_.original && filter_empty_.original) {
            if (statement.is_valid()) {
                Utf8Text utf8 = utf8_of(exact_str(statement, "_split_words", "line"));
                // The words are views into the statement, which goes out of
                // scope before they do.
                nb::object keep = utf8.keep.is_valid() ? std::move(utf8.keep) : nb::borrow(statement);
                text = {utf8.view, utf8.surrogates, {}, std::move(keep)};
            }
            text::WordSplitter splitter(text.text);
            std::string_view word;
            while (splitter.next(word))
                if (!word.empty()) words.push_back({word, text.surrogates, {}, text.keep});
            return;
        }
        nb::object object = statement.is_valid() ? nb::borrow(statement)
                                                 : nb::object(str_from_utf8(text.text));
        nb::object stream = filter_empty_.object(split_words_.object(object));
        nb::object list = nb::steal(PySequence_List(stream.ptr()));
        if (!list.is_valid()) throw nb::python_error();
        words_of_list(list, "_parse_into_ir", words);
    }

    void command() {
        std::vector<Word> &words = words_.raw();
        const std::string_view cmd = words.front().text;
        if (cmd == ".subckt") {
            if (words.size() < 2) {
                PyErr_SetString(PyExc_ValueError,
                                "not enough values to unpack (expected at least 1, got 0)");
                throw nb::python_error();
            }
            nb::object name = nb::borrow(word_object(words[1], &cache_));
            words.erase(words.begin(), words.begin() + 2);
            nb::object component = mapped(name);
            nb::object ports = ports_of_words();
            nb::object settings = settings_of_words(kwargs_);
            nb::object parent_id = parent_id_of_parents();
            nb::object record = new_subckt(line_id(), component, ports, settings, parent_id,
                                           nb::tuple());
            frames_.push_back({record, nb::borrow(line_id()), settings, {}});
            if (parents_.is_valid() && PyList_Append(parents_.ptr(), record.ptr()) < 0)
                throw nb::python_error();
        } else if (cmd == ".ends") {
            if (frames_.empty()) raise_parse_error(nb::str(".ends before begin."));
            Frame frame = std::move(frames_.back());
            frames_.pop_back();
            if (parents_.is_valid() && PySequence_DelItem(parents_.ptr(), -1) < 0)
                throw nb::python_error();
            set_item(ir_, frame.id, frame.record);
            nb::object children = nb::steal(PyTuple_New(static_cast<Py_ssize_t>(children_.size())));
            if (!children.is_valid()) throw nb::python_error();
            for (std::size_t k = 0; k < children_.size(); ++k)
                PyTuple_SET_ITEM(children.ptr(), static_cast<Py_ssize_t>(k), children_[k].release().ptr());
            children_.clear();
            set_children_ids(frame.record, children);
        } else if (cmd != ".global") {
            nb::handle word = word_object(words.front(), nullptr);
            raise_parse_error(nb::steal(PyUnicode_FromFormat("Unsupported command: %U.", word.ptr())));
        }
    }

    void element() {
        if (frames_.empty()) return;
        std::vector<Word> &words = words_.raw();
        Word name_word = std::move(words.front());
        words.erase(words.begin());
        const char first = name_word.text.empty() ? '\0' : name_word.text.front();
        nb::object name = nb::borrow(word_object(name_word, nullptr));

        if (handle_sources_.original) {
            rewrite_sources(words, arena_, &cache_);
        } else {
            words_.assign(handle_sources_.object(words_.list(&cache_)));
        }

        nb::object component, ports;
        const bool positional_component = first != 'R' && first != 'C';
        if (get_ir_ports_.original) {
            std::vector<Word> &views = words_.views("_get_ir_ports");
            if (positional_component) {
                const std::size_t n = count_ports(views);
                if (n == 0) {
                    PyErr_SetString(PyExc_IndexError, "tuple index out of range");
                    throw nb::python_error();
                }
                for (auto it = views.rbegin(); it != views.rend(); ++it)
                    if (!text::has_equals(it->text)) {
                        component = nb::borrow(word_object(*it, &cache_));
                        break;
                    }
                ports = ports_of(views, &cache_, 1);
            } else {
                ports = ports_of(views, &cache_);
            }
        } else {
            ports = get_ir_ports_.object(words_.list(&cache_));
            if (positional_component) {
                component = ports[-1];
                nb::object slice = nb::steal(PySlice_New(nullptr, new_int(-1).ptr(), nullptr));
                ports = nb::steal(PyObject_GetItem(ports.ptr(), slice.ptr()));
                if (!ports.is_valid()) throw nb::python_error();
            }
        }
        if (!positional_component) component = nb::borrow(first == 'R' ? resistor() : capacitor());

        Frame &parent = frames_.back();
        nb::object parent_id = parent.id;
        nb::object kwargs;
        if (get_parent_id_.original && all_original_) {
            if (!parent.element_kwargs.is_valid()) parent.element_kwargs = overlay(parent.settings);
            kwargs = parent.element_kwargs;
        } else {
            // A replaced step may have seen the records: read them afresh.
            kwargs = overlay(parent.record.attr("settings"));
            parent_id = parent.record.attr("id");
        }
        nb::object mapped_component = mapped(component);
        nb::object settings = settings_of_words(kwargs);
        nb::object record = new_conn(line_id(), name, mapped_component, ports, settings, parent_id);
        children_.push_back(nb::borrow(line_id()));
        set_item(ir_, line_id(), record);
    }

    nb::object overlay(nb::handle settings) const {
        nb::object result = nb::steal(PyDict_Copy(kwargs_.ptr()));
        if (!result.is_valid() || PyDict_Update(result.ptr(), settings.ptr()) < 0)
            throw nb::python_error();
        return result;
    }

    nb::object mapped(nb::handle component) {
        if (PyDict_GET_SIZE(component_map_.ptr()) == 0) return nb::borrow(component);
        PyObject *found = PyDict_GetItemWithError(component_map_.ptr(), component.ptr());
        if (found) return nb::borrow(found);
        if (PyErr_Occurred()) throw nb::python_error();
        return nb::borrow(component);
    }

    nb::object ports_of_words() {
        if (get_ir_ports_.original) return ports_of(words_.views("_get_ir_ports"), &cache_);
        return get_ir_ports_.object(words_.list(&cache_));
    }

    nb::object settings_of_words(nb::handle kwargs) {
        if (get_ir_settings_.original)
            return settings_of(words_.views("_get_ir_settings"), kwargs, resolve_, &cache_);
        return call_with_kwargs_copy(get_ir_settings_.object, nb::make_tuple(words_.list(&cache_)),
                                     kwargs);
    }

    nb::object parent_id_of_parents() {
        if (get_parent_id_.original)
            return frames_.empty() ? new_int(0) : frames_.back().id;
        if (!parents_.is_valid()) {
            nb::list parents;
            for (const Frame &frame : frames_) parents.append(frame.record);
            parents_ = std::move(parents);
        }
        return get_parent_id_.object(parents_);
    }

    static nb::handle resistor() {
        static nb::handle text = nb::str("resistor").release();
        return text;
    }
    static nb::handle capacitor() {
        static nb::handle text = nb::str("capacitor").release();
        return text;
    }

    nb::dict component_map_;
    nb::object kwargs_;
    Step split_comments_, split_words_, filter_empty_, handle_sources_, get_ir_ports_,
        get_ir_settings_, get_parent_id_;
    bool all_original_ = false;
    ValueResolver resolve_;
    StrCache cache_;

    nb::dict ir_, comments_;
    std::vector<Frame> frames_;
    nb::object parents_;  // host mirror of `frames_`, made for a replaced `_get_parent_id`
    std::vector<nb::object> children_;

    long count_ = 0;
    nb::object line_id_;
    Words words_;
    std::deque<std::string> arena_;
};

nb::object parse_into_ir_call(nb::args args, nb::kwargs kwargs) {
    BoundArgs bound = bind_args("_parse_into_ir", args, kwargs, {"lines", "component_map"});
    exact_dict(bound.params[1], "_parse_into_ir", "component_map");
    return parse_into_ir(bound.params[0], bound.params[1], bound.kwargs);
}

}  // namespace

namespace {

// Pauses the cyclic garbage collector while the IR is built.  The build
// makes one tracked record per line and no garbage cycles; letting the
// collector run meanwhile means walking the growing IR again and again,
// which costs about a third of the build.
class CollectorPause {
public:
    CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }
    CollectorPause(const CollectorPause &) = delete;
    CollectorPause &operator=(const CollectorPause &) = delete;

private:
    bool was_enabled_;
};

}  // namespace

nb::object parse_into_ir(nb::handle lines, nb::handle component_map, nb::handle kwargs) {
    CollectorPause pause;
    Builder builder(nb::borrow<nb::dict>(component_map), kwargs);
    if (RelevantLineStream *stream = as_relevant_line_stream(lines)) {
        std::string_view line;
        while (stream->next_view(line)) builder.feed({}, line, stream->surrogates());
    } else {
        nb::object iterator = nb::steal(PyObject_GetIter(lines.ptr()));
        if (!iterator.is_valid()) throw nb::python_error();
        while (nb::object line = nb::steal(PyIter_Next(iterator.ptr()))) builder.feed(line, {}, false);
        if (PyErr_Occurred()) throw nb::python_error();
    }
    return builder.finish();
}

void def_parse_into_ir(nb::module_ &m) {
    m.def("_parse_into_ir", &parse_into_ir_call);
}

}  // namespace tessel::spiceread
