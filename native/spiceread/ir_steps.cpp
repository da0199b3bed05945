// The IR builder's per-line steps and their Python-visible functions:
// `_handle_sources`, `_get_ir_ports`, `_get_ir_settings`, `_get_parent_id`.
#include "spiceread/ir_steps.hpp"

#include <cstring>
#include <utility>

#include "common/checks.hpp"
#include "common/unpack.hpp"
#include "spiceread/ir.hpp"
#include "spiceread/lines.hpp"
#include "spiceread/module.hpp"
#include "spiceread/text/words.hpp"
#include "spiceread/values.hpp"

namespace tessel::spiceread {

namespace {

ModuleName k_parse_value{scope(), "_parse_value"};

std::uint32_t hash_bytes(std::string_view text) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : text) h = (h ^ c) * 16777619u;
    return h ^ (h >> 15);
}

}  // namespace

StrCache::StrCache() : slots_(new Slot[kSlots]) {}

nb::object StrCache::get(std::string_view text) {
    if (text.size() > kMaxSize) return str_from_utf8(text);
    Slot &slot = slots_[hash_bytes(text) & (kSlots - 1)];
    if (slot.str.is_valid() && slot.size == text.size() &&
        std::memcmp(slot.bytes, text.data(), text.size()) == 0)
        return slot.str;
    nb::str str = str_from_utf8(text);
    slot.str = str;
    slot.size = static_cast<std::uint8_t>(text.size());
    std::memcpy(slot.bytes, text.data(), text.size());
    return str;
}

nb::handle word_object(Word &word, StrCache *cache) {
    if (!word.object.is_valid())
        word.object = (cache && !word.surrogates) ? cache->get(word.text)
                                                  : nb::object(str_from_utf8(word.text));
    return word.object;
}

static void append_word(nb::handle item, const char *func, std::vector<Word> &out) {
    require_str_item(item, func);
    Utf8Text text = utf8_of(item);
    out.push_back({text.view, text.surrogates, nb::borrow(item), std::move(text.keep)});
}

void words_of_list(nb::handle list, const char *func, std::vector<Word> &out) {
    exact_list(list, func, "words");
    out.clear();
    const Py_ssize_t size = PyList_GET_SIZE(list.ptr());
    out.reserve(static_cast<std::size_t>(size));
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list.ptr()); ++i)
        append_word(PyList_GET_ITEM(list.ptr(), i), func, out);
}

void words_of_iterable(nb::handle iterable, const char *func, std::vector<Word> &out) {
    out.clear();
    for (nb::handle item : iterable) append_word(item, func, out);
}

nb::list list_of_words(std::vector<Word> &words, StrCache *cache) {
    nb::object list = nb::steal(PyList_New(static_cast<Py_ssize_t>(words.size())));
    if (!list.is_valid()) throw nb::python_error();
    for (std::size_t i = 0; i < words.size(); ++i)
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i),
                        word_object(words[i], cache).inc_ref().ptr());
    return nb::borrow<nb::list>(list);
}

namespace {

bool is_identifier(Word &word, StrCache *cache) {
    switch (text::ascii_identifier(word.text)) {
    case text::Identifier::Yes: return true;
    case text::Identifier::No: return false;
    case text::Identifier::AskUnicode: break;
    }
    int result = PyUnicode_IsIdentifier(word_object(word, cache).ptr());
    if (result < 0) throw nb::python_error();
    return result == 1;
}

Word arena_word(std::deque<std::string> &arena, std::string text, bool surrogates) {
    arena.push_back(std::move(text));
    return {arena.back(), surrogates, {}, {}};
}

}  // namespace

void rewrite_sources(std::vector<Word> &words, std::deque<std::string> &arena, StrCache *cache) {
    auto found = text::find_source_keyword(words, [](const Word &w) { return w.text; });
    if (!found) return;
    const std::size_t at = *found;

    std::vector<Word> ports(std::make_move_iterator(words.begin()),
                            std::make_move_iterator(words.begin() + static_cast<std::ptrdiff_t>(at)));
    Word comp = std::move(words[at]);
    std::vector<Word> control(std::make_move_iterator(words.begin() + static_cast<std::ptrdiff_t>(at) + 1),
                              std::make_move_iterator(words.end()));
    std::size_t j = 0;
    std::vector<Word> leading;  // identifiers, to go in front of the ports in reverse order
    for (Word &w : control) {
        if (text::has_equals(w.text)) continue;
        std::string text(w.text);
        if (is_identifier(w, cache)) {
            leading.push_back(w);
            w = arena_word(arena, text + "=", w.surrogates);
        } else {
            std::string key = j == 0 ? std::string("gain=") : "unknown" + std::to_string(j) + "=";
            w = arena_word(arena, key + text, w.surrogates);
            ++j;
        }
    }
    words.clear();
    for (auto it = leading.rbegin(); it != leading.rend(); ++it) words.push_back(std::move(*it));
    for (Word &w : ports) words.push_back(std::move(w));
    words.push_back(std::move(comp));
    for (Word &w : control) words.push_back(std::move(w));
}

std::size_t count_ports(const std::vector<Word> &words) {
    std::size_t n = 0;
    for (const Word &w : words)
        if (!text::has_equals(w.text)) ++n;
    return n;
}

nb::tuple ports_of(std::vector<Word> &words, StrCache *cache, std::size_t drop_last) {
    const std::size_t n = count_ports(words) - drop_last;
    nb::object tuple = nb::steal(PyTuple_New(static_cast<Py_ssize_t>(n)));
    if (!tuple.is_valid()) throw nb::python_error();
    std::size_t k = 0;
    for (Word &w : words) {
        if (k == n) break;
        if (text::has_equals(w.text)) continue;
        PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(k++),
                         word_object(w, cache).inc_ref().ptr());
    }
    // A tuple of strings cannot be part of a cycle; the collector would stop
    // tracking it at its next pass anyway, after walking it once more.
    PyObject_GC_UnTrack(tuple.ptr());
    return nb::borrow<nb::tuple>(tuple);
}

ValueResolver::ValueResolver()
    : parse_value_(k_parse_value.get()), original_(k_parse_value.is_original(parse_value_)) {}

nb::object ValueResolver::operator()(std::string_view value, bool surrogates,
                                     nb::handle kwargs) const {
    // Text that cannot be strict UTF-8 goes the host's way.
    if (original_ && !surrogates) return parse_value_text(value, kwargs);
    return call_with_kwargs_copy(parse_value_, nb::make_tuple(str_from_utf8(value)), kwargs);
}

nb::dict settings_of(std::vector<Word> &words, nb::handle kwargs,
                     const ValueResolver &resolve, StrCache *cache) {
    nb::dict settings;
    for (Word &w : words) {
        const std::size_t eq = w.text.find('=');
        if (eq == std::string_view::npos) continue;
        const std::size_t rest = w.text.find('=', eq + 1);
        if (rest != std::string_view::npos) {
            std::size_t parts = 2;
            for (std::size_t p = rest; p != std::string_view::npos; p = w.text.find('=', p + 1))
                ++parts;
            raise_unpack(2, parts);
        }
        std::string_view key = w.text.substr(0, eq);
        nb::object key_object = (cache && !w.surrogates) ? cache->get(key)
                                                         : nb::object(str_from_utf8(key));
        nb::object value = resolve(w.text.substr(eq + 1), w.surrogates, kwargs);
        if (PyDict_SetItem(settings.ptr(), key_object.ptr(), value.ptr()) < 0)
            throw nb::python_error();
    }
    return settings;
}

namespace {

nb::object handle_sources(nb::handle words) {
    std::vector<Word> list;
    words_of_iterable(words, "_handle_sources", list);
    std::deque<std::string> arena;
    rewrite_sources(list, arena, nullptr);
    return list_of_words(list, nullptr);
}

nb::object get_parent_id(nb::handle parents) {
    nb::list list = exact_list(parents, "_get_parent_id", "parents");
    const Py_ssize_t size = PyList_GET_SIZE(list.ptr());
    if (size == 0) return nb::int_(0);
    return nb::handle(PyList_GET_ITEM(list.ptr(), size - 1)).attr("id");
}

nb::object get_ir_ports(nb::handle words) {
    std::vector<Word> list;
    words_of_list(words, "_get_ir_ports", list);
    return ports_of(list, nullptr);
}

nb::object get_ir_settings(nb::args args, nb::kwargs kwargs) {
    BoundArgs bound = bind_args("_get_ir_settings", args, kwargs, {"words"});
    std::vector<Word> list;
    words_of_list(bound.params[0], "_get_ir_settings", list);
    return settings_of(list, bound.kwargs, ValueResolver(), nullptr);
}

}  // namespace

void def_handle_sources(nb::module_ &m) {
    m.def("_handle_sources", &handle_sources, nb::arg("words"));
}

void def_get_parent_id(nb::module_ &m) {
    m.def("_get_parent_id", &get_parent_id, nb::arg("parents"));
}

void def_get_ir_ports(nb::module_ &m) {
    m.def("_get_ir_ports", &get_ir_ports, nb::arg("words"));
}

void def_get_ir_settings(nb::module_ &m) {
    m.def("_get_ir_settings", &get_ir_settings);
}

}  // namespace tessel::spiceread
