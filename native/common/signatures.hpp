// Public functions as `help()` and `inspect.signature()` see them.
//
// A nanobind function has neither `__signature__` nor `__text_signature__`,
// and its type takes no attributes, so `inspect.signature` fails on it.  A
// module therefore publishes each public function, once bound, through
// `publish_signature`: the signature is built from the binding's `nb::sig`
// text, and the docstring is the binding's own, without nanobind's signature
// line (help() prints the signature itself).
#pragma once

#include <nanobind/nanobind.h>

namespace tessel {

namespace nb = nanobind;

// Replaces `m.<name>` by an object that calls the function as it is and
// carries `__signature__` and a plain `__doc__`.  A function wrapper with a
// `__dict__` (a `functools.cache` one) gets both attributes itself; a bare
// nanobind function is wrapped in a `staticmethod`, which Python (3.10 on)
// calls like the function it holds, with no Python frame in between (so
// warnings issued inside keep pointing at the caller's line).
void publish_signature(nb::module_ &m, const char *name);

}  // namespace tessel
