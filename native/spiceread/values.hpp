// Value evaluation: the text after the "=" of a setting word to a host
// value, and the `Value` that holds it until a result needs the object.
#pragma once

#include <optional>
#include <string_view>

#include <nanobind/nanobind.h>

#include "spiceread/notes.hpp"
#include "spiceread/route.hpp"
#include "common/str_cache.hpp"
#include "common/unpack.hpp"
#include "text/value.hpp"
#include "text/words.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// A setting value: a number not yet made into a float (most values, and
// the only ones the metre rule may still convert, from their digits as
// written), or a host object.
class Value {
public:
    Value() = default;
    static Value number(text::Number value) { return Value(value, {}, true); }
    static Value object(nb::object value) { return Value({0.0, 0.0}, std::move(value), false); }

    bool is_number() const { return is_number_; }
    const text::Number &as_number() const { return number_; }
    // The host object, made on first use for a number.
    nb::handle get();

private:
    Value(text::Number number, nb::object object, bool is_number)
        : object_(std::move(object)), number_(number), is_number_(is_number) {}

    nb::object object_;
    text::Number number_{0.0, 0.0};
    bool is_number_ = false;
};

// The float object of `value`, shared with the other uses of that value lately.
nb::handle shared_float(double value);
// The float of a length in `metres` in micrometres, from its shortest
// digits moved six places (rounded once); shared likewise.
nb::handle micrometres_of(double metres);

// `_parse_value(value, **kwargs)` on the UTF-8 text of a value, through
// `route` (a replaced `_parse_value` or `_eval` is called with host objects).
// `kwargs` is a dict, only read; a ParseWarning names the statement `where`.
// A `setting`'s number keeps its micrometre form, for the metre rule.  A
// text comes from `strings` when given (a reading's own recurring words).
Value resolve_value(std::string_view value, nb::handle kwargs, Route &route, const Where &where = {},
                    bool setting = false, StrCache *strings = nullptr);

// What the module's own `_parse_value` gives for `value` with no parameters
// when that takes no evaluation (a number, a text, None for ""); nullopt
// for a single-quoted value, whose evaluation may warn.
std::optional<Value> plain_value(std::string_view value);

// The settings of a record's words, in the order written: `add(key, value)`
// for each "key=value" word (`_get_ir_settings` on the C++ road).  A word
// of two or more "=" fails as unpacking it would.
template <typename Add>
void read_settings(const text::Words &words, nb::handle kwargs, Route &route, const Where &where, Add &&add,
                   StrCache *strings = nullptr) {
    for (std::string_view word : words) {
        text::SettingWord setting = text::split_setting(word);
        if (setting.parts == 1) continue;
        if (setting.parts != 2) raise_unpack(2, setting.parts);
        add(setting.key, resolve_value(setting.value, kwargs, route, where, true, strings));
    }
}

}  // namespace tessel::spiceread
