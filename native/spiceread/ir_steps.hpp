// The per-line steps of the IR builder on words of UTF-8 text: controlled
// sources, ports, settings, and the host strings made for them.
//
// Words are views into the line being read (or into host strings that came
// from a replaced step); a host string is made for a word only when the IR
// keeps it, through a small cache so that a net or key that recurs within
// one parse is one shared object.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nanobind/nanobind.h>

namespace tessel::spiceread {

namespace nb = nanobind;

struct Word {
    std::string_view text;
    bool surrogates = false;  // `text` is in surrogatepass form
    nb::object object;        // the host string, once made
    nb::object keep;          // owns the bytes of `text` when it came from a host string
};

// Associative cache of recently made short strings (one slot per hash).
class StrCache {
public:
    StrCache();
    nb::object get(std::string_view text);

private:
    static constexpr std::size_t kSlots = 2048;
    static constexpr std::size_t kMaxSize = 40;
    struct Slot {
        nb::object str;
        std::uint8_t size = 0;
        char bytes[kMaxSize];
    };
    std::unique_ptr<Slot[]> slots_;
};

// The host string of a word, made (through `cache` when given) on first use.
nb::handle word_object(Word &word, StrCache *cache);

// The items of a host list of strings as words; TypeError naming `func` for
// anything but a list of str.
void words_of_list(nb::handle list, const char *func, std::vector<Word> &out);
void words_of_iterable(nb::handle iterable, const char *func, std::vector<Word> &out);
nb::list list_of_words(std::vector<Word> &words, StrCache *cache);

// `_handle_sources` in place; new words are stored in `arena`.
void rewrite_sources(std::vector<Word> &words, std::deque<std::string> &arena, StrCache *cache);

// `_get_ir_ports`: the words without "=".
nb::tuple ports_of(std::vector<Word> &words, StrCache *cache, std::size_t drop_last = 0);
std::size_t count_ports(const std::vector<Word> &words);

// Resolves one setting value; `_parse_value` is looked up once per use.
class ValueResolver {
public:
    ValueResolver();
    nb::object operator()(std::string_view value, bool surrogates, nb::handle kwargs) const;

private:
    nb::object parse_value_;
    bool original_;
};

// `_get_ir_settings`
nb::dict settings_of(std::vector<Word> &words, nb::handle kwargs,
                     const ValueResolver &resolve, StrCache *cache);

}  // namespace tessel::spiceread
