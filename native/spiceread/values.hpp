// Value evaluation: the text after the "=" of a setting word to a host
// value, and the `Value` that holds it until a result needs the object.
#pragma once

#include <string_view>

#include <nanobind/nanobind.h>

#include "spiceread/notes.hpp"
#include "spiceread/route.hpp"
#include "text/value.hpp"

namespace tessel::spiceread {

namespace nb = nanobind;

// A setting value: a number not yet made into a float (most values, and
// the only ones the metre rule may still convert, from their digits as
// written), or a host object.
class Value {
public:
    Value() = default;
    static Value number(text::Number value) {
        Value v;
        v.number_ = value;
        v.is_number_ = true;
        return v;
    }
    static Value object(nb::object value) {
        Value v;
        v.object_ = std::move(value);
        return v;
    }

    bool is_number() const { return is_number_; }
    const text::Number &as_number() const { return number_; }
    // The host object, made on first use for a number.
    nb::handle get();

private:
    nb::object object_;
    text::Number number_{0.0, 0.0};
    bool is_number_ = false;
};

// `_parse_value(value, **kwargs)` on the UTF-8 text of a value, through
// `route` (a replaced `_parse_value` or `_eval` is called with host objects).
// `kwargs` is a dict, only read; a ParseWarning names the statement `where`.
Value resolve_value(std::string_view value, nb::handle kwargs, Route &route, const Where &where = {});

}  // namespace tessel::spiceread
