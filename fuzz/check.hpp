// What every fuzz target uses to state an invariant: a broken one prints the
// failed condition and aborts, so libFuzzer saves the input as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(condition)                                                  \
    do {                                                                       \
        if (!(condition)) {                                                    \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__,    \
                         __LINE__, #condition);                                \
            std::abort();                                                      \
        }                                                                      \
    } while (false)

inline std::string_view as_text(const unsigned char *data, std::size_t size) {
    return {reinterpret_cast<const char *>(data), size};
}
