#include "common/warnings.hpp"

#include <string>

namespace tessel {

void warn_caller(nb::handle category, std::string_view message) {
    std::string text(message);
    if (PyErr_WarnEx(category.ptr(), text.c_str(), 1) < 0)
        throw nb::python_error();
}

}  // namespace tessel
