#include "spiceread/route.hpp"

#include "spiceread/module.hpp"

namespace tessel::spiceread {

void Route::resolve(Name name, Slot &s) {
    // The keys are interned on first use and kept for the process.
    static ModuleName names[] = {
#define TESSEL_NAME_OBJECT(name) {scope(), #name},
        TESSEL_SPICEREAD_NAMES(TESSEL_NAME_OBJECT)
#undef TESSEL_NAME_OBJECT
    };
    const ModuleName &module_name = names[static_cast<std::size_t>(name)];
    s.object = module_name.get();
    s.original = module_name.is_original(s.object);
    s.resolved = true;
}

}  // namespace tessel::spiceread
