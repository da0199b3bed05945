#include "spiceread/route.hpp"

#include "spiceread/module.hpp"

namespace tessel::spiceread {

void Route::resolve(Name name, Slot &s) {
    // The keys are interned on first use and kept for the process.
    static ModuleName names[] = {
#define TESSEL_FUNCTION_OBJECT(name, binder, signature) {scope(), #name},
#define TESSEL_BINDING_OBJECT(name) {scope(), #name},
        TESSEL_SPICEREAD_FUNCTIONS(TESSEL_FUNCTION_OBJECT) TESSEL_SPICEREAD_BINDINGS(TESSEL_BINDING_OBJECT)
#undef TESSEL_FUNCTION_OBJECT
#undef TESSEL_BINDING_OBJECT
    };
    const ModuleName &module_name = names[static_cast<std::size_t>(name)];
    s.object = module_name.get();
    s.own = module_name.is_own(s.object);
    s.resolved = true;
}

}  // namespace tessel::spiceread
